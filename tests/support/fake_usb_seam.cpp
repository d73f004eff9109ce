// The seam's entry points over the fake board, for the tests that link this in
// place of the real seam (the access layers over the board loader).
#include "fake_usb.h"

namespace vokhw {

std::unique_ptr<UsbHandle> usb_open(int number, std::string *reason) { return fakeusb::open(number, reason); }
std::unique_ptr<UsbHandle> usb_open_place(const std::string &place, std::string *reason) {
    return fakeusb::open_place(place, reason);
}
std::vector<UsbBoardInfo> usb_list_boards() { return fakeusb::list_boards(); }
void usb_wait_ms(unsigned ms) { fakeusb::wait_ms(ms); }
const char *usb_error_text(int code) { return code == USB_ERROR_PIPE ? "stall" : "error"; }

} // namespace vokhw
