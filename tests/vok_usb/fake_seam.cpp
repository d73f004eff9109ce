#include "fake_seam.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "usb.h"

namespace fake_seam {
namespace {

Board *current = new Board;

// The interface of our firmware: EP1-7 OUT, EP1 IN, EP2-7 IN.
std::vector<uint8_t> config_descriptor() {
    std::vector<uint8_t> d = {9, 2, 116, 0, 1, 1, 0, 0xA0, 250, 9, 4, 0, 0, 14, 0xFF, 0, 0, 0};
    for (uint8_t ep : {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x81, 0x82, 0x83, 0x84, 0x85,
                       0x86, 0x87})
        d.insert(d.end(), {7, 5, ep, static_cast<uint8_t>(ep == 0x81 ? 3 : 2), 64, 0, 0});
    return d;
}

class Handle : public vokhw::UsbHandle {
public:
    explicit Handle(bool neighbour = false) : neighbour_(neighbour) {}
    ~Handle() override {
        std::lock_guard lock(current->mutex);
        ++current->closes;
    }
    int number() const override { return 0; }
    vokhw::UsbId id() const override { return {0x0547, 0x2131}; }
    std::string place() const override { return neighbour_ ? "1-2" : "1-1"; }

    int control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                uint16_t length, unsigned) override {
        Board &b = *current;
        std::lock_guard lock(b.mutex);
        if (neighbour_) {
            ++b.neighbour_requests;
            return vokhw::USB_ERROR_PIPE;
        }
        b.controls.push_back({type, request, value, index,
                              type & 0x80 ? std::vector<uint8_t>{}
                                          : std::vector<uint8_t>(data, data + length)});
        if (type == 0x80 && request == 6 && (value >> 8) == 3) {
            const std::string &s = (value & 0xFF) == 1 ? b.string1 : b.string2;
            if (b.string1.empty())
                return vokhw::USB_ERROR_PIPE;
            std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * s.size()), 3};
            for (char c : s)
                d.insert(d.end(), {static_cast<uint8_t>(c), 0});
            int n = std::min<int>(length, static_cast<int>(d.size()));
            std::copy_n(d.begin(), n, data);
            return n;
        }
        if (type == 0x40 && request == 0xA0) {
            if (value == 0x7F92) {
                if (b.refuse_cpucs == data[0])
                    return b.cpucs_error;
                if (data[0] == 0) { // the 8051 runs our firmware and renumerates
                    b.string1 = "JTAG";
                    b.string2 = "V009";
                    b.present = false;
                    if (b.run_leaves_bus)
                        return b.cpucs_error;
                }
                return length;
            }
            return b.refuse_download ? int{vokhw::USB_ERROR_PIPE} : int{length};
        }
        return vokhw::USB_ERROR_PIPE;
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred, unsigned timeout_ms) override {
        Board &b = *current;
        std::unique_lock lock(b.mutex);
        b.bulk_requests.emplace_back(endpoint, length);
        *transferred = 0;
        if (!(endpoint & 0x80)) {
            if (b.zero_count_writes)
                return vokhw::USB_OK;
            if (endpoint == 0x04 && b.echo_ep4) {
                b.in_data.insert(b.in_data.end(), data, data + length);
                b.changed.notify_all();
            }
            *transferred = length;
            return vokhw::USB_OK;
        }
        if (b.fail_reads)
            return vokhw::USB_ERROR_IO;
        auto ready = [&] { return !b.in_data.empty() || b.cancelled; };
        if (timeout_ms == 0)
            b.changed.wait(lock, ready);
        else if (!b.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
            return vokhw::USB_ERROR_TIMEOUT;
        if (b.cancelled) {
            b.cancelled = false;
            return vokhw::USB_ERROR_CANCELLED;
        }
        int n = std::min<int>(length, static_cast<int>(b.in_data.size()));
        std::copy_n(b.in_data.begin(), n, data);
        b.in_data.erase(b.in_data.begin(), b.in_data.begin() + n);
        *transferred = n;
        return vokhw::USB_OK;
    }

    void cancel(uint8_t) override {
        std::lock_guard lock(current->mutex);
        ++current->cancels;
        current->cancelled = true;
        current->changed.notify_all();
    }

    int config_descriptor(std::vector<uint8_t> &out) override {
        out = fake_seam::config_descriptor();
        return vokhw::USB_OK;
    }
    int clear_halt(uint8_t) override { return vokhw::USB_OK; }

private:
    bool neighbour_;
};

// The board at place 1-1, unless it is away.
std::unique_ptr<vokhw::UsbHandle> open_board(Board &b) {
    if (!b.present) {
        // Away (renumerating) for away_opens tries.
        if (b.away_opens > 0) {
            --b.away_opens;
            return nullptr;
        }
        b.present = true;
    }
    ++b.opens;
    return std::make_unique<Handle>();
}

} // namespace

Board &reset() {
    delete current;
    current = new Board;
    return *current;
}
Board &board() { return *current; }

void answer(const std::vector<uint8_t> &bytes) {
    std::lock_guard lock(current->mutex);
    current->in_data.insert(current->in_data.end(), bytes.begin(), bytes.end());
    current->changed.notify_all();
}

} // namespace fake_seam

namespace vokhw {

// Board 0 is the first board present: the neighbour while ours is away; with
// ours present, the neighbour is board 1.
std::unique_ptr<UsbHandle> usb_open(int number, std::string *reason) {
    fake_seam::Board &b = fake_seam::board();
    std::lock_guard lock(b.mutex);
    std::unique_ptr<UsbHandle> h;
    if (number == 1 && b.neighbour) {
        if (!b.present && b.away_opens-- <= 0)
            b.present = true;
        if (b.present)
            h = std::make_unique<fake_seam::Handle>(true);
    } else if (number == 0) {
        if (!b.present && b.neighbour)
            return std::make_unique<fake_seam::Handle>(true);
        h = fake_seam::open_board(b);
    }
    if (!h && reason)
        *reason = "no board " + std::to_string(number) + " in this test";
    return h;
}

std::unique_ptr<UsbHandle> usb_open_place(const std::string &place, std::string *reason) {
    fake_seam::Board &b = fake_seam::board();
    std::lock_guard lock(b.mutex);
    if (place == "1-2" && b.neighbour)
        return std::make_unique<fake_seam::Handle>(true);
    auto h = place == "1-1" ? fake_seam::open_board(b) : nullptr;
    if (!h && reason)
        *reason = "no board at " + place;
    return h;
}

// Board 0 while it is there (and the neighbour, when there is one).
std::vector<UsbBoardInfo> usb_list_boards() {
    fake_seam::Board &b = fake_seam::board();
    std::lock_guard lock(b.mutex);
    std::vector<UsbBoardInfo> list;
    if (b.present || b.neighbour) list.push_back({0, 0x0547, 0x2131, "fake", b.present ? "1-1" : "1-2"});
    if (b.present && b.neighbour) list.push_back({1, 0x0547, 0x2131, "fake", "1-2"});
    return list;
}

const char *usb_error_text(int code) { return code == USB_ERROR_PIPE ? "stall" : "error"; }

void usb_wait_ms(unsigned ms) {
    std::lock_guard lock(fake_seam::board().mutex);
    fake_seam::board().waits.push_back(ms);
}

} // namespace vokhw
