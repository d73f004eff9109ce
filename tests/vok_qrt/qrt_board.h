// The USB-QRT board on the stand-in seam: the driver's opener and the seam's
// wait reach the fake board for the length of a test.
#pragma once

#include "cusb.h"
#include "support/fake_usb.h"

namespace qrt_test {

// A fresh board, board `number`, that runs the general-purpose firmware. It
// tells no place: the driver's opener follows it by its number.
inline fakeusb::Board &gpfw_board(int number = 0) {
    fakeusb::Board &b = fakeusb::reset();
    b.number = number;
    b.place.clear();
    b.strings = {"GPFW", "V11P"};
    return b;
}

class OnFakeSeam {
public:
    OnFakeSeam()
        : opener_(cusb::set_opener([](int number) { return fakeusb::open(number); })),
          wait_(vokhw::usb_set_wait_hook(fakeusb::wait_ms)) {}
    ~OnFakeSeam() {
        cusb::set_opener(opener_);
        vokhw::usb_set_wait_hook(wait_);
    }
    OnFakeSeam(const OnFakeSeam &) = delete;
    OnFakeSeam &operator=(const OnFakeSeam &) = delete;

private:
    cusb::Opener opener_;
    vokhw::UsbWaitHook wait_;
};

} // namespace qrt_test
