#include "fake_usb.h"

#include <algorithm>

namespace fakeusb {
namespace {

Board *current = new Board;

namespace reg {
#define AN2131_XREG(name, addr) constexpr uint16_t name = addr;
#include "an2131_registers.def"
} // namespace reg

Bytes config_descriptor(const Bytes &endpoints) {
    Bytes d = {9, 2, 0, 0, 1, 1, 0, 0xA0, 250, 9, 4, 0, 0, uint8_t(endpoints.size()), 0xFF, 0, 0, 0};
    for (uint8_t ep : endpoints) d.insert(d.end(), {7, 5, ep, 2, 64, 0, 0});
    d[2] = uint8_t(d.size());
    d[3] = uint8_t(d.size() >> 8);
    return d;
}

class Handle : public vokhw::UsbHandle {
public:
    explicit Handle(bool neighbour) : neighbour_(neighbour) {}
    ~Handle() override {
        std::lock_guard lock(current->mutex);
        ++current->closes;
    }
    int number() const override { return current->number + (neighbour_ && current->present ? 1 : 0); }
    vokhw::UsbId id() const override { return {0x0547, 0x2131}; }
    std::string place() const override { return neighbour_ ? "1-2" : current->place; }

    int control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint8_t *data, uint16_t length,
                unsigned) override {
        Board &b = *current;
        std::lock_guard lock(b.mutex);
        if (neighbour_) {
            ++b.neighbour_requests;
            return vokhw::USB_ERROR_PIPE;
        }
        const bool in = type & vokhw::USB_REQUEST_IN;
        b.log.push_back({Transfer::CONTROL, type, request, value, index, 0, in ? Bytes(length) : Bytes(data, data + length)});
        if (type == 0x80 && request == 6 && (value >> 8) == 3) return string(b, value & 0xFF, data, length);
        if (type != 0x40 || request != 0xA0) return vokhw::USB_ERROR_PIPE;
        if (value != reg::CPUCS) {
            if (b.refuse_download) return vokhw::USB_ERROR_PIPE;
            b.downloaded = true;
            return length;
        }
        if (length < 1 || b.refuse_cpucs == data[0]) return b.cpucs_error;
        if (data[0] == 0) { // the 8051 runs the image and renumerates
            if (!b.firmware_strings.empty()) b.strings = b.firmware_strings;
            b.present = false;
            b.away_opens = b.away_after_run;
            if (b.run_leaves_bus) return b.cpucs_error;
        }
        return length;
    }

    int bulk(uint8_t endpoint, uint8_t *data, int length, int *transferred, unsigned) override {
        if (!(endpoint & vokhw::USB_ENDPOINT_IN)) return out(endpoint, data, length, transferred);
        return in(endpoint, data, length, transferred, nullptr);
    }

    // The IN goes out before the OUT that provokes its answer, and ends with
    // what that OUT brought: a timeout when it brought nothing.
    int bulk_in_ahead(uint8_t endpoint, uint8_t *data, int length, int *transferred,
                      const std::function<void()> &posted) override {
        return in(endpoint, data, length, transferred, &posted);
    }

    void cancel(uint8_t) override {
        std::lock_guard lock(current->mutex);
        ++current->cancels;
        ++current->cancel_count;
        current->changed.notify_all();
    }

    int config_descriptor(std::vector<uint8_t> &out) override {
        std::lock_guard lock(current->mutex);
        out = fakeusb::config_descriptor(current->endpoints);
        return vokhw::USB_OK;
    }
    int clear_halt(uint8_t endpoint) override {
        std::lock_guard lock(current->mutex);
        current->log.push_back({Transfer::CLEAR_HALT, 0, 0, 0, 0, endpoint, {}});
        return vokhw::USB_OK;
    }

private:
    // Descriptor 0 lists US English; the others are the board's strings.
    static int string(Board &b, int i, uint8_t *data, uint16_t length) {
        if (b.strings.empty() || i > int(b.strings.size())) return vokhw::USB_ERROR_PIPE;
        const Bytes d = i == 0 ? Bytes{4, 3, 0x09, 0x04} : string_descriptor(b.strings[size_t(i - 1)]);
        const size_t n = std::min<size_t>(length, d.size());
        std::copy_n(d.begin(), n, data);
        return int(n);
    }

    int out(uint8_t endpoint, uint8_t *data, int length, int *transferred) {
        Board &b = *current;
        std::lock_guard lock(b.mutex);
        const Bytes bytes(data, data + length);
        b.log.push_back({Transfer::BULK, 0, 0, 0, 0, endpoint, bytes});
        *transferred = 0;
        int rc = vokhw::USB_OK;
        if (endpoint == b.failing_endpoint) {
            rc = vokhw::USB_ERROR_IO;
        } else if (!b.zero_count_writes) {
            *transferred = length;
            if (b.responder) {
                const Bytes answer = b.responder(endpoint, bytes);
                b.in_data.insert(b.in_data.end(), answer.begin(), answer.end());
            }
        }
        ++b.outs_done;
        b.changed.notify_all();
        return rc;
    }

    // Takes what the board has queued, up to length; with nothing queued a plain
    // IN times out at once, an IN posted ahead waits for the next OUT.
    int in(uint8_t endpoint, uint8_t *data, int length, int *transferred, const std::function<void()> *posted) {
        Board &b = *current;
        std::unique_lock lock(b.mutex);
        b.log.push_back({Transfer::BULK, 0, 0, 0, 0, endpoint, Bytes(size_t(std::max(length, 0)))});
        *transferred = 0;
        const long outs = b.outs_done, cancels = b.cancel_count;
        if (posted) {
            lock.unlock();
            (*posted)();
            lock.lock();
        }
        if (b.fail_reads) return vokhw::USB_ERROR_IO;
        if (posted)
            b.changed.wait(lock, [&] { return !b.in_data.empty() || b.outs_done > outs || b.cancel_count > cancels; });
        if (b.cancel_count > cancels) return vokhw::USB_ERROR_CANCELLED;
        if (b.in_data.empty()) return vokhw::USB_ERROR_TIMEOUT;
        const int n = std::min<int>(length, int(b.in_data.size()));
        std::copy_n(b.in_data.begin(), n, data);
        b.in_data.erase(b.in_data.begin(), b.in_data.begin() + n);
        *transferred = n;
        return vokhw::USB_OK;
    }

    bool neighbour_;
};

std::unique_ptr<vokhw::UsbHandle> give(Board &b, bool neighbour) {
    ++b.opens;
    return std::make_unique<Handle>(neighbour);
}

// Our board, unless it is away.
std::unique_ptr<vokhw::UsbHandle> open_ours(Board &b) {
    if (!b.present) {
        if (b.away_opens > 0) {
            --b.away_opens;
            return nullptr;
        }
        b.present = true;
    }
    return give(b, false);
}

} // namespace

Bytes all_endpoints() { return {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87}; }

void Board::answer(const Bytes &bytes) {
    std::lock_guard lock(mutex);
    in_data.insert(in_data.end(), bytes.begin(), bytes.end());
    changed.notify_all();
}

std::vector<Transfer> Board::of_kind(Transfer::Kind kind, uint8_t endpoint) {
    std::lock_guard lock(mutex);
    std::vector<Transfer> found;
    for (const Transfer &t : log)
        if (t.kind == kind && (endpoint == 0 || t.endpoint == endpoint)) found.push_back(t);
    return found;
}

std::vector<Bytes> Board::sent(uint8_t endpoint) {
    std::vector<Bytes> data;
    for (const Transfer &t : of_kind(Transfer::BULK, endpoint)) data.push_back(t.data);
    return data;
}

unsigned Board::waited_ms() {
    std::lock_guard lock(mutex);
    unsigned sum = 0;
    for (unsigned ms : waits) sum += ms;
    return sum;
}

Board &reset() {
    delete current;
    current = new Board;
    return *current;
}
Board &board() { return *current; }

// Board `number` is ours while it is present; the neighbour comes after it, or
// takes its number while it is away.
std::unique_ptr<vokhw::UsbHandle> open(int number, std::string *reason) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    std::unique_ptr<vokhw::UsbHandle> h;
    if (b.neighbour && number == b.number + 1) {
        if (!b.present && b.away_opens-- <= 0) b.present = true;
        if (b.present) h = give(b, true);
    } else if (number == b.number) {
        h = !b.present && b.neighbour ? give(b, true) : open_ours(b);
    }
    if (!h && reason) *reason = "no board " + std::to_string(number) + " in this test";
    return h;
}

std::unique_ptr<vokhw::UsbHandle> open_place(const std::string &place, std::string *reason) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    std::unique_ptr<vokhw::UsbHandle> h;
    if (place == "1-2" && b.neighbour) h = give(b, true);
    else if (!place.empty() && place == b.place) h = open_ours(b);
    if (!h && reason) *reason = "no board at " + place;
    return h;
}

std::vector<vokhw::UsbBoardInfo> list_boards() {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    std::vector<vokhw::UsbBoardInfo> list;
    if (b.present || b.neighbour) list.push_back({b.number, 0x0547, 0x2131, "fake", b.present ? b.place : "1-2"});
    if (b.present && b.neighbour) list.push_back({b.number + 1, 0x0547, 0x2131, "fake", "1-2"});
    return list;
}

void wait_ms(unsigned ms) {
    std::lock_guard lock(board().mutex);
    board().waits.push_back(ms);
}

Bytes string_descriptor(const std::string &text) {
    Bytes d = {uint8_t(2 + 2 * text.size()), 3};
    for (char c : text) d.insert(d.end(), {uint8_t(c), 0});
    return d;
}

} // namespace fakeusb
