/* Registers of the EZ-USB AN2131 family (8 KB parts, CPUCS at 0x7F92) for SDCC.
 * SFRs of the 8051 core first, then the memory-mapped USB and port registers. */
#ifndef AN2131_H
#define AN2131_H

/* ---- SFRs: the standard 8051 set ---- */
__sfr __at(0x81) SP;
__sfr __at(0x82) DPL;
__sfr __at(0x83) DPH;
__sfr __at(0x84) DPL1;
__sfr __at(0x85) DPH1;
__sfr __at(0x86) DPS; /* bit 0 selects the data pointer */
__sfr __at(0x87) PCON;
__sfr __at(0x88) TCON;
__sfr __at(0x89) TMOD;
__sfr __at(0x8A) TL0;
__sfr __at(0x8B) TL1;
__sfr __at(0x8C) TH0;
__sfr __at(0x8D) TH1;
__sfr __at(0x8E) CKCON; /* bits 2..0: MOVX stretch cycles; resets to 1 */
__sfr __at(0x8F) SPC_FNC;
__sfr __at(0x91) EXIF; /* bit 4: USB interrupt (INT2) flag */
__sfr __at(0x92) MPAGE; /* high address byte of MOVX @Ri */
__sfr __at(0x98) SCON0;
__sfr __at(0x99) SBUF0;
__sfr __at(0xA8) IE;
__sfr __at(0xB8) IP;
__sfr __at(0xC0) SCON1;
__sfr __at(0xC1) SBUF1;
__sfr __at(0xC8) T2CON;
__sfr __at(0xD0) PSW;
__sfr __at(0xD8) EICON;
__sfr __at(0xE0) ACC;
__sfr __at(0xE8) EIE; /* bit 0: USB interrupt enable */
__sfr __at(0xF0) B;
__sfr __at(0xF8) EIP;

__sbit __at(0xAF) EA;
__sbit __at(0xE8) EUSB;

#define EXIF_USBINT 0x10
#define CKCON_STRETCH_MASK 0x07

/* ---- Endpoint buffers: INnBUF = 0x7F00 - 0x80 n, OUTnBUF = INnBUF - 0x40 ---- */
#define EP_BUF_SIZE 64
volatile __xdata __at(0x7F00) unsigned char IN0BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7EC0) unsigned char OUT0BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7E80) unsigned char IN1BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7E40) unsigned char OUT1BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7E00) unsigned char IN2BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7DC0) unsigned char OUT2BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7D80) unsigned char IN3BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7D40) unsigned char OUT3BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7D00) unsigned char IN4BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7CC0) unsigned char OUT4BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7C80) unsigned char IN5BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7C40) unsigned char OUT5BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7C00) unsigned char IN6BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7BC0) unsigned char OUT6BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7B80) unsigned char IN7BUF[EP_BUF_SIZE];
volatile __xdata __at(0x7B40) unsigned char OUT7BUF[EP_BUF_SIZE];

/* ---- CPU, ports, ISO control, I2C ---- */
volatile __xdata __at(0x7F92) unsigned char CPUCS;
volatile __xdata __at(0x7F93) unsigned char PORTACFG;
volatile __xdata __at(0x7F94) unsigned char PORTBCFG;
volatile __xdata __at(0x7F95) unsigned char PORTCCFG;
volatile __xdata __at(0x7F96) unsigned char OUTA;
volatile __xdata __at(0x7F97) unsigned char OUTB;
volatile __xdata __at(0x7F98) unsigned char OUTC;
volatile __xdata __at(0x7F99) unsigned char PINSA;
volatile __xdata __at(0x7F9A) unsigned char PINSB;
volatile __xdata __at(0x7F9B) unsigned char PINSC;
volatile __xdata __at(0x7F9C) unsigned char OEA;
volatile __xdata __at(0x7F9D) unsigned char OEB;
volatile __xdata __at(0x7F9E) unsigned char OEC;
volatile __xdata __at(0x7FA1) unsigned char ISOCTL;
volatile __xdata __at(0x7FA5) unsigned char I2CS;
volatile __xdata __at(0x7FA6) unsigned char I2DAT;

#define CPUCS_8051RES 0x01
#define CPUCS_CLK24OE 0x02
#define PORTACFG_FWR 0x10 /* PA4 becomes the fast-transfer write strobe */
#define PORTACFG_FRD 0x20 /* PA5 becomes the fast-transfer read strobe */
#define ISOCTL_ISODISAB 0x01

/* ---- USB interrupts (request bits are cleared by writing 1) ---- */
volatile __xdata __at(0x7FA8) unsigned char IVEC;
volatile __xdata __at(0x7FA9) unsigned char IN07IRQ;
volatile __xdata __at(0x7FAA) unsigned char OUT07IRQ;
volatile __xdata __at(0x7FAB) unsigned char USBIRQ;
volatile __xdata __at(0x7FAC) unsigned char IN07IEN;
volatile __xdata __at(0x7FAD) unsigned char OUT07IEN;
volatile __xdata __at(0x7FAE) unsigned char USBIEN;
volatile __xdata __at(0x7FAF) unsigned char USBBAV;

#define USBIRQ_SUDAV 0x01
#define USBIRQ_SOF 0x02
#define USBIRQ_SUTOK 0x04
#define USBIRQ_SUSP 0x08
#define USBIRQ_URES 0x10
#define USBBAV_AVEN 0x01

/* ---- Endpoint control/status and byte counts ---- */
volatile __xdata __at(0x7FB4) unsigned char EP0CS;
volatile __xdata __at(0x7FB5) unsigned char IN0BC;
volatile __xdata __at(0x7FB6) unsigned char IN1CS;
volatile __xdata __at(0x7FB7) unsigned char IN1BC;
volatile __xdata __at(0x7FB8) unsigned char IN2CS;
volatile __xdata __at(0x7FB9) unsigned char IN2BC;
volatile __xdata __at(0x7FBA) unsigned char IN3CS;
volatile __xdata __at(0x7FBB) unsigned char IN3BC;
volatile __xdata __at(0x7FBC) unsigned char IN4CS;
volatile __xdata __at(0x7FBD) unsigned char IN4BC;
volatile __xdata __at(0x7FBE) unsigned char IN5CS;
volatile __xdata __at(0x7FBF) unsigned char IN5BC;
volatile __xdata __at(0x7FC0) unsigned char IN6CS;
volatile __xdata __at(0x7FC1) unsigned char IN6BC;
volatile __xdata __at(0x7FC2) unsigned char IN7CS;
volatile __xdata __at(0x7FC3) unsigned char IN7BC;
volatile __xdata __at(0x7FC5) unsigned char OUT0BC;
volatile __xdata __at(0x7FC6) unsigned char OUT1CS;
volatile __xdata __at(0x7FC7) unsigned char OUT1BC;
volatile __xdata __at(0x7FC8) unsigned char OUT2CS;
volatile __xdata __at(0x7FC9) unsigned char OUT2BC;
volatile __xdata __at(0x7FCA) unsigned char OUT3CS;
volatile __xdata __at(0x7FCB) unsigned char OUT3BC;
volatile __xdata __at(0x7FCC) unsigned char OUT4CS;
volatile __xdata __at(0x7FCD) unsigned char OUT4BC;
volatile __xdata __at(0x7FCE) unsigned char OUT5CS;
volatile __xdata __at(0x7FCF) unsigned char OUT5BC;
volatile __xdata __at(0x7FD0) unsigned char OUT6CS;
volatile __xdata __at(0x7FD1) unsigned char OUT6BC;
volatile __xdata __at(0x7FD2) unsigned char OUT7CS;
volatile __xdata __at(0x7FD3) unsigned char OUT7BC;

/* Control/status and byte count of endpoint n, direction IN or OUT. */
#define EP_IN_CS_ADDR(n) (0x7FB4 + 2 * (n))
#define EP_OUT_CS_ADDR(n) (0x7FC4 + 2 * (n))

#define EP0CS_STALL 0x01
#define EP0CS_HSNAK 0x02 /* cleared by writing 1: ends the status stage */
#define EP0CS_IN0BSY 0x04
#define EP0CS_OUT0BSY 0x08
#define EPCS_STALL 0x01
#define EPCS_BUSY 0x02

/* ---- Global USB registers ---- */
volatile __xdata __at(0x7FD4) unsigned char SUDPTRH;
volatile __xdata __at(0x7FD5) unsigned char SUDPTRL; /* writing it starts the send */
volatile __xdata __at(0x7FD6) unsigned char USBCS;
volatile __xdata __at(0x7FD7) unsigned char TOGCTL;
volatile __xdata __at(0x7FD8) unsigned char USBFRAMEL;
volatile __xdata __at(0x7FD9) unsigned char USBFRAMEH;
volatile __xdata __at(0x7FDB) unsigned char FNADDR;
volatile __xdata __at(0x7FDD) unsigned char USBPAIR;
volatile __xdata __at(0x7FDE) unsigned char IN07VAL;
volatile __xdata __at(0x7FDF) unsigned char OUT07VAL;
volatile __xdata __at(0x7FE2) unsigned char FASTXFR;
volatile __xdata __at(0x7FE3) unsigned char AUTOPTRH;
volatile __xdata __at(0x7FE4) unsigned char AUTOPTRL;
volatile __xdata __at(0x7FE5) unsigned char AUTODATA;
volatile __xdata __at(0x7FE8) unsigned char SETUPDAT[8];

#define USBCS_SIGRSUME 0x01
#define USBCS_RENUM 0x02
#define USBCS_DISCOE 0x04
#define USBCS_DISCON 0x08
#define USBCS_WAKESRC 0x80

#define TOGCTL_IO 0x10 /* endpoint direction IN */
#define TOGCTL_R 0x20  /* reset the data toggle */
#define TOGCTL_S 0x40

#define FASTXFR_FBLK 0x40 /* AUTODATA accesses strobe the external bus */

#endif
