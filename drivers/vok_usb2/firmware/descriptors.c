/* What the board tells the host once our firmware runs: a vendor-specific
 * interface with eight endpoints (the pipe index is the position in this
 * list), and the two strings by which the driver recognises this firmware. */
#include "usbdev.h"

#define LO(w) ((w) & 0xFF)
#define HI(w) ((w) >> 8)

#define ENDPOINT(address, type, interval) 7, 5, (address), (type), 64, 0, (interval)
#define BULK 2
#define INTERRUPT 3

#define CONFIG_TOTAL (9 + 9 + 8 * 7)
/* Offsets of the strings in the descriptor block. */
#define AT_LANGUAGES FW_NEXT(FW_AT_CONFIG, CONFIG_TOTAL)
#define AT_MANUFACTURER FW_NEXT(AT_LANGUAGES, 4)
#define AT_PRODUCT FW_NEXT(AT_MANUFACTURER, 16)

FW_DESCRIPTOR(FW_AT_DEVICE) const unsigned char fw_device_descriptor[] = {
    18, 1,              /* length, DEVICE */
    0x00, 0x01,         /* USB 1.00 */
    0, 0, 0,            /* class in the interface */
    64,                 /* endpoint 0 packet size */
    LO(0x0547), HI(0x0547),
    LO(0x2131), HI(0x2131),
    LO(0x0001), HI(0x0001),
    1, 2, 0,            /* manufacturer, product, no serial number */
    1,                  /* configurations */
};


FW_DESCRIPTOR(FW_AT_CONFIG) const unsigned char fw_config_descriptor[] = {
    9, 2, LO(CONFIG_TOTAL), HI(CONFIG_TOTAL),
    1,                  /* interfaces */
    1,                  /* configuration value */
    0,                  /* no string */
    0xA0,               /* bus powered, remote wake-up */
    250,                /* 500 mA, in 2 mA units */

    9, 4, 0, 0,         /* interface 0, alternate setting 0 */
    8,                  /* endpoints */
    0xFF, 0x00, 0x00,   /* vendor specific */
    0,

    ENDPOINT(0x01, BULK, 0), ENDPOINT(0x02, BULK, 0), ENDPOINT(0x04, BULK, 0),
    ENDPOINT(0x06, BULK, 0),
    ENDPOINT(0x81, INTERRUPT, 1),
    ENDPOINT(0x82, BULK, 0), ENDPOINT(0x84, BULK, 0), ENDPOINT(0x86, BULK, 0),
};

static FW_DESCRIPTOR(AT_LANGUAGES) const unsigned char languages[] = {4, 3, LO(0x0409), HI(0x0409)};
static FW_DESCRIPTOR(AT_MANUFACTURER) const unsigned char manufacturer[] = {
    16, 3, 'U', 0, 'S', 0, 'B', 0, '_', 0, 'S', 0, 'P', 0, 'I', 0};
static FW_DESCRIPTOR(AT_PRODUCT) const unsigned char product[] = {10, 3, 'V', 0, '0', 0, '1', 0, '0', 0};

__code const unsigned char *__code const fw_strings[] = {languages, manufacturer, product};
__code const unsigned char fw_string_count = 3;
