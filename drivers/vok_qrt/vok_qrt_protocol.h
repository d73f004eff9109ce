/* The protocol between the vok_qrt driver and the general-purpose firmware of
 * the USB-QRT board. Plain C for the firmware compiler and the host's alike;
 * the firmware's assembler gets these numbers as equates.
 *
 * The JTAG signals are on port C. EP1 OUT carries commands, EP2 OUT the port
 * values of a block shift (one TCK cycle each), EP2 IN the replies to port
 * reads. */
#ifndef VOK_QRT_PROTOCOL_H
#define VOK_QRT_PROTOCOL_H

/* String descriptors 1 and 2, by which the driver recognises the firmware. */
#define VOK_QRT_MANUFACTURER 'G', 'P', 'F', 'W'
#define VOK_QRT_PRODUCT 'V', '1', '1', 'P'

/* The interface's endpoints: all fourteen of the chip, OUT 1-7, EP1 IN
 * (interrupt), IN 2-7, as the firmware's descriptors list them; EP3 is listed
 * although it serves as EP2's second buffer. */
#define VOK_QRT_ENDPOINTS FW_EVERY_ENDPOINT

/* Pipes: the position of an endpoint in that list. */
#define VOK_QRT_PIPE_COMMAND 0 /* EP1 OUT */
#define VOK_QRT_PIPE_SHIFT 1   /* EP2 OUT: block-shift port values */
#define VOK_QRT_PIPE_REPLY 8   /* EP2 IN */

/* Port C. */
#define VOK_QRT_PORT_TDO 0x01   /* PC0 */
#define VOK_QRT_PORT_TDI 0x02   /* PC1 */
#define VOK_QRT_PORT_POWER 0x04 /* PC2: target supply */
#define VOK_QRT_PORT_LOW 0x08   /* PC3: an output held low */
#define VOK_QRT_PORT_TMS 0x10   /* PC4 */
#define VOK_QRT_PORT_TCK 0x20   /* PC5 */

/* Commands on EP1 OUT, one or more to a packet: the high four bits of a
 * command byte select the command, its low four bits are a port value where
 * one is named, parameter bytes follow. The replies of one packet go back
 * together as one packet on EP2 IN. */
#define VOK_QRT_COMMAND(code, low) (((code) << 4) | (low))
#define VOK_QRT_CMD_ENABLE_LOW 0x0     /* OEC = low */
#define VOK_QRT_CMD_PORT_LOW 0x1       /* OUTC = low */
#define VOK_QRT_CMD_READ_PINS 0x2      /* replies port C */
#define VOK_QRT_CMD_PORT_LOW_SKIP 0x3  /* OUTC = low; [ignored] */
#define VOK_QRT_CMD_PORT_LOW_ZERO 0x4  /* OUTC = low; replies 0 */
#define VOK_QRT_CMD_PORT_LOW_BLOCK 0x5 /* OUTC = low, then a block shift [count] */
#define VOK_QRT_CMD_PORT_LOW_COUNTED 0x6 /* OUTC = low; [count] packets on EP2 IN */
#define VOK_QRT_CMD_SETUP_PORTS 0x8    /* [OEC]: TCK high, port B inputs */
#define VOK_QRT_CMD_SET_PORT 0x9       /* [OUTC], TCK forced high */
#define VOK_QRT_CMD_READ_PORT 0xA      /* replies port C */
#define VOK_QRT_CMD_CLOCK 0xB          /* [port value]: one TCK cycle */
#define VOK_QRT_CMD_BLOCK 0xC          /* [count]: a block shift */
/* low bits: MOVX stretch when not 0; [FASTXFR]: fast-transfer mode. */
#define VOK_QRT_CMD_TIMING 0xF
/* A [count] of TCK cycles or bytes: bits 0-5 (the short packet that ends it),
 * then the number of full 64-byte packets, low byte first. */
#define VOK_QRT_COUNT_SHORT_MASK 0x3F

#endif
