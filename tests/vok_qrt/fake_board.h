// A recording stand-in for an open EZ-USB board behind the USB seam: the access
// layer's tests put it in place of the seam's open and read back what was sent.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cusb.h"
#include "usb.h"

namespace qrt_test {

struct Transfer {
    std::string kind; // "control", "bulk", "clear_halt"
    uint8_t request_type = 0, request = 0;
    uint16_t value = 0, index = 0;
    uint8_t endpoint = 0;
    std::vector<uint8_t> data; // sent bytes (OUT), or the length asked for as size (IN)
};

// What the board answers; shared by every handle that the opener hands out.
struct BoardScript {
    bool present = true;
    int opens = 0;
    int opens_before_return = 0; // failed opens after a download (0: back at once)
    bool downloaded = false;
    bool strings_refused = false;
    bool cpucs_refused = false;
    std::vector<std::vector<uint8_t>> strings; // descriptors by index
    std::deque<std::vector<uint8_t>> in_packets;  // answers of bulk IN, in order
    std::vector<Transfer> log;

    static std::vector<uint8_t> string_descriptor(const std::string &text) {
        std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), 3};
        for (char c : text) {
            d.push_back(uint8_t(c));
            d.push_back(0);
        }
        return d;
    }
    std::vector<Transfer> of_kind(const std::string &kind, uint8_t endpoint = 0) const {
        std::vector<Transfer> out;
        for (const auto &t : log)
            if (t.kind == kind && (endpoint == 0 || t.endpoint == endpoint))
                out.push_back(t);
        return out;
    }
};

// The interface of the general-purpose firmware: EP1..7 OUT, EP1 IN, EP2..7 IN.
inline std::vector<uint8_t> firmware_configuration() {
    std::vector<uint8_t> c{9, 2, 0, 0, 1, 1, 0, 0xA0, 0xFA, 9, 4, 0, 0, 14, 0xFF, 0, 0, 0};
    auto ep = [&](uint8_t address) {
        std::vector<uint8_t> e{7, 5, address, 2, 64, 0, 0};
        c.insert(c.end(), e.begin(), e.end());
    };
    for (uint8_t n = 1; n <= 7; ++n) ep(n);
    for (uint8_t n = 1; n <= 7; ++n) ep(uint8_t(0x80 | n));
    c[2] = uint8_t(c.size());
    return c;
}

class FakeHandle final : public vokhw::UsbHandle {
public:
    explicit FakeHandle(BoardScript &s) : s_(s) {}
    int number() const override { return 0; }
    vokhw::UsbId id() const override { return {0x0547, 0x2131}; }

    int control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                uint16_t length, unsigned) override {
        Transfer t{"control", type, request, value, index, 0, {}};
        if (!(type & vokhw::USB_REQUEST_IN))
            t.data.assign(data, data + length);
        else
            t.data.resize(length);
        s_.log.push_back(t);
        if (type == 0x40 && request == 0xA0) {
            if (value == 0x7F92 && s_.cpucs_refused) return vokhw::USB_ERROR_PIPE;
            if (value < 0x1B40) s_.downloaded = true;
            return length;
        }
        if (type == 0x80 && request == 6 && (value >> 8) == 3) {
            size_t i = value & 0xFF;
            if (s_.strings_refused || i >= s_.strings.size()) return vokhw::USB_ERROR_PIPE;
            size_t n = std::min<size_t>(length, s_.strings[i].size());
            std::memcpy(data, s_.strings[i].data(), n);
            return int(n);
        }
        return vokhw::USB_ERROR_PIPE;
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *moved, unsigned) override {
        Transfer t{"bulk", 0, 0, 0, 0, endpoint, {}};
        if (endpoint & vokhw::USB_ENDPOINT_IN) {
            t.data.resize(size_t(length));
            s_.log.push_back(t);
            if (s_.in_packets.empty()) {
                *moved = 0;
                return vokhw::USB_ERROR_TIMEOUT;
            }
            auto p = s_.in_packets.front();
            s_.in_packets.pop_front();
            *moved = std::min<int>(length, int(p.size()));
            std::memcpy(data, p.data(), size_t(*moved));
            return vokhw::USB_OK;
        }
        t.data.assign(data, data + length);
        s_.log.push_back(t);
        *moved = length;
        return vokhw::USB_OK;
    }

    void cancel(uint8_t) override {}
    int config_descriptor(std::vector<uint8_t> &out) override {
        out = firmware_configuration();
        return vokhw::USB_OK;
    }
    int clear_halt(uint8_t endpoint) override {
        s_.log.push_back({"clear_halt", 0, 0, 0, 0, endpoint, {}});
        return vokhw::USB_OK;
    }

private:
    BoardScript &s_;
};

// The board that the opener hands out; one per test.
inline BoardScript *current_board = nullptr;

inline std::unique_ptr<vokhw::UsbHandle> open_script(int) {
    BoardScript &s = *current_board;
    ++s.opens;
    if (!s.present) return nullptr;
    if (s.downloaded && s.opens_before_return > 0) {
        --s.opens_before_return;
        return nullptr;
    }
    return std::make_unique<FakeHandle>(s);
}

inline int waits = 0;
inline unsigned waited_ms = 0;
inline void count_wait(unsigned ms) {
    ++waits;
    waited_ms += ms;
}

// Puts the scripted board and a wait counter in place for the length of a test.
class ScriptedBoard {
public:
    explicit ScriptedBoard(BoardScript &s) {
        current_board = &s;
        waits = 0;
        waited_ms = 0;
        previous_opener_ = cusb::set_opener(open_script);
        previous_wait_ = vokhw::usb_set_wait_hook(count_wait);
    }
    ~ScriptedBoard() {
        cusb::set_opener(previous_opener_);
        vokhw::usb_set_wait_hook(previous_wait_);
        current_board = nullptr;
    }

private:
    cusb::Opener previous_opener_;
    vokhw::UsbWaitHook previous_wait_;
};

} // namespace qrt_test
