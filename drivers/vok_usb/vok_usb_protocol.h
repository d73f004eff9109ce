/* The protocol between the vok_usb driver and the firmware of the AN2135SC
 * board (JTAG or slave serial). Plain C for the firmware compiler and the
 * host's alike; the firmware's assembler gets these numbers as equates.
 *
 * Every clock cycle on the target is one byte on a bulk pipe: the firmware puts
 * it on the data bus with an FWR strobe (TCK or CCLK). Port C: PC0 drives
 * PROGRAM, PC1 reads TDO or DONE, PC3 senses the target supply. */
#ifndef VOK_USB_PROTOCOL_H
#define VOK_USB_PROTOCOL_H

/* String descriptors 1 and 2, by which the driver recognises the firmware. */
#define VOK_USB_MANUFACTURER 'J', 'T', 'A', 'G'
#define VOK_USB_PRODUCT 'V', '0', '0', '9'

/* The interface's endpoints: all fourteen of the chip, OUT 1-7, EP1 IN
 * (interrupt), IN 2-7, as the firmware's descriptors list them. */
#define VOK_USB_ENDPOINTS FW_EVERY_ENDPOINT

/* Pipes: the position of an endpoint in that list. */
#define VOK_USB_PIPE_COMMAND 0   /* EP1 OUT: commands */
#define VOK_USB_PIPE_CLOCK 1     /* EP2 OUT: clock bytes, no answer */
#define VOK_USB_PIPE_CLOCK_PINS 3 /* EP4 OUT: clock bytes, port C answered after each */
#define VOK_USB_PIPE_ANSWER 8    /* EP2 IN: answers of EP1 and EP4 */

/* A clock byte: the levels on the data bus during its strobe. */
#define VOK_USB_CLOCK_DATA 0x01 /* D0: TDI or DIN */
#define VOK_USB_CLOCK_TMS 0x02  /* D1 */

/* Port C. */
#define VOK_USB_PIN_PROGRAM 0x01  /* PC0, an output */
#define VOK_USB_PIN_TDO_DONE 0x02 /* PC1 */
#define VOK_USB_PIN_POWER 0x08    /* PC3 */

/* Commands on EP1 OUT, one or more to a packet: the high four bits of the
 * first byte select the command, parameter bytes follow. The answers of one
 * packet go back together as one packet on EP2 IN. */
#define VOK_USB_COMMAND(code, low) (((code) << 4) | (low))
#define VOK_USB_CMD_PORT_ENABLE 0x0 /* [OEC]: port C output enables */
#define VOK_USB_CMD_PORT_WRITE 0x1  /* [OUTC]: port C outputs */
#define VOK_USB_CMD_PORT_READ 0x2   /* answers the port C pins */
#define VOK_USB_CMD_XDATA_WRITE 0x3 /* [address low, high, value] */
#define VOK_USB_CMD_XDATA_READ 0x4  /* [address low, high]: answers the value */
/* [count bits 0-5, 6-13, 14-21]: that many zero bytes on EP2 IN, after the
 * packet's answers. */
#define VOK_USB_CMD_ZEROS 0x5
/* low bits: MOVX stretch (0 or 1); [FASTXFR]: fast-transfer mode. */
#define VOK_USB_CMD_BUS_TIMING 0xF

#endif
