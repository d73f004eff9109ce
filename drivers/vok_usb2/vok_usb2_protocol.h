/* The protocol between the vok_usb2 driver and the firmware of the SPI board:
 * JTAG through the EZ-USB's serial port 0. Plain C for the firmware compiler
 * and the host's alike; the firmware's assembler gets these numbers as
 * equates.
 *
 * EP2 OUT and EP4 OUT bytes go through the serial port, eight TCK cycles each
 * with TMS held, bit 0 first (EP4's TDO bytes answered on EP2 IN, first bit in
 * bit 0); EP6 OUT bytes set the pins, one clock cycle each, and are answered
 * with port C. */
#ifndef VOK_USB2_PROTOCOL_H
#define VOK_USB2_PROTOCOL_H

/* String descriptors 1 and 2, by which the driver recognises the firmware. */
#define VOK_USB2_MANUFACTURER 'U', 'S', 'B', '_', 'S', 'P', 'I'
#define VOK_USB2_PRODUCT 'V', '0', '1', '0'

/* The interface's endpoints, in the order of its descriptor. */
#define VOK_USB2_ENDPOINTS(BULK, INTERRUPT)                                   \
    BULK(0x01) BULK(0x02) BULK(0x04) BULK(0x06) INTERRUPT(0x81, 1)           \
    BULK(0x82) BULK(0x84) BULK(0x86)

/* Pipes: the position of an endpoint in that list. */
#define VOK_USB2_PIPE_SERIAL 1     /* EP2 OUT: serial bytes, TDO dropped */
#define VOK_USB2_PIPE_SERIAL_TDO 2 /* EP4 OUT: serial bytes, TDO answered */
#define VOK_USB2_PIPE_BITS 3       /* EP6 OUT: bit-cycle bytes and level messages */
#define VOK_USB2_PIPE_ANSWER 5     /* EP2 IN */

/* The pins. A bit-cycle byte holds their levels: with TCK clear the byte is
 * one clock cycle (TCK low, then high), with TCK set it only sets levels. Its
 * answer is port C after the rising edge. */
#define VOK_USB2_PIN_TDO 0x01   /* PC0 = RxD0 */
#define VOK_USB2_PIN_TCK 0x02   /* PC1 = TxD0 */
#define VOK_USB2_PIN_TMS 0x04   /* PC2 */
#define VOK_USB2_PIN_POWER 0x08 /* PC3: target supply */
#define VOK_USB2_PIN_TDI 0x20   /* PA5 */
#define VOK_USB2_LEVEL_TMS_HIGH (VOK_USB2_PIN_TMS | VOK_USB2_PIN_TCK)
#define VOK_USB2_LEVEL_TMS_LOW VOK_USB2_PIN_TCK

#endif
