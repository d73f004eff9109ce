// Stateless EZ-USB access layer over the USB seam. A handle is an open board plus
// the endpoint list of its running firmware, read once on the first pipe access.
#include "cusb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "usb.h"
#include "usb_loader.h"

namespace {

// Pieces of 1024 bytes; after the run request the board is polled every 2000 ms
// and trusted once it is back.
constexpr vokhw::UsbLoadSettings LOAD_SETTINGS = {
    .download_piece = 1024,
    .control_timeout_ms = 5000,
    .first_wait_ms = cusb::POLL_MS,
    .poll_ms = cusb::POLL_MS,
    .settle_ms = 0,
    .max_opens = cusb::RETURN_POLLS,
    .shifted_wait_ms = 3000,
    .read_both_strings = true,
    .check_again = false,
    .progress_marks = false,
};

constexpr unsigned BULK_TIMEOUT_MS = 10000;
// A stale answer comes with the next IN token; 20 ms of silence means none.
constexpr unsigned DRAIN_QUIET_MS = 20;
constexpr int DRAIN_MAX_BYTES = 4096;

struct Board {
    std::unique_ptr<vokhw::UsbHandle> usb;
    bool pipes_read = false;
    std::vector<uint8_t> pipes; // endpoint addresses by pipe index
};

std::unique_ptr<vokhw::UsbHandle> seam_open(int number) { return vokhw::usb_open(number); }

cusb::Opener opener = seam_open;
std::string failure;
// The seam's result of the last bulk request that failed.
int last_bulk_error = vokhw::USB_OK;

// The loader's opener: the current one, with the seam's reason when it is the seam.
std::unique_ptr<vokhw::UsbHandle> open_for_loader(int number, std::string *reason) {
    return opener == seam_open ? vokhw::usb_open(number, reason) : opener(number);
}

vokhw::UsbBoardLoader make_loader() { return vokhw::UsbBoardLoader(LOAD_SETTINGS, open_for_loader); }

Board *board_of(cusb_handle *slot) {
    return slot != nullptr ? static_cast<Board *>(*slot) : nullptr;
}

// The endpoint address of a pipe; false when the pipe does not exist.
bool endpoint_of(Board &board, uint32_t pipe, uint8_t *endpoint) {
    if (!board.pipes_read) {
        std::vector<uint8_t> config;
        if (board.usb->config_descriptor(config) != vokhw::USB_OK)
            return false;
        board.pipes = vokhw::usb_endpoint_map(config.data(), config.size());
        board.pipes_read = true;
    }
    if (pipe >= board.pipes.size())
        return false;
    *endpoint = board.pipes[pipe];
    return true;
}

void close_board(cusb_handle *slot) {
    delete board_of(slot);
    *slot = nullptr;
}

} // namespace

namespace cusb {

void decode_string(const uint8_t *descriptor, size_t received, char text[CUSB_STRING_SIZE]) {
    vokhw::usb_decode_string(descriptor, static_cast<int>(std::min<size_t>(received, 0x10000)), text,
                             CUSB_STRING_SIZE);
}

const char *failure_reason() { return failure.c_str(); }

int32_t drain(cusb_handle *slot, uint32_t pipe) {
    Board *board = board_of(slot);
    uint8_t endpoint = 0;
    if (board == nullptr || !endpoint_of(*board, pipe, &endpoint) || !(endpoint & vokhw::USB_ENDPOINT_IN))
        return -1;
    int dropped = vokhw::usb_drain_in(*board->usb, endpoint, DRAIN_QUIET_MS, DRAIN_MAX_BYTES);
    if (dropped < 0)
        last_bulk_error = dropped;
    return dropped < 0 ? -1 : dropped;
}

const char *last_transfer_error() { return vokhw::usb_error_text(last_bulk_error); }

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

int32_t VOK_CALL usb_halt(cusb_handle *slot) {
    Board *board = board_of(slot);
    if (board == nullptr) {
        std::fputs("i8051 halt err.\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    return make_loader().halt(*board->usb) ? 0 : -1;
}

int32_t VOK_CALL usb_run(cusb_handle *slot) {
    Board *board = board_of(slot);
    if (board == nullptr) {
        std::fputs("i8051 run err.\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    return make_loader().run(*board->usb) ? 0 : -1;
}

int32_t VOK_CALL usb_dwnload(cusb_handle *slot, const uint8_t *image, int32_t length) {
    Board *board = board_of(slot);
    if (board == nullptr) {
        std::fputs("usb dwnload err.\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    return make_loader().download(*board->usb, image, length) ? 0 : -1;
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
        int rc = board->usb->bulk(endpoint, const_cast<uint8_t *>(data + at), piece, &moved,
                                  BULK_TIMEOUT_MS);
        if (rc != vokhw::USB_OK) {
            last_bulk_error = rc;
            return -1;
        }
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
        int rc = board->usb->bulk(endpoint, buffer + at, piece, &moved, BULK_TIMEOUT_MS);
        if (rc != vokhw::USB_OK) {
            last_bulk_error = rc;
            return -1;
        }
        total += moved;
    }
    return total;
}

int32_t VOK_CALL usb_get_string(cusb_handle *slot, int32_t index, char *text) {
    Board *board = board_of(slot);
    if (board == nullptr || text == nullptr || index < 0 || index > 0xFF)
        return -1;
    return make_loader().read_string(*board->usb, static_cast<uint8_t>(index), text, CUSB_STRING_SIZE)
               ? 0
               : -1;
}

int32_t VOK_CALL cusb_init(int32_t number, cusb_handle *slot, const uint8_t *image,
                           const char *string1, const char *string2) {
    failure.clear();
    if (slot == nullptr || image == nullptr || string1 == nullptr || string2 == nullptr)
        return -1;
    vokhw::UsbBoardLoader loader = make_loader();
    auto usb = loader.load(number, image, CUSB_IMAGE_SIZE, string1, string2);
    if (!usb) {
        failure = loader.reason();
        *slot = nullptr;
        return -1;
    }
    *slot = new Board{std::move(usb), false, {}};
    return 0;
}

} // extern "C"
