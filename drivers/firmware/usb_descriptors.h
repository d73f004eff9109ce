/* The descriptors of a firmware image, built from its board's table. Included
 * once per image, by the board's descriptors file, after it has defined:
 *   FW_ENDPOINTS(BULK, INTERRUPT)  the interface's endpoints in order, as
 *                                  BULK(address) and INTERRUPT(address, interval)
 *   FW_MANUFACTURER, FW_PRODUCT    strings 1 and 2 as lists of characters
 * Every board reports itself as an EZ-USB device (0547:2131, release 0.01). */
#include "usbdev.h"

#define FW_LO(w) ((w) & 0xFF)
#define FW_HI(w) ((w) >> 8)

/* Every endpoint of the chip but the isochronous ones, for a board that
 * declares them all: OUT 1-7, EP1 IN (interrupt, every frame), IN 2-7. */
#define FW_EVERY_ENDPOINT(BULK, INTERRUPT)                                    \
    BULK(0x01) BULK(0x02) BULK(0x03) BULK(0x04) BULK(0x05) BULK(0x06)        \
    BULK(0x07) INTERRUPT(0x81, 1) BULK(0x82) BULK(0x83) BULK(0x84)           \
    BULK(0x85) BULK(0x86) BULK(0x87)

#define FW_BULK(address) 7, 5, (address), 2, 64, 0, 0,
#define FW_INTERRUPT(address, interval) 7, 5, (address), 3, 64, 0, (interval),
#define FW_ONE_MORE(...) +1
#define FW_ENDPOINT_COUNT (0 FW_ENDPOINTS(FW_ONE_MORE, FW_ONE_MORE))
#define FW_CONFIG_TOTAL (9 + 9 + 7 * FW_ENDPOINT_COUNT)

/* The number of characters in a list (up to 16). */
#define FW_LENGTH(...) FW_LENGTH_(__VA_ARGS__, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)
#define FW_LENGTH_(...) FW_SIXTEENTH(__VA_ARGS__)
#define FW_SIXTEENTH(a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, count, ...) count
/* A string descriptor: the 16-bit units of its text, low byte first. */
#define FW_STRING(name, offset, ...)                                                     \
    static FW_DESCRIPTOR(offset) const struct {                                          \
        unsigned char length, type;                                                      \
        unsigned int text[FW_LENGTH(__VA_ARGS__)];                                       \
    } name = {2 + 2 * FW_LENGTH(__VA_ARGS__), 3, {__VA_ARGS__}}

/* Offsets of the strings in the descriptor block. */
#define FW_AT_LANGUAGES FW_NEXT(FW_AT_CONFIG, FW_CONFIG_TOTAL)
#define FW_AT_MANUFACTURER FW_NEXT(FW_AT_LANGUAGES, 4)
#define FW_AT_PRODUCT FW_NEXT(FW_AT_MANUFACTURER, 2 + 2 * FW_LENGTH(FW_MANUFACTURER))

FW_DESCRIPTOR(FW_AT_DEVICE) const unsigned char fw_device_descriptor[] = {
    18, 1,              /* length, DEVICE */
    0x00, 0x01,         /* USB 1.00 */
    0, 0, 0,            /* class in the interface */
    64,                 /* endpoint 0 packet size */
    FW_LO(0x0547), FW_HI(0x0547),
    FW_LO(0x2131), FW_HI(0x2131),
    FW_LO(0x0001), FW_HI(0x0001),
    1, 2, 0,            /* manufacturer, product, no serial number */
    1,                  /* configurations */
};

FW_DESCRIPTOR(FW_AT_CONFIG) const unsigned char fw_config_descriptor[] = {
    9, 2, FW_LO(FW_CONFIG_TOTAL), FW_HI(FW_CONFIG_TOTAL),
    1,                  /* interfaces */
    1,                  /* configuration value */
    0,                  /* no string */
    0xA0,               /* bus powered, remote wake-up */
    250,                /* 500 mA, in 2 mA units */

    9, 4, 0, 0,         /* interface 0, alternate setting 0 */
    FW_ENDPOINT_COUNT,
    0xFF, 0x00, 0x00,   /* vendor specific */
    0,

    FW_ENDPOINTS(FW_BULK, FW_INTERRUPT)
};

FW_STRING(fw_languages, FW_AT_LANGUAGES, 0x0409);
FW_STRING(fw_manufacturer, FW_AT_MANUFACTURER, FW_MANUFACTURER);
FW_STRING(fw_product, FW_AT_PRODUCT, FW_PRODUCT);

__code const unsigned char *__code const fw_strings[] = {
    (__code const unsigned char *)&fw_languages,
    (__code const unsigned char *)&fw_manufacturer,
    (__code const unsigned char *)&fw_product,
};
__code const unsigned char fw_string_count = 3;
