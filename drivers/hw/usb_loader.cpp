// The EZ-USB board loader shared by the access layers.
#include "usb_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vokhw {

namespace {

// The chip's registers by name; CPUCS bit 0 holds the 8051 in reset.
namespace reg {
#define AN2131_XREG(name, addr) constexpr uint16_t name = addr;
#include "an2131_registers.def"
} // namespace reg

constexpr uint8_t VENDOR_OUT = 0x40;
constexpr uint8_t FIRMWARE_LOAD = 0xA0; // the chip's own request: write internal RAM
constexpr uint8_t GET_DESCRIPTOR = 6;
constexpr uint8_t STRING_DESCRIPTOR = 3;
constexpr uint8_t INTERFACE_DESCRIPTOR = 4;
constexpr uint8_t ENDPOINT_DESCRIPTOR = 5;
// Our images select a string by index alone; this is the word the requests carry.
constexpr uint16_t STRING_LANGUAGE = 0x001B;
constexpr int STRING_ANSWER = 130;

std::unique_ptr<UsbHandle> seam_open(int number, std::string *reason) { return usb_open(number, reason); }

std::string board_name(int number) { return "EZ-USB board " + std::to_string(number); }

} // namespace

void usb_decode_string(const uint8_t *answer, int received, char *text, int text_size) {
    if (text_size <= 0) return;
    int count = received >= 2 ? answer[0] / 2 - 1 : 0;
    count = std::min({count, (received - 2) / 2, text_size - 1});
    int i = 0;
    for (; i < count && answer[2 + 2 * i] != 0; ++i) text[i] = static_cast<char>(answer[2 + 2 * i]);
    text[i] = '\0';
}

std::vector<uint8_t> usb_endpoint_map(const uint8_t *config, size_t length) {
    std::vector<uint8_t> endpoints;
    bool in_interface = false, interface_seen = false;
    for (size_t at = 0; at + 2 <= length && config[at] >= 2; at += config[at]) {
        uint8_t size = config[at], type = config[at + 1];
        if (at + size > length) break;
        if (type == INTERFACE_DESCRIPTOR && size >= 4) {
            // Only the first setting of interface 0 counts.
            in_interface = !interface_seen && config[at + 2] == 0 && config[at + 3] == 0;
            interface_seen = interface_seen || in_interface;
        } else if (type == ENDPOINT_DESCRIPTOR && size >= 3 && in_interface) {
            endpoints.push_back(config[at + 2]);
        }
    }
    return endpoints;
}

int usb_drain_in(UsbHandle &h, uint8_t endpoint, unsigned timeout_ms, int max_bytes) {
    uint8_t buffer[4096];
    int dropped = 0;
    // Each read waits while the board runs: taking one answer may free the
    // firmware to answer a packet that waited on an OUT endpoint.
    while (dropped < max_bytes) {
        int got = 0;
        const int length = std::min<int>(sizeof buffer, max_bytes - dropped);
        const int rc = h.bulk(endpoint, buffer, length, &got, timeout_ms);
        dropped += std::max(got, 0);
        if (rc == USB_ERROR_NO_DEVICE) return rc;
        // Quiet for the whole timeout (or refused): nothing more is coming.
        if (rc != USB_OK || got <= 0) break;
    }
    return dropped;
}

UsbBoardLoader::UsbBoardLoader(const UsbLoadSettings &settings, UsbNumberOpener opener)
    : settings_(settings), opener_(opener ? opener : seam_open) {}

void UsbBoardLoader::mark(const char *text) const {
    if (!settings_.progress_marks) return;
    std::fputs(text, stdout);
    std::fflush(stdout);
}

bool UsbBoardLoader::read_string(UsbHandle &h, uint8_t index, char *text, int text_size) {
    uint8_t answer[STRING_ANSWER] = {};
    int got = h.control(USB_REQUEST_IN, GET_DESCRIPTOR, static_cast<uint16_t>(STRING_DESCRIPTOR << 8 | index),
                        STRING_LANGUAGE, answer, sizeof answer, settings_.control_timeout_ms);
    if (got < 0) return false;
    usb_decode_string(answer, std::min(got, STRING_ANSWER), text, text_size);
    return true;
}

int UsbBoardLoader::write_ram(UsbHandle &h, uint16_t address, const uint8_t *data, uint16_t length) {
    return h.control(VENDOR_OUT, FIRMWARE_LOAD, address, 0, const_cast<uint8_t *>(data), length,
                     settings_.control_timeout_ms);
}

bool UsbBoardLoader::halt(UsbHandle &h) {
    const uint8_t hold = 1;
    int rc = write_ram(h, reg::CPUCS, &hold, 1);
    if (rc == 1) return true;
    reason_ = "the 8051 of " + board_name(h.number()) + " cannot be halted: " + usb_error_text(rc);
    std::fputs("i8051 halt err.\n", stdout);
    std::fflush(stdout);
    return false;
}

bool UsbBoardLoader::download(UsbHandle &h, const uint8_t *image, int length) {
    bool ok = image != nullptr && length >= 0 && length <= 0x10000;
    int rc = 0;
    for (int at = 0; ok && at < length; at += settings_.download_piece) {
        int n = std::min(settings_.download_piece, length - at);
        rc = write_ram(h, static_cast<uint16_t>(at), image + at, static_cast<uint16_t>(n));
        ok = rc == n;
    }
    if (ok) return true;
    reason_ = "the firmware cannot be written into " + board_name(h.number()) + ": " +
              (rc < 0 ? usb_error_text(rc) : "short write");
    std::fputs("usb dwnload err.\n", stdout);
    std::fflush(stdout);
    return false;
}

bool UsbBoardLoader::run(UsbHandle &h) {
    const uint8_t release = 0;
    int rc = write_ram(h, reg::CPUCS, &release, 1);
    if (rc == 1 || rc == USB_ERROR_NO_DEVICE || rc == USB_ERROR_IO || rc == USB_ERROR_PIPE) return true;
    reason_ = "the 8051 of " + board_name(h.number()) + " cannot be started: " + usb_error_text(rc);
    std::fputs("i8051 run err.\n", stdout);
    std::fflush(stdout);
    return false;
}

// A board that refuses a string request (a bare chip has none) needs the firmware
// as much as one that runs another.
bool UsbBoardLoader::matches(UsbHandle &h, const char *string1, const char *string2) {
    char text[STRING_ANSWER];
    if (!read_string(h, 1, text, sizeof text)) return false;
    bool first = std::strcmp(text, string1) == 0;
    if (!first && !settings_.read_both_strings) return false;
    return read_string(h, 2, text, sizeof text) && first && std::strcmp(text, string2) == 0;
}

std::unique_ptr<UsbHandle> UsbBoardLoader::reopen(int number, const std::string &place, std::string *why) {
    // Without a place (a backend that cannot tell) the number is all there is.
    return place.empty() ? opener_(number, why) : usb_open_place(place, why);
}

std::unique_ptr<UsbHandle> UsbBoardLoader::first_open(int number, std::string *why) {
    std::unique_ptr<UsbHandle> h = opener_(number, why);
    if (h || opener_ != seam_open || number <= 0) return h;
    constexpr unsigned POLL_MS = 100;
    for (unsigned waited = 0; waited < settings_.shifted_wait_ms; waited += POLL_MS) {
        size_t present = usb_list_boards().size();
        if (present == 0 || present > size_t(number)) break;
        usb_wait_ms(POLL_MS);
        if ((h = opener_(number, why))) break;
    }
    return h;
}

std::unique_ptr<UsbHandle> UsbBoardLoader::load(int number, const uint8_t *image, int image_size,
                                                const char *string1, const char *string2) {
    reason_.clear();
    std::string why;
    std::unique_ptr<UsbHandle> h = first_open(number, &why);
    if (!h) {
        reason_ = why.empty() ? "no " + board_name(number) : why;
        return nullptr;
    }
    const std::string place = h->place();
    int opens = 1;
    for (;;) {
        if (matches(*h, string1, string2)) return h;
        mark("-Boot");
        if (!halt(*h) || !download(*h, image, image_size) || !run(*h)) return nullptr;
        h.reset();
        // The board leaves the bus and comes back with the firmware's descriptors.
        unsigned wait = settings_.first_wait_ms;
        const char *wait_mark = "-Wait.";
        for (;;) {
            usb_wait_ms(wait);
            mark(wait_mark);
            if (opens >= settings_.max_opens) {
                reason_ = board_name(number) + " did not come back after the firmware download" +
                          (why.empty() ? "" : " (" + why + ")");
                return nullptr;
            }
            ++opens;
            h = reopen(number, place, &why);
            if (h) break;
            wait = settings_.poll_ms;
            wait_mark = ".";
        }
        mark("-Reconnect");
        if (!settings_.check_again) return h;
        // Open it afresh once it has settled, and check it again.
        h.reset();
        usb_wait_ms(settings_.settle_ms);
        for (h = nullptr; !h; usb_wait_ms(settings_.poll_ms), mark(".")) {
            if (opens >= settings_.max_opens) {
                reason_ = board_name(number) + " does not run the firmware after the download";
                return nullptr;
            }
            ++opens;
            h = reopen(number, place, &why);
            if (h) break;
        }
    }
}

} // namespace vokhw
