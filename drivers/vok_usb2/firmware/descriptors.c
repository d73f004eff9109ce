/* What the SPI board tells the host once our firmware runs: the endpoints and
 * strings of its protocol. */
#include "../vok_usb2_protocol.h"
#define FW_ENDPOINTS VOK_USB2_ENDPOINTS
#define FW_MANUFACTURER VOK_USB2_MANUFACTURER
#define FW_PRODUCT VOK_USB2_PRODUCT
#include "usb_descriptors.h"
