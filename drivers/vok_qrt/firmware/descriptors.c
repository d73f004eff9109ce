/* What the USB-QRT board tells the host once our firmware runs: the endpoints and
 * strings of its protocol. */
#include "../vok_qrt_protocol.h"
#define FW_ENDPOINTS VOK_QRT_ENDPOINTS
#define FW_MANUFACTURER VOK_QRT_MANUFACTURER
#define FW_PRODUCT VOK_QRT_PRODUCT
#include "usb_descriptors.h"
