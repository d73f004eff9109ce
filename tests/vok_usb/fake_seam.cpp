#include "fake_seam.h"

#include <algorithm>
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
    ~Handle() override {
        std::lock_guard lock(current->mutex);
        ++current->closes;
    }
    int number() const override { return 0; }
    vokhw::UsbId id() const override { return {0x0547, 0x2131}; }

    int control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                uint16_t length, unsigned) override {
        Board &b = *current;
        std::lock_guard lock(b.mutex);
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
                    return vokhw::USB_ERROR_PIPE;
                if (data[0] == 0) { // the 8051 runs our firmware and renumerates
                    b.string1 = "JTAG";
                    b.string2 = "V009";
                    b.present = false;
                    if (b.run_leaves_bus)
                        return vokhw::USB_ERROR_NO_DEVICE;
                }
                return length;
            }
            return b.refuse_download ? int{vokhw::USB_ERROR_PIPE} : int{length};
        }
        return vokhw::USB_ERROR_PIPE;
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred, unsigned) override {
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
        b.changed.wait(lock, [&] { return !b.in_data.empty() || b.cancelled; });
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
};

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

std::unique_ptr<UsbHandle> usb_open(int, std::string *) {
    fake_seam::Board &b = fake_seam::board();
    std::lock_guard lock(b.mutex);
    if (!b.present) {
        // Away (renumerating) for away_opens tries.
        if (b.away_opens > 0) {
            --b.away_opens;
            return nullptr;
        }
        b.present = true;
    }
    ++b.opens;
    return std::make_unique<fake_seam::Handle>();
}

void usb_wait_ms(unsigned ms) {
    std::lock_guard lock(fake_seam::board().mutex);
    fake_seam::board().waits.push_back(ms);
}

} // namespace vokhw
