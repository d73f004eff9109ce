// Stateless EZ-USB access layer over the USB seam. A handle is an open board plus
// the endpoint list of its running firmware, read once on the first pipe access.
#include "cusb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "usb.h"

namespace {

constexpr uint8_t VENDOR_OUT = 0x40;
constexpr uint8_t STANDARD_IN = 0x80;
constexpr uint8_t REQUEST_FIRMWARE_LOAD = 0xA0;
constexpr uint8_t REQUEST_GET_DESCRIPTOR = 0x06;
constexpr uint16_t CPUCS = 0x7F92;
constexpr uint8_t DESCRIPTOR_STRING = 3;
constexpr uint8_t DESCRIPTOR_INTERFACE = 4;
constexpr uint8_t DESCRIPTOR_ENDPOINT = 5;
// The language word the string request carries; our firmware answers any.
constexpr uint16_t STRING_LANGUAGE = 0x001B;
constexpr uint16_t STRING_REPLY_SIZE = 130;
// Pieces of a download, each one 0xA0 request.
constexpr int DOWNLOAD_PIECE = 1024;

constexpr unsigned CONTROL_TIMEOUT_MS = 5000;
constexpr unsigned BULK_TIMEOUT_MS = 10000;

struct Board {
    std::unique_ptr<vokhw::UsbHandle> usb;
    bool pipes_read = false;
    std::vector<uint8_t> pipes; // endpoint addresses by pipe index
};

std::unique_ptr<vokhw::UsbHandle> seam_open(int number) { return vokhw::usb_open(number); }

cusb::Opener opener = seam_open;

Board *board_of(cusb_handle *slot) {
    return slot != nullptr ? static_cast<Board *>(*slot) : nullptr;
}

// The endpoints of the first interface, in descriptor order.
std::vector<uint8_t> endpoint_list(const std::vector<uint8_t> &config) {
    std::vector<uint8_t> eps;
    bool in_first_interface = false;
    bool interface_seen = false;
    for (size_t at = 0; at + 1 < config.size();) {
        uint8_t len = config[at];
        uint8_t type = config[at + 1];
        if (len < 2 || at + len > config.size())
            break;
        if (type == DESCRIPTOR_INTERFACE) {
            in_first_interface = !interface_seen;
            interface_seen = true;
        } else if (type == DESCRIPTOR_ENDPOINT && in_first_interface && len >= 3) {
            eps.push_back(config[at + 2]);
        }
        at += len;
    }
    return eps;
}

// The endpoint address of a pipe; false when the pipe does not exist.
bool endpoint_of(Board &board, uint32_t pipe, uint8_t *endpoint) {
    if (!board.pipes_read) {
        std::vector<uint8_t> config;
        if (board.usb->config_descriptor(config) != vokhw::USB_OK)
            return false;
        board.pipes = endpoint_list(config);
        board.pipes_read = true;
    }
    if (pipe >= board.pipes.size())
        return false;
    *endpoint = board.pipes[pipe];
    return true;
}

int32_t write_cpucs(cusb_handle *slot, uint8_t value, const char *failure) {
    Board *board = board_of(slot);
    int rc = board == nullptr ? vokhw::USB_ERROR_INVALID
                              : board->usb->control(VENDOR_OUT, REQUEST_FIRMWARE_LOAD, CPUCS, 0,
                                                    &value, 1, CONTROL_TIMEOUT_MS);
    if (rc != 1) {
        std::fputs(failure, stdout);
        std::fflush(stdout);
        return -1;
    }
    return 0;
}

void close_board(cusb_handle *slot) {
    delete board_of(slot);
    *slot = nullptr;
}

} // namespace

namespace cusb {

void decode_string(const uint8_t *descriptor, size_t received, char text[CUSB_STRING_SIZE]) {
    int count = 0;
    if (received >= 2)
        count = std::min<int>(descriptor[0] / 2 - 1, static_cast<int>((received - 2) / 2));
    count = std::clamp(count, 0, CUSB_STRING_SIZE - 1);
    int k = 0;
    for (; k < count; ++k) {
        char c = static_cast<char>(descriptor[2 + 2 * k]);
        if (c == 0)
            break;
        text[k] = c;
    }
    text[k] = 0;
}

Opener set_opener(Opener next) {
    Opener previous = opener;
    opener = next != nullptr ? next : seam_open;
    return previous;
}

} // namespace cusb

extern "C" {

int32_t VOK_CALL usb_open(int32_t number, cusb_handle *slot) {
    if (slot == nullptr)
        return -1;
    auto usb = opener(number);
    if (!usb) {
        *slot = nullptr;
        return -1;
    }
    *slot = new Board{std::move(usb), false, {}};
    return 0;
}

int32_t VOK_CALL usb_close(cusb_handle *slot) {
    if (slot != nullptr)
        close_board(slot);
    return 0;
}

int32_t VOK_CALL usb_halt(cusb_handle *slot) { return write_cpucs(slot, 1, "i8051 halt err.\n"); }

int32_t VOK_CALL usb_run(cusb_handle *slot) { return write_cpucs(slot, 0, "i8051 run err.\n"); }

int32_t VOK_CALL usb_dwnload(cusb_handle *slot, const uint8_t *image, int32_t length) {
    Board *board = board_of(slot);
    bool ok = board != nullptr && image != nullptr && length >= 0 && length <= 0x10000;
    for (int32_t at = 0; ok && at < length; at += DOWNLOAD_PIECE) {
        int piece = std::min<int32_t>(DOWNLOAD_PIECE, length - at);
        std::vector<uint8_t> bytes(image + at, image + at + piece);
        ok = board->usb->control(VENDOR_OUT, REQUEST_FIRMWARE_LOAD, static_cast<uint16_t>(at), 0,
                                 bytes.data(), static_cast<uint16_t>(piece),
                                 CONTROL_TIMEOUT_MS) == piece;
    }
    if (!ok) {
        std::fputs("usb dwnload err.\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    return 0;
}

int32_t VOK_CALL usb_resetpipe(cusb_handle *slot, uint32_t pipe) {
    Board *board = board_of(slot);
    uint8_t endpoint = 0;
    if (board == nullptr || !endpoint_of(*board, pipe, &endpoint))
        return -1;
    return board->usb->clear_halt(endpoint) == vokhw::USB_OK ? 0 : -1;
}

int32_t VOK_CALL usb_bulk_write(cusb_handle *slot, uint32_t pipe, const uint8_t *data,
                                int32_t length) {
    if (length <= 0)
        return 0;
    Board *board = board_of(slot);
    uint8_t endpoint = 0;
    if (board == nullptr || data == nullptr || !endpoint_of(*board, pipe, &endpoint))
        return -1;
    for (int32_t at = 0; at < length; at += CUSB_MAX_REQUEST) {
        int piece = std::min<int32_t>(CUSB_MAX_REQUEST, length - at);
        int moved = 0;
        // The seam takes a writable buffer for both directions; OUT data is only read.
        if (board->usb->bulk(endpoint, const_cast<uint8_t *>(data + at), piece, &moved,
                             BULK_TIMEOUT_MS) != vokhw::USB_OK)
            return -1;
    }
    return 0;
}

int32_t VOK_CALL usb_bulk_read(cusb_handle *slot, uint32_t pipe, uint8_t *buffer, int32_t length) {
    if (length <= 0)
        return 0;
    Board *board = board_of(slot);
    uint8_t endpoint = 0;
    if (board == nullptr || buffer == nullptr || !endpoint_of(*board, pipe, &endpoint))
        return -1;
    int32_t total = 0;
    for (int32_t at = 0; at < length; at += CUSB_MAX_REQUEST) {
        int piece = std::min<int32_t>(CUSB_MAX_REQUEST, length - at);
        int moved = 0;
        if (board->usb->bulk(endpoint, buffer + at, piece, &moved, BULK_TIMEOUT_MS) !=
            vokhw::USB_OK)
            return -1;
        total += moved;
    }
    return total;
}

int32_t VOK_CALL usb_get_string(cusb_handle *slot, int32_t index, char *text) {
    Board *board = board_of(slot);
    if (board == nullptr || text == nullptr || index < 0 || index > 0xFF)
        return -1;
    uint8_t reply[STRING_REPLY_SIZE] = {};
    int got = board->usb->control(STANDARD_IN, REQUEST_GET_DESCRIPTOR,
                                  static_cast<uint16_t>((DESCRIPTOR_STRING << 8) | index),
                                  STRING_LANGUAGE, reply, STRING_REPLY_SIZE, CONTROL_TIMEOUT_MS);
    if (got < 0)
        return -1;
    cusb::decode_string(reply, static_cast<size_t>(got), text);
    return 0;
}

int32_t VOK_CALL cusb_init(int32_t number, cusb_handle *slot, const uint8_t *image,
                           const char *string1, const char *string2) {
    if (slot == nullptr || image == nullptr || string1 == nullptr || string2 == nullptr)
        return -1;
    if (usb_open(number, slot) != 0)
        return -1;
    char text1[CUSB_STRING_SIZE] = "";
    char text2[CUSB_STRING_SIZE] = "";
    // A bare board has no strings and refuses the request: it needs the firmware as
    // much as a board running another one.
    bool strings_read = usb_get_string(slot, 1, text1) == 0 && usb_get_string(slot, 2, text2) == 0;
    if (strings_read && std::strcmp(text1, string1) == 0 && std::strcmp(text2, string2) == 0)
        return 0;
    if (usb_halt(slot) != 0 || usb_dwnload(slot, image, CUSB_IMAGE_SIZE) != 0 ||
        usb_run(slot) != 0) {
        close_board(slot);
        return -1;
    }
    // The board leaves the bus and comes back with the firmware's own descriptors.
    close_board(slot);
    for (int poll = 0; poll < cusb::RETURN_POLLS; ++poll) {
        vokhw::usb_wait_ms(cusb::POLL_MS);
        if (usb_open(number, slot) == 0)
            return 0;
    }
    return -1;
}

} // extern "C"
