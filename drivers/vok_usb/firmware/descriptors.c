/* What the AN2135SC board tells the host once our firmware runs: the endpoints and
 * strings of its protocol. */
#include "../vok_usb_protocol.h"
#define FW_ENDPOINTS VOK_USB_ENDPOINTS
#define FW_MANUFACTURER VOK_USB_MANUFACTURER
#define FW_PRODUCT VOK_USB_PRODUCT
#include "usb_descriptors.h"
