// The EZ-USB drivers against a hostile device: every answer of the board (opens,
// descriptors, strings, control and bulk results, short and long transfers,
// errors, timeouts) comes from the input. The first byte picks the entry path
// (vok_usb JTAG or slave serial, vok_usb2, vok_qrt, or the board loader alone);
// bytes 1 and 2 give the length of the script of the caller's thread, the rest
// is the script of bulk IN answers (the read thread of the ezusb layer takes
// those, so each thread has its own and a run does not depend on scheduling).
//
// Properties: no crash and no access past a buffer (the sanitizers), every
// failure a failure status (a driver that reports ready has seen both strings
// answered or has downloaded its firmware), and a bounded number of
// transfers and of simulated waiting.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cusb.h"
#include "fuzz_support.h"
#include "usb.h"
#include "usb_loader.h"
#include "vokcable.h"

// The three drivers' entry points, compiled under names of their own.
#define DRIVER_ENTRY_POINTS(prefix)                                                                \
    extern "C" int32_t prefix##_jtag_init(int32_t, int32_t, char *);                               \
    extern "C" int32_t prefix##_jtag_power(void);                                                  \
    extern "C" int32_t prefix##_jtag_txrx(const uint8_t *, uint8_t *, int32_t, int32_t, int32_t);  \
    extern "C" int32_t prefix##_jtag_end(void);
DRIVER_ENTRY_POINTS(vok_usb)
DRIVER_ENTRY_POINTS(vok_usb2)
DRIVER_ENTRY_POINTS(vok_qrt)
extern "C" int32_t vok_usb_ss_init(int32_t, int32_t, char *);
extern "C" int32_t vok_usb_ss_tx(const uint8_t *, int32_t);
extern "C" int32_t vok_usb_ss_program(int32_t);
extern "C" int32_t vok_usb_ss_done(void);
extern "C" int32_t vok_usb_ss_end(void);

namespace {

// Answers are taken from a script; an empty script is a device that has gone.
class Script {
public:
    void reset(const uint8_t *data, size_t size) {
        data_ = data;
        size_ = size;
        at_ = 0;
    }
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    // Up to n bytes into out; the count taken.
    size_t bytes(uint8_t *out, size_t n) {
        n = std::min(n, size_ - std::min(at_, size_));
        if (n) std::memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const uint8_t *data_ = nullptr;
    size_t size_ = 0, at_ = 0;
};

constexpr int ERRORS[] = {vokhw::USB_ERROR_IO,      vokhw::USB_ERROR_NO_DEVICE, vokhw::USB_ERROR_TIMEOUT,
                          vokhw::USB_ERROR_PIPE,    vokhw::USB_ERROR_OVERFLOW,  vokhw::USB_ERROR_CANCELLED,
                          vokhw::USB_ERROR_ACCESS,  vokhw::USB_ERROR_BUSY};

struct Device {
    std::mutex mutex;
    Script caller, reader;
    long transfers = 0;
    unsigned long waited_ms = 0;
    bool string_answered[3] = {};
    bool config_answered = false;
    bool run_requested = false; // the 8051 was let run after a download
} device;

// A result for a transfer of `length` bytes: an error, or a count that may be
// short, full, or more than was asked for (the backend reports that as overflow).
int outcome(Script &s, int length) {
    if (s.empty()) return vokhw::USB_ERROR_NO_DEVICE;
    uint8_t r = s.byte();
    if (r < 0x20) return ERRORS[r % std::size(ERRORS)];
    if (r < 0x40) return vokhw::USB_ERROR_OVERFLOW; // the device sent more than asked
    if (r < 0x80) return std::min<int>(length, s.byte() | s.byte() << 8);
    return length;
}

// An IN answer: its count from the script, then that many bytes (fewer when
// the script ends: only what arrived counts).
int answer_in(Script &s, uint8_t *data, int length) {
    int n = outcome(s, length);
    if (n <= 0) return n;
    return static_cast<int>(s.bytes(data, static_cast<size_t>(n)));
}

class FuzzHandle final : public vokhw::UsbHandle {
public:
    int number() const override { return 0; }
    vokhw::UsbId id() const override { return {0x0547, 0x2131}; }
    std::string place() const override { return "1-1"; }

    int control(uint8_t type, uint8_t request, uint16_t value, uint16_t, uint8_t *data, uint16_t length,
                unsigned) override {
        std::lock_guard lock(device.mutex);
        ++device.transfers;
        if (!(type & vokhw::USB_REQUEST_IN)) {
            if (request == 0xA0 && value == 0x7F92 && length == 1 && data[0] == 0) device.run_requested = true;
            return outcome(device.caller, length);
        }
        int n = answer_in(device.caller, data, length);
        if (n >= 2 && request == 6 && (value >> 8) == 3 && (value & 0xFF) <= 2) device.string_answered[value & 0xFF] = true;
        return n;
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred, unsigned) override {
        std::lock_guard lock(device.mutex);
        ++device.transfers;
        *transferred = 0;
        bool in = endpoint & vokhw::USB_ENDPOINT_IN;
        // The ezusb layer reads on its own thread; vok_qrt reads on the caller's.
        Script &s = in && !qrt_reads_ ? device.reader : device.caller;
        int n = in ? answer_in(s, data, length) : outcome(s, length);
        if (n < 0) return n;
        *transferred = n;
        // A short OUT that ends in a timeout, as a stalled board gives.
        return !in && n < length ? vokhw::USB_ERROR_TIMEOUT : vokhw::USB_OK;
    }

    void cancel(uint8_t) override {}

    int config_descriptor(std::vector<uint8_t> &out) override {
        std::lock_guard lock(device.mutex);
        ++device.transfers;
        int n = outcome(device.caller, 512);
        if (n < 0) return n;
        out.resize(static_cast<size_t>(n));
        out.resize(device.caller.bytes(out.data(), out.size()));
        device.config_answered = true;
        return vokhw::USB_OK;
    }

    int clear_halt(uint8_t) override {
        std::lock_guard lock(device.mutex);
        ++device.transfers;
        int n = outcome(device.caller, 0);
        return n < 0 ? n : vokhw::USB_OK;
    }

    static inline bool qrt_reads_ = false;
};

std::unique_ptr<vokhw::UsbHandle> open_device(std::string *reason) {
    std::lock_guard lock(device.mutex);
    // One byte per open: odd opens the board, even finds none.
    if (device.caller.empty() || device.caller.byte() % 2 == 0) {
        if (reason) *reason = "no board in the script";
        return nullptr;
    }
    return std::make_unique<FuzzHandle>();
}

// Each loop over the board is bounded: far more transfers than any entry point
// of these tests makes on a device that answers, none without end.
constexpr long MAX_TRANSFERS = 200000;
// The longest wait for a board after downloads: 200 opens, each followed by a
// wait of at most 1.5 s (the ezusb layer) or 15 polls of 2 s (vok_qrt).
constexpr unsigned long MAX_WAIT_MS = 200ul * 2000;

enum Path : uint8_t { USB_JTAG, USB_SERIAL, SPI_JTAG, QRT_JTAG, LOADER, PATHS };

constexpr vokhw::UsbLoadSettings LOADER_SETTINGS = {
    .download_piece = 16,
    .control_timeout_ms = 100,
    .first_wait_ms = 10,
    .poll_ms = 10,
    .settle_ms = 10,
    .max_opens = 6,
    .shifted_wait_ms = 300,
    .read_both_strings = true,
    .check_again = true,
    .progress_marks = false,
};

bool ready_needs_answers(const char *what, int32_t status) {
    if (status != VOK_INIT_READY) return status == VOK_INIT_NO_PROBE;
    // Ready means: the board showed our strings, or it was given our firmware.
    fuzz::require((device.string_answered[1] && device.string_answered[2]) || device.run_requested,
                  std::string(what) + " is ready without its strings answered or a download");
    return true;
}

void shifts(int32_t (*txrx)(const uint8_t *, uint8_t *, int32_t, int32_t, int32_t), int32_t (*power)(void)) {
    uint8_t tdi[9] = {0xA5, 0x5A, 0xFF, 0x00, 0x81, 0x42, 0x24, 0x18, 0x7E};
    uint8_t tdo[9] = {};
    int32_t p = power();
    fuzz::require(p == 0 || p == 1, "power is 0 or 1");
    txrx(tdi, tdo, 70, 0, 1);
    txrx(tdi, nullptr, 70, 1, 0);
    txrx(nullptr, tdo, 9, 0, 0);
}

} // namespace

namespace vokhw {

// The seam, answered by the script.
std::unique_ptr<UsbHandle> usb_open(int number, std::string *reason) {
    if (number != 0) {
        if (reason) *reason = "no such board";
        return nullptr;
    }
    return open_device(reason);
}
std::unique_ptr<UsbHandle> usb_open_place(const std::string &place, std::string *reason) {
    fuzz::require(place == "1-1", "the board is followed by its place");
    return open_device(reason);
}
// One board, which the script may have taken away.
std::vector<UsbBoardInfo> usb_list_boards() {
    std::lock_guard lock(device.mutex);
    if (device.caller.empty()) return {};
    return {{0, 0x0547, 0x2131, "fuzz board", "1-1"}};
}
void usb_wait_ms(unsigned ms) {
    std::lock_guard lock(device.mutex);
    device.waited_ms += ms;
}
const char *usb_error_text(int code) { return code < 0 ? "error" : "success"; }

} // namespace vokhw

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const Path path = static_cast<Path>(data[0] % PATHS);
    size_t caller_size = std::min<size_t>(size - 3, data[1] | data[2] << 8);
    {
        std::lock_guard lock(device.mutex);
        device.caller.reset(data + 3, caller_size);
        device.reader.reset(data + 3 + caller_size, size - 3 - caller_size);
        device.transfers = 0;
        device.waited_ms = 0;
        std::fill(std::begin(device.string_answered), std::end(device.string_answered), false);
        device.config_answered = false;
        device.run_requested = false;
    }
    FuzzHandle::qrt_reads_ = path == QRT_JTAG;
    char name[128];
    switch (path) {
    case USB_JTAG:
    case USB_SERIAL: {
        int32_t status = path == USB_JTAG ? vok_usb_jtag_init(0, 0, name) : vok_usb_ss_init(0, 0, name);
        fuzz::require(ready_needs_answers("vok_usb", status), "vok_usb init answers ready or no probe");
        if (status == VOK_INIT_READY) fuzz::require(device.config_answered, "pipes known before use");
        if (path == USB_JTAG) {
            shifts(vok_usb_jtag_txrx, vok_usb_jtag_power);
            vok_usb_jtag_end();
        } else {
            const uint8_t bits[5] = {0xFF, 0x55, 0xAA, 0x00, 0x0F};
            vok_usb_ss_program(0);
            vok_usb_ss_program(1);
            vok_usb_ss_tx(bits, sizeof bits);
            int32_t done = vok_usb_ss_done();
            fuzz::require(done == 0 || done == 1, "DONE is 0 or 1");
            vok_usb_ss_end();
        }
        break;
    }
    case SPI_JTAG: {
        int32_t status = vok_usb2_jtag_init(0, 0, name);
        fuzz::require(ready_needs_answers("vok_usb2", status), "vok_usb2 init answers ready or no probe");
        shifts(vok_usb2_jtag_txrx, vok_usb2_jtag_power);
        vok_usb2_jtag_end();
        break;
    }
    case QRT_JTAG: {
        int32_t status = vok_qrt_jtag_init(0, 0, name);
        fuzz::require(ready_needs_answers("vok_qrt", status), "vok_qrt init answers ready or no probe");
        shifts(vok_qrt_jtag_txrx, vok_qrt_jtag_power);
        vok_qrt_jtag_end();
        break;
    }
    default: {
        uint8_t image[64];
        for (size_t i = 0; i < sizeof image; ++i) image[i] = static_cast<uint8_t>(i);
        vokhw::UsbBoardLoader loader(LOADER_SETTINGS);
        auto h = loader.load(0, image, sizeof image, "AB", "CD");
        fuzz::require(h != nullptr || !loader.reason().empty(), "a failed load says why");
        if (h) fuzz::require(device.string_answered[1] && device.string_answered[2], "loaded without strings");
        break;
    }
    }
    std::lock_guard lock(device.mutex);
    fuzz::require(device.transfers <= MAX_TRANSFERS, "transfers are bounded");
    fuzz::require(device.waited_ms <= MAX_WAIT_MS, "waiting is bounded");
    return 0;
}
