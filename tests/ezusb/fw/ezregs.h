/* The few EZ-USB registers that the test programs use. */
#ifndef EZREGS_H
#define EZREGS_H

#define XREG(name, addr) volatile __xdata __at(addr) unsigned char name

XREG(PORTACFG, 0x7F93);
XREG(OUTC, 0x7F98);
XREG(OEC, 0x7F9E);
XREG(IN07IRQ, 0x7FA9);
XREG(OUT07IRQ, 0x7FAA);
XREG(USBIRQ, 0x7FAB);
XREG(USBIEN, 0x7FAE);
XREG(USBBAV, 0x7FAF);
XREG(EP0CS, 0x7FB4);
XREG(IN0BC, 0x7FB5);
XREG(IN2CS, 0x7FB8);
XREG(IN2BC, 0x7FB9);
XREG(OUT2CS, 0x7FC8);
XREG(OUT2BC, 0x7FC9);
XREG(OUT4CS, 0x7FCC);
XREG(OUT4BC, 0x7FCD);
XREG(SUDPTRH, 0x7FD4);
XREG(SUDPTRL, 0x7FD5);
XREG(USBCS, 0x7FD6);
XREG(IN07VAL, 0x7FDE);
XREG(OUT07VAL, 0x7FDF);
XREG(FASTXFR, 0x7FE2);
XREG(AUTOPTRH, 0x7FE3);
XREG(AUTOPTRL, 0x7FE4);
XREG(AUTODATA, 0x7FE5);
volatile __xdata __at(0x7F00) unsigned char IN0BUF[64];
volatile __xdata __at(0x7E00) unsigned char IN2BUF[64];
volatile __xdata __at(0x7DC0) unsigned char OUT2BUF[64];
volatile __xdata __at(0x7FE8) unsigned char SETUPDAT[8];

__sfr __at(0x91) EXIF;
__sfr __at(0x8E) CKCON;
__sbit __at(0xAF) EA;
__sbit __at(0xE8) EUSB;

#define BSY 0x02
#define HSNAK 0x02
#define EP0STALL 0x01
#define SUDAV 0x01
#define URES 0x10
#define RENUM 0x02
#define DISCOE 0x04
#define DISCON 0x08

#endif
