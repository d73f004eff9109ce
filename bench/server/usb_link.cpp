#include "usb_link.h"

#include <cstring>

#include "bench.h"
#include "bench_wire.h"

namespace bench {

using ezusb::Transfer;
namespace wire = benchwire;

UsbLink::UsbLink(Bench &bench) : bench_(bench) { bench_.add_link(this); }

UsbLink::~UsbLink() {
    if (waiting_) bench_.usb().drop(waiting_);
    if (session_) bench_.leave_session(session_);
    bench_.remove_link(this);
}

bool UsbLink::received(const uint8_t *data, size_t size, std::vector<uint8_t> &out) {
    in_.insert(in_.end(), data, data + size);
    size_t pos = 0;
    while (in_.size() - pos >= size_t(wire::USB_HEADER_SIZE)) {
        wire::UsbRequest r = wire::decode_request(&in_[pos]);
        if (r.length > wire::USB_MAX_PAYLOAD) return false;
        size_t need = wire::USB_HEADER_SIZE + (wire::request_has_payload(r) ? r.length : 0);
        if (in_.size() - pos < need) break;
        if (waiting_) return false; // one request at a time on a connection
        handle(&in_[pos], &in_[pos + wire::USB_HEADER_SIZE], out);
        pos += need;
        if (bad_) return false;
    }
    in_.erase(in_.begin(), in_.begin() + std::ptrdiff_t(pos));
    return true;
}

void UsbLink::answer(std::vector<uint8_t> &out, uint8_t op, int32_t result, uint32_t count,
                     const uint8_t *payload, size_t size) {
    wire::UsbAnswer a{op, result, count, uint32_t(size)};
    uint8_t h[wire::USB_HEADER_SIZE];
    wire::encode(a, h);
    out.insert(out.end(), h, h + sizeof h);
    if (size) out.insert(out.end(), payload, payload + size);
}

void UsbLink::submit(const ezusb::TransferPtr &t) {
    t->owner = this;
    waiting_ = t;
    bench_.usb().submit(t);
}

void UsbLink::handle(const uint8_t *header, const uint8_t *payload, std::vector<uint8_t> &out) {
    wire::UsbRequest r = wire::decode_request(header);
    ezusb::Bus &bus = bench_.usb();
    waiting_op_ = r.op;
    switch (r.op) {
    case wire::USB_LIST: {
        std::vector<uint8_t> list;
        for (auto &[n, b] : bus.boards()) {
            if (!b->present()) continue;
            list.resize(list.size() + wire::BOARD_ENTRY_SIZE);
            wire::encode(wire::BoardEntry{uint8_t(n), b->vid(), b->pid()}, &list[list.size() - wire::BOARD_ENTRY_SIZE]);
        }
        return answer(out, r.op, 0, 0, list.data(), list.size());
    }
    case wire::USB_OPEN: {
        if (session_) bench_.leave_session(session_);
        session_ = 0;
        int error = 0;
        uint64_t s = r.arg <= 255 ? bus.open(int(r.arg), &error) : 0;
        if (!s) return answer(out, r.op, error ? error : ezusb::USB_ERROR_NOT_FOUND, 0);
        session_ = s;
        bench_.join_session(s);
        ezusb::Board *b = bus.session_board(s);
        uint8_t p[wire::OPENED_SIZE];
        wire::encode(wire::OpenedBoard{uint32_t(s), b->vid(), b->pid()}, p);
        return answer(out, r.op, 0, 0, p, sizeof p);
    }
    case wire::USB_JOIN:
        if (session_ || !bus.session_board(r.arg)) return answer(out, r.op, ezusb::USB_ERROR_NO_DEVICE, 0);
        session_ = r.arg;
        bench_.join_session(session_);
        return answer(out, r.op, 0, 0);
    case wire::USB_WAIT: {
        auto t = std::make_shared<Transfer>();
        t->kind = Transfer::Kind::wait;
        t->timeout_ms = r.arg;
        if (r.ep) { // the wait for an IN posted ahead
            t->ep = r.ep;
            t->session = session_;
        }
        return submit(t);
    }
    case wire::USB_CONTROL: {
        if (r.length < 8) return answer(out, r.op, ezusb::USB_ERROR_INVALID, 0);
        auto t = std::make_shared<Transfer>();
        t->kind = Transfer::Kind::control;
        t->session = session_;
        std::memcpy(t->setup.bytes.data(), payload, 8);
        if (!t->setup.in()) {
            if (r.length - 8 != t->setup.length()) return answer(out, r.op, ezusb::USB_ERROR_INVALID, 0);
            t->data.assign(payload + 8, payload + r.length);
        }
        t->timeout_ms = r.timeout_ms;
        return submit(t);
    }
    case wire::USB_BULK: {
        auto t = std::make_shared<Transfer>();
        bool in = r.ep & 0x80;
        t->kind = in ? Transfer::Kind::bulk_in : Transfer::Kind::bulk_out;
        t->session = session_;
        t->ep = r.ep;
        t->ahead = in && (r.arg & wire::USB_BULK_AHEAD);
        t->length = r.length;
        if (!in) t->data.assign(payload, payload + r.length);
        t->timeout_ms = r.timeout_ms;
        return submit(t);
    }
    case wire::USB_CANCEL:
        bus.cancel(session_, r.ep);
        return answer(out, r.op, 0, 0);
    case wire::USB_CLEAR_HALT: {
        ezusb::Board *b = bus.session_board(session_);
        if (!b) return answer(out, r.op, ezusb::USB_ERROR_NO_DEVICE, 0);
        b->chip().clear_stall(r.ep & 0x0F, r.ep & 0x80);
        return answer(out, r.op, 0, 0);
    }
    case wire::USB_CONFIG: {
        ezusb::Board *b = bus.session_board(session_);
        if (!b) return answer(out, r.op, ezusb::USB_ERROR_NO_DEVICE, 0);
        const auto &c = b->config_descriptor();
        return answer(out, r.op, 0, uint32_t(c.size()), c.data(), c.size());
    }
    case wire::USB_CLOSE:
        if (session_) bench_.leave_session(session_, true);
        session_ = 0;
        return answer(out, r.op, 0, 0);
    default:
        bad_ = true;
        return;
    }
}

void UsbLink::completed(const Transfer &t) {
    if (!waiting_ || waiting_.get() != &t) return;
    bool in_data = (t.kind == Transfer::Kind::bulk_in) || (t.kind == Transfer::Kind::control && t.setup.in());
    answer(later_, waiting_op_, t.result, uint32_t(t.moved), in_data ? t.data.data() : nullptr,
           in_data ? t.data.size() : 0);
    waiting_.reset();
}

void UsbLink::take_output(std::vector<uint8_t> &out) {
    out.insert(out.end(), later_.begin(), later_.end());
    later_.clear();
}

} // namespace bench
