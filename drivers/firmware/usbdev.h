/* What every firmware image shares: the USB start-up with renumeration,
 * endpoint-0 request handling, the USB interrupt routine and the loop over a
 * command packet. The board's own
 * files supply the descriptors (from its table, see usb_descriptors.h) and the
 * bus-reset hook declared here. */
#ifndef USBDEV_H
#define USBDEV_H

#include "an2131.h"

/* ---- Supplied by the board ---- */
/* Standard descriptors as the host reads them; the configuration descriptor is
 * followed by its interface and endpoint descriptors (wTotalLength bytes).
 * Each one starts at an even address (some chips of the family take the
 * descriptor pointer as a word address): a board places them with
 * FW_DESCRIPTOR(offset) at offsets that FW_NEXT keeps even. The linker lays
 * the code around this fixed block. */

#define FW_DESCRIPTOR_BLOCK 0x0F00
#define FW_DESCRIPTOR(offset) __code __at(FW_DESCRIPTOR_BLOCK + (offset))
/* The even offset after a descriptor of `length` bytes at `offset`. */
#define FW_NEXT(offset, length) (((offset) + (length) + 1) & ~1)
/* The device descriptor opens the block; the configuration follows it. */
#define FW_AT_DEVICE 0
#define FW_AT_CONFIG FW_NEXT(FW_AT_DEVICE, 18)
extern FW_DESCRIPTOR(FW_AT_DEVICE) const unsigned char fw_device_descriptor[];
extern FW_DESCRIPTOR(FW_AT_CONFIG) const unsigned char fw_config_descriptor[];
/* String descriptors 0 (language list) to fw_string_count - 1. */
extern __code const unsigned char *__code const fw_strings[];
extern __code const unsigned char fw_string_count;

/* Called from the USB interrupt after a bus reset: arm the OUT endpoints again. */
void fw_bus_reset(void);

/* A board that takes command packets on EP1 OUT (see fw_command_packet): the
 * number of parameter bytes that follow a command byte, and the command
 * itself, its parameters at p. */
unsigned char fw_parameter_bytes(unsigned char command);
void fw_command(unsigned char command, __xdata unsigned char *p);

/* ---- Provided here ---- */
/* Answers the SETUP packet in SETUPDAT: the standard requests of a device
 * with one configuration and one interface; everything else is stalled. */
void usb_setup(void);
/* Current configuration value (0 = not configured). */
extern volatile __data unsigned char usb_configuration;

/* The USB interrupt (INT2 at 0x0043, no autovectoring): SETUP packets and bus
 * resets. Its prototype must be visible in the file that holds main. */
void usb_isr(void) __interrupt(8);

/* Called by the board's main once its ports are set up: endpoint pairing
 * (USBPAIR) and the valid IN and OUT endpoints (IN07VAL, OUT07VAL), endpoint
 * interrupts off, the OUT endpoints armed (fw_bus_reset), then renumeration
 * and the USB interrupt on. The board then polls its endpoints. */
void usb_start(unsigned char pairs, unsigned char valid);

/* Carries out the command packet waiting on EP1 OUT, command by command; a
 * command cut off by the end of the packet is dropped. The packet is then
 * released and the replies its commands gave (fw_reply) go back as one packet
 * on EP2 IN. */
void fw_command_packet(void);
/* Adds a byte to the replies of the packet being carried out; past 64 bytes
 * it is dropped. */
void fw_reply(unsigned char value);
/* Waits until the host has taken the previous packet from EP2 IN. */
void fw_wait_in2_free(void);

/* Busy wait of ms milliseconds at 24 MHz (6000 machine cycles each), whatever
 * the MOVX stretch. */
void delay_ms(unsigned int ms);

/* Disconnected time of the renumeration. */
#define RENUM_DISCONNECT_MS 500

#endif
