/* USB identity of the general-purpose firmware: a vendor-class interface with
 * every bulk endpoint of the chip, EP2 and EP3 paired, and the two strings that
 * the host compares to recognise the firmware. */
#include "usbdev.h"

#define EP_OUT(n) 7, 5, (n), 0x02, 64, 0, 0
#define EP_IN_BULK(n) 7, 5, 0x80 | (n), 0x02, 64, 0, 0

#define CONFIG_TOTAL (9 + 9 + 14 * 7)
/* Offsets of the strings in the descriptor block. */
#define AT_LANGUAGES FW_NEXT(FW_AT_CONFIG, CONFIG_TOTAL)
#define AT_MANUFACTURER FW_NEXT(AT_LANGUAGES, 4)
#define AT_PRODUCT FW_NEXT(AT_MANUFACTURER, 10)

FW_DESCRIPTOR(FW_AT_DEVICE) const unsigned char fw_device_descriptor[] = {
    18, 1,      /* bLength, DEVICE */
    0x00, 0x01, /* USB 1.00 */
    0, 0, 0,    /* class, subclass, protocol: per interface */
    64,         /* endpoint 0 packet size */
    0x47, 0x05, /* vendor 0x0547 */
    0x31, 0x21, /* product 0x2131 */
    0x01, 0x00, /* release 0x0001 */
    1, 2, 0,    /* manufacturer, product, no serial number */
    1,          /* configurations */
};


FW_DESCRIPTOR(FW_AT_CONFIG) const unsigned char fw_config_descriptor[] = {
    9, 2, CONFIG_TOTAL & 0xFF, CONFIG_TOTAL >> 8,
    1,    /* interfaces */
    1,    /* configuration value */
    0,    /* no string */
    0xA0, /* bus powered, remote wake-up */
    0xFA, /* 500 mA */
    9, 4, 0, 0,
    14,   /* endpoints */
    0xFF, 0x00, 0x00, 0,
    EP_OUT(1), EP_OUT(2), EP_OUT(3), EP_OUT(4), EP_OUT(5), EP_OUT(6), EP_OUT(7),
    7, 5, 0x81, 0x03, 64, 0, 1, /* EP1 IN: interrupt, every frame */
    EP_IN_BULK(2), EP_IN_BULK(3), EP_IN_BULK(4), EP_IN_BULK(5), EP_IN_BULK(6), EP_IN_BULK(7),
};

static FW_DESCRIPTOR(AT_LANGUAGES) const unsigned char languages[] = {4, 3, 0x09, 0x04};
static FW_DESCRIPTOR(AT_MANUFACTURER) const unsigned char manufacturer[] = {10, 3, 'G', 0, 'P', 0, 'F', 0, 'W', 0};
static FW_DESCRIPTOR(AT_PRODUCT) const unsigned char product[] = {10, 3, 'V', 0, '1', 0, '1', 0, 'P', 0};

__code const unsigned char *__code const fw_strings[] = {languages, manufacturer, product};
__code const unsigned char fw_string_count = 3;
