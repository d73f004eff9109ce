// The USB seam's entry points: they choose the backend (the bench when VOKBENCH
// names a socket, libusb otherwise) and hold what both share.
#include "usb.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "bench_wire.h"
#include "usb_backends.h"

namespace vokhw {

namespace {

// The AN21xx parts' default IDs (a bare chip answers with them; so do our images).
constexpr UsbId BOARD_IDS[] = {
    {0x0547, 0x2131}, // AN2131Q/S, AN2135S
    {0x0547, 0x2136}, // AN2136S
    {0x0547, 0x2122}, // AN2122S
    {0x0547, 0x2125}, // AN2121S, AN2125S
    {0x0547, 0x2126}, // AN2126S
};

UsbWaitHook wait_hook = nullptr;

} // namespace

const char *usb_error_text(int code) {
    if (code >= 0) return "success";
    switch (code) {
    case USB_ERROR_IO: return "input/output error";
    case USB_ERROR_INVALID: return "invalid parameter";
    case USB_ERROR_ACCESS: return "access denied";
    case USB_ERROR_NO_DEVICE: return "no device (it may have been disconnected)";
    case USB_ERROR_NOT_FOUND: return "not found";
    case USB_ERROR_BUSY: return "busy";
    case USB_ERROR_TIMEOUT: return "timeout";
    case USB_ERROR_OVERFLOW: return "overflow";
    case USB_ERROR_PIPE: return "stall";
    case USB_ERROR_CANCELLED: return "cancelled";
    default: return "other error";
    }
}

std::span<const UsbId> usb_board_ids() { return BOARD_IDS; }

bool usb_is_board_id(uint16_t vid, uint16_t pid) {
    for (const UsbId &id : BOARD_IDS)
        if (id.vid == vid && id.pid == pid) return true;
    return false;
}

const char *bench_socket() {
    const char *s = std::getenv(benchwire::ENV_SOCKET);
    return s && *s ? s : nullptr;
}

std::vector<UsbBoardInfo> usb_list_boards() {
    if (const char *s = bench_socket()) return bench_list_boards(s);
    return libusb_list_boards();
}

std::unique_ptr<UsbHandle> usb_open(int number, std::string *reason) {
    std::string why;
    std::unique_ptr<UsbHandle> h;
    if (number < 0) why = "no board " + std::to_string(number);
    else if (const char *s = bench_socket()) h = bench_open(s, number, &why);
    else h = libusb_open_board(number, &why);
    if (!h && reason) *reason = why;
    return h;
}

std::unique_ptr<UsbHandle> usb_open_place(const std::string &place, std::string *reason) {
    std::string why;
    std::unique_ptr<UsbHandle> h;
    if (const char *s = bench_socket()) {
        int number = bench_place_number(place);
        if (number < 0) why = "no bench board at " + place;
        else h = bench_open(s, number, &why);
    } else {
        h = libusb_open_place(place, &why);
    }
    if (!h && reason) *reason = why;
    return h;
}

void usb_wait_ms(unsigned ms) {
    if (wait_hook) return wait_hook(ms);
    if (const char *s = bench_socket()) {
        if (bench_wait_ms(s, ms)) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

UsbWaitHook usb_set_wait_hook(UsbWaitHook hook) {
    UsbWaitHook old = wait_hook;
    wait_hook = hook;
    return old;
}

} // namespace vokhw
