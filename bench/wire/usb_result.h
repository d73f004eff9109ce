// How a USB transfer ended: the results that the hardware seam returns, that the
// bench's bus gives its transfers, and that cross the bench socket as a USB
// answer's result. 0 is success; failures are negative.
#pragma once

namespace benchwire {

enum UsbError : int {
    USB_OK = 0,
    USB_ERROR_IO = -1,        // a transfer or bus error not listed below
    USB_ERROR_INVALID = -2,   // an argument the operation cannot take
    USB_ERROR_ACCESS = -3,    // the operating system refused access to the device
    USB_ERROR_NO_DEVICE = -4, // the board has gone (unplugged, or renumerating)
    USB_ERROR_NOT_FOUND = -5, // no such board or endpoint
    USB_ERROR_BUSY = -6,      // the interface is claimed by another handle
    USB_ERROR_TIMEOUT = -7,
    USB_ERROR_OVERFLOW = -8,  // the device sent more than the buffer holds
    USB_ERROR_PIPE = -9,      // the endpoint stalled (for endpoint 0: request refused)
    USB_ERROR_CANCELLED = -10,
};

} // namespace benchwire
