#include "redir_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <usbredirparser.h>

namespace bench::usbredir {

using ezusb::Transfer;
using ezusb::TransferPtr;

namespace {

constexpr uint8_t GET_DESCRIPTOR = 6, SET_CONFIGURATION = 9, SET_INTERFACE = 11;
constexpr uint8_t DESC_DEVICE = 1, DESC_CONFIG = 2, DESC_STRING = 3, DESC_INTERFACE = 4, DESC_ENDPOINT = 5;

RedirDevice *self(void *priv) { return static_cast<RedirDevice *>(priv); }

// Endpoint slot in usbredir's tables: OUT 0-15, IN 16-31.
int ep_slot(uint8_t ep) { return ((ep & 0x80) >> 3) | (ep & 0x0F); }

// A string descriptor's text; characters beyond ASCII become '?'.
std::string string_text(const std::vector<uint8_t> &d) {
    std::string s;
    size_t n = std::min<size_t>(d.size(), d.empty() ? 0 : d[0]);
    for (size_t i = 2; i + 1 < n; i += 2) {
        unsigned c = unsigned(d[i] | d[i + 1] << 8);
        s += c < 0x80 ? char(c) : '?';
    }
    return s;
}

// What goes back to the guest with a finished transfer: the bytes an IN moved,
// nothing for an OUT.
std::vector<uint8_t> data_moved_in(bool in, const Transfer &t) {
    if (!in) return {};
    return {t.data.begin(), t.data.begin() + std::min(t.data.size(), t.moved)};
}

} // namespace

int redir_status(int result) {
    switch (result) {
    case ezusb::USB_OK: return usb_redir_success;
    case ezusb::USB_ERROR_CANCELLED: return usb_redir_cancelled;
    case ezusb::USB_ERROR_PIPE: return usb_redir_stall;
    case ezusb::USB_ERROR_TIMEOUT: return usb_redir_timeout;
    case ezusb::USB_ERROR_OVERFLOW: return usb_redir_babble;
    case ezusb::USB_ERROR_INVALID:
    case ezusb::USB_ERROR_NOT_FOUND: return usb_redir_inval;
    default: return usb_redir_ioerror;
    }
}

RedirDevice::RedirDevice(ezusb::Bus &bus, int board, int fd) : bus_(bus), board_(board), fd_(fd) {
    parser_ = usbredirparser_create();
    if (!parser_) throw std::bad_alloc();
    parser_->priv = this;
    parser_->log_func = log_cb;
    parser_->read_func = read_cb;
    parser_->write_func = write_cb;
    parser_->hello_func = hello_cb;
    parser_->reset_func = reset_cb;
    parser_->set_configuration_func = set_configuration_cb;
    parser_->get_configuration_func = get_configuration_cb;
    parser_->set_alt_setting_func = set_alt_setting_cb;
    parser_->get_alt_setting_func = get_alt_setting_cb;
    parser_->cancel_data_packet_func = cancel_cb;
    parser_->control_packet_func = control_cb;
    parser_->bulk_packet_func = bulk_cb;
    parser_->device_disconnect_ack_func = disconnect_ack_cb;
    // The boards have neither isochronous nor interrupt endpoints nor streams:
    // such requests are refused.
    parser_->start_iso_stream_func = [](void *priv, uint64_t id, usb_redir_start_iso_stream_header *h) {
        usb_redir_iso_stream_status_header st{usb_redir_inval, h->endpoint};
        usbredirparser_send_iso_stream_status(self(priv)->parser_, id, &st);
    };
    parser_->start_interrupt_receiving_func = [](void *priv, uint64_t id,
                                                 usb_redir_start_interrupt_receiving_header *h) {
        usb_redir_interrupt_receiving_status_header st{usb_redir_inval, h->endpoint};
        usbredirparser_send_interrupt_receiving_status(self(priv)->parser_, id, &st);
    };
    parser_->alloc_bulk_streams_func = [](void *priv, uint64_t id, usb_redir_alloc_bulk_streams_header *h) {
        usb_redir_bulk_streams_status_header st{h->endpoints, 0, usb_redir_inval};
        usbredirparser_send_bulk_streams_status(self(priv)->parser_, id, &st);
    };
    parser_->start_bulk_receiving_func = [](void *priv, uint64_t id, usb_redir_start_bulk_receiving_header *h) {
        usb_redir_bulk_receiving_status_header st{h->stream_id, h->endpoint, usb_redir_inval};
        usbredirparser_send_bulk_receiving_status(self(priv)->parser_, id, &st);
    };
    uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    for (int cap : {usb_redir_cap_connect_device_version, usb_redir_cap_device_disconnect_ack,
                    usb_redir_cap_ep_info_max_packet_size, usb_redir_cap_64bits_ids,
                    usb_redir_cap_32bits_bulk_length})
        usbredirparser_caps_set_cap(caps, cap);
    // In usbredir's words the side that has the device is the "USB host".
    usbredirparser_init(parser_, "vokbench", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

RedirDevice::~RedirDevice() {
    for (auto &p : pending_)
        if (p.submitted) bus_.drop(p.transfer);
    if (reading_) bus_.drop(reading_);
    if (session_) bus_.close(session_);
    usbredirparser_destroy(parser_);
    ::close(fd_);
}

bool RedirDevice::wants_write() const { return !gone_ && usbredirparser_has_data_to_write(parser_); }

void RedirDevice::log_cb(void *, int level, const char *msg) {
    if (level <= usbredirparser_error) std::fprintf(stderr, "vokbench: usbredir: %s\n", msg);
}

int RedirDevice::read_cb(void *priv, uint8_t *data, int count) {
    RedirDevice *d = self(priv);
    for (;;) {
        ssize_t n = ::recv(d->fd_, data, size_t(count), 0);
        if (n > 0) return int(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        d->gone_ = true;
        return -1;
    }
}

int RedirDevice::write_cb(void *priv, uint8_t *data, int count) {
    RedirDevice *d = self(priv);
    for (;;) {
        ssize_t n = ::send(d->fd_, data, size_t(count), MSG_NOSIGNAL);
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        d->gone_ = true;
        return -1;
    }
}

void RedirDevice::hello_cb(void *priv, usb_redir_hello_header *) { self(priv)->hello_ = true; }

void RedirDevice::reset_cb(void *priv) {
    RedirDevice *d = self(priv);
    if (d->state_ != State::connected) return;
    if (ezusb::Board *b = d->bus_.session_board(d->session_)) {
        b->chip().bus_reset();
        b->chip().set_address(uint8_t(d->board_ + 1)); // the address the host's SET_ADDRESS gave
        d->configuration_ = 0;
        d->alt_.clear();
    }
}

TransferPtr RedirDevice::control_transfer(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                                          uint16_t length) {
    auto t = std::make_shared<Transfer>();
    t->kind = Transfer::Kind::control;
    t->session = session_;
    t->setup = ezusb::SetupPacket::make(type, request, value, index, length);
    t->owner = this;
    return t;
}

void RedirDevice::queue_setting(uint64_t id, Pending::Kind kind, uint8_t iface, uint8_t value) {
    Pending p;
    p.id = id;
    p.kind = kind;
    p.iface = iface;
    p.value = value;
    p.transfer = kind == Pending::Kind::set_config ? control_transfer(0x00, SET_CONFIGURATION, value, 0, 0)
                                                   : control_transfer(0x01, SET_INTERFACE, value, iface, 0);
    pending_.push_back(std::move(p));
}

void RedirDevice::set_configuration_cb(void *priv, uint64_t id, usb_redir_set_configuration_header *h) {
    self(priv)->queue_setting(id, Pending::Kind::set_config, 0, h->configuration);
}

void RedirDevice::get_configuration_cb(void *priv, uint64_t id) {
    RedirDevice *d = self(priv);
    usb_redir_configuration_status_header st{usb_redir_success, d->configuration_};
    usbredirparser_send_configuration_status(d->parser_, id, &st);
}

void RedirDevice::set_alt_setting_cb(void *priv, uint64_t id, usb_redir_set_alt_setting_header *h) {
    self(priv)->queue_setting(id, Pending::Kind::set_alt, h->interface, h->alt);
}

void RedirDevice::get_alt_setting_cb(void *priv, uint64_t id, usb_redir_get_alt_setting_header *h) {
    RedirDevice *d = self(priv);
    usb_redir_alt_setting_status_header st{usb_redir_success, h->interface, d->alt_[h->interface]};
    usbredirparser_send_alt_setting_status(d->parser_, id, &st);
}

void RedirDevice::control_cb(void *priv, uint64_t id, usb_redir_control_packet_header *h, uint8_t *data,
                             int len) {
    RedirDevice *d = self(priv);
    Pending p;
    p.id = id;
    p.kind = Pending::Kind::control;
    p.ep = h->endpoint;
    p.ctrl_type = h->requesttype;
    p.ctrl_request = h->request;
    p.ctrl_value = h->value;
    p.ctrl_index = h->index;
    p.transfer = d->control_transfer(h->requesttype, h->request, h->value, h->index, h->length);
    if (!(h->requesttype & 0x80) && data) p.transfer->data.assign(data, data + len);
    if (data) usbredirparser_free_packet_data(d->parser_, data);
    d->pending_.push_back(std::move(p));
}

void RedirDevice::bulk_cb(void *priv, uint64_t id, usb_redir_bulk_packet_header *h, uint8_t *data, int len) {
    RedirDevice *d = self(priv);
    Pending p;
    p.id = id;
    p.kind = Pending::Kind::bulk;
    p.ep = h->endpoint;
    auto t = std::make_shared<Transfer>();
    bool in = h->endpoint & 0x80;
    t->kind = in ? Transfer::Kind::bulk_in : Transfer::Kind::bulk_out;
    t->session = d->session_;
    t->ep = h->endpoint;
    t->length = size_t(h->length) | size_t(h->length_high) << 16;
    // The guest's host controller asks for IN data long before the OUT that
    // provokes it; such a request moves no time of its own. The guest's own
    // waiting moves the clock, at the pace of the wall clock, and so do its OUTs.
    t->ahead = in;
    if (!in) {
        if (data) t->data.assign(data, data + len);
        t->length = t->data.size();
    }
    t->owner = d;
    p.transfer = t;
    if (data) usbredirparser_free_packet_data(d->parser_, data);
    d->pending_.push_back(std::move(p));
}

void RedirDevice::cancel_cb(void *priv, uint64_t id) {
    RedirDevice *d = self(priv);
    auto it = std::find_if(d->pending_.begin(), d->pending_.end(), [&](const Pending &p) { return p.id == id; });
    if (it == d->pending_.end()) return;
    Transfer &t = *it->transfer;
    if (!it->submitted) {
        t.finished = true;
        t.result = ezusb::USB_ERROR_CANCELLED;
    } else if (!t.finished && it->kind == Pending::Kind::bulk) {
        d->bus_.cancel(d->session_, it->ep); // only this one is on the bus for its endpoint
    }
    // A control transfer under way ends by itself; the host forgets its answer.
}

void RedirDevice::disconnect_ack_cb(void *priv) {
    RedirDevice *d = self(priv);
    if (d->state_ == State::disconnecting) d->state_ = State::waiting;
}

void RedirDevice::pump() {
    if (gone_) return;
    if (usbredirparser_do_read(parser_) == usbredirparser_read_parse_error) gone_ = true;
    follow_board();
    finish_done();
    start_queued();
    if (usbredirparser_has_data_to_write(parser_)) usbredirparser_do_write(parser_);
}

void RedirDevice::follow_board() {
    ezusb::Board *b = bus_.board(board_);
    bool same_device = session_ && bus_.session_board(session_);
    switch (state_) {
    case State::waiting:
        if (!hello_ || !b || !b->present()) return;
        start_descriptor_read();
        return;
    case State::reading:
        if (!same_device) {
            drop_everything(usb_redir_ioerror);
            state_ = State::waiting;
            return;
        }
        if (reading_ && reading_->finished) descriptor_read_done(*reading_);
        return;
    case State::connected:
        if (same_device) return;
        // A request whose status stage was under way as the chip left (the run
        // request that starts a renumerating firmware) still ends as it ended.
        for (auto &p : pending_)
            if (p.submitted && !p.transfer->finished) return;
        finish_done();
        drop_everything(usb_redir_ioerror);
        usbredirparser_send_device_disconnect(parser_);
        state_ = usbredirparser_peer_has_cap(parser_, usb_redir_cap_device_disconnect_ack) ? State::disconnecting
                                                                                           : State::waiting;
        return;
    case State::disconnecting:
        return;
    }
}

void RedirDevice::drop_everything(int status) {
    for (auto &p : pending_) {
        if (!p.transfer->finished) {
            if (p.submitted) bus_.drop(p.transfer);
            p.transfer->finished = true;
            p.transfer->result = status == usb_redir_cancelled ? ezusb::USB_ERROR_CANCELLED : ezusb::USB_ERROR_NO_DEVICE;
            p.transfer->moved = 0;
        }
        complete(p);
    }
    pending_.clear();
    if (reading_) bus_.drop(reading_);
    reading_.reset();
    if (session_) bus_.close(session_);
    session_ = 0;
}

// After the hub's debounce, the port is reset and the chip addressed, then the
// device and configuration descriptors are read for the announcement.
void RedirDevice::start_descriptor_read() {
    int error = 0;
    session_ = bus_.open(board_, &error);
    if (!session_) return;
    state_ = State::reading;
    read_step_ = 0;
    reading_ = std::make_shared<Transfer>();
    reading_->kind = Transfer::Kind::wait;
    reading_->timeout_ms = bus_.settings().attach_delay_ms;
    reading_->owner = this;
    bus_.submit(reading_);
}

void RedirDevice::descriptor_read_done(const Transfer &t) {
    ezusb::Board *b = bus_.session_board(session_);
    if (!b) return;
    if (t.result != ezusb::USB_OK) {
        // A device that cannot give its descriptors is not announced: the host
        // would see nothing on a real port either.
        reading_.reset();
        return;
    }
    switch (read_step_) {
    case 0:
        b->chip().bus_reset();
        b->chip().set_address(uint8_t(board_ + 1));
        reading_ = control_transfer(0x80, GET_DESCRIPTOR, DESC_DEVICE << 8, 0, 18);
        break;
    case 1:
        if (t.data.size() < 18) return reading_.reset();
        device_desc_ = t.data;
        reading_ = control_transfer(0x80, GET_DESCRIPTOR, DESC_CONFIG << 8, 0, 9);
        break;
    case 2: {
        if (t.data.size() < 4) return reading_.reset();
        uint16_t total = uint16_t(t.data[2] | t.data[3] << 8);
        reading_ = control_transfer(0x80, GET_DESCRIPTOR, DESC_CONFIG << 8, 0, std::max<uint16_t>(total, 9));
        break;
    }
    default:
        config_desc_ = t.data;
        reading_.reset();
        announce();
        return;
    }
    ++read_step_;
    bus_.submit(reading_);
}

void RedirDevice::announce() {
    const auto &d = device_desc_;
    if (ezusb::Board *b = bus_.session_board(session_)) {
        b->note_identity(uint16_t(d[8] | d[9] << 8), uint16_t(d[10] | d[11] << 8), config_desc_);
        b->note_strings({});
    }
    strings_.clear();
    configuration_ = 0;
    alt_.clear();
    send_interface_and_ep_info();
    usb_redir_device_connect_header c{};
    c.speed = usb_redir_speed_full;
    c.device_class = d[4];
    c.device_subclass = d[5];
    c.device_protocol = d[6];
    c.vendor_id = uint16_t(d[8] | d[9] << 8);
    c.product_id = uint16_t(d[10] | d[11] << 8);
    c.device_version_bcd = uint16_t(d[12] | d[13] << 8);
    usbredirparser_send_device_connect(parser_, &c);
    state_ = State::connected;
}

// The interfaces of the configuration in their current alt settings, and the
// endpoints they hold.
void RedirDevice::send_interface_and_ep_info() {
    usb_redir_interface_info_header ii{};
    usb_redir_ep_info_header ei{};
    std::fill(std::begin(ei.type), std::end(ei.type), uint8_t(usb_redir_type_invalid));
    uint8_t ep0_size = device_desc_.size() > 7 ? device_desc_[7] : 64;
    for (int slot : {0, 16}) {
        ei.type[slot] = usb_redir_type_control;
        ei.max_packet_size[slot] = ep0_size;
    }
    const auto &c = config_desc_;
    bool selected = false;
    uint8_t iface = 0;
    for (size_t i = 0; i + 2 <= c.size() && c[i] >= 2 && i + c[i] <= c.size(); i += c[i]) {
        if (c[i + 1] == DESC_INTERFACE && c[i] >= 9) {
            iface = c[i + 2];
            selected = c[i + 3] == alt_[iface];
            if (selected && ii.interface_count < 32) {
                uint32_t k = ii.interface_count++;
                ii.interface[k] = iface;
                ii.interface_class[k] = c[i + 5];
                ii.interface_subclass[k] = c[i + 6];
                ii.interface_protocol[k] = c[i + 7];
            }
        } else if (c[i + 1] == DESC_ENDPOINT && c[i] >= 7 && selected) {
            int slot = ep_slot(c[i + 2]);
            ei.type[slot] = c[i + 3] & 0x03; // usbredir numbers the types as USB does
            ei.interval[slot] = c[i + 6];
            ei.interface[slot] = iface;
            ei.max_packet_size[slot] = uint16_t(c[i + 4] | c[i + 5] << 8);
        }
    }
    usbredirparser_send_interface_info(parser_, &ii);
    usbredirparser_send_ep_info(parser_, &ei);
}

// Starts what waits its turn: one control transfer at a time, and one bulk
// transfer per endpoint, each in the order the host sent them.
void RedirDevice::start_queued() {
    std::vector<uint8_t> busy_eps;
    bool control_busy = false;
    for (auto &p : pending_) {
        Transfer &t = *p.transfer;
        if (t.finished) continue;
        bool control = p.kind != Pending::Kind::bulk;
        if (p.submitted) {
            if (control) control_busy = true;
            else busy_eps.push_back(p.ep);
            continue;
        }
        if (state_ != State::connected) {
            t.finished = true;
            t.result = ezusb::USB_ERROR_NO_DEVICE;
            continue;
        }
        if (control ? control_busy : std::count(busy_eps.begin(), busy_eps.end(), p.ep) != 0) continue;
        t.session = session_;
        p.submitted = true;
        bus_.submit(p.transfer);
        if (control) control_busy = true;
        else busy_eps.push_back(p.ep);
    }
    finish_done();
}

void RedirDevice::finish_done() {
    while (true) {
        auto it = std::find_if(pending_.begin(), pending_.end(), [](const Pending &p) { return p.transfer->finished; });
        if (it == pending_.end()) return;
        complete(*it);
        pending_.erase(it);
    }
}

void RedirDevice::note_string(const Transfer &t) {
    int index = t.setup.value() & 0xFF;
    if (index == 0 || t.result != ezusb::USB_OK || t.data.size() < 2 || t.data[1] != DESC_STRING) return;
    strings_[index] = string_text(t.data);
    // Listed as the bench lists them: string 1 upwards, up to the first gap.
    std::vector<std::string> list;
    for (int i = 1; strings_.count(i); ++i) list.push_back(strings_[i]);
    if (ezusb::Board *b = bus_.session_board(session_)) b->note_strings(list);
}

void RedirDevice::complete(Pending &p) {
    const Transfer &t = *p.transfer;
    uint8_t status = uint8_t(redir_status(t.result));
    switch (p.kind) {
    case Pending::Kind::control: {
        if (p.ctrl_type == 0x80 && p.ctrl_request == GET_DESCRIPTOR && (p.ctrl_value >> 8) == DESC_STRING)
            note_string(t);
        usb_redir_control_packet_header h{};
        h.endpoint = p.ep;
        h.request = p.ctrl_request;
        h.requesttype = p.ctrl_type;
        h.status = status;
        h.value = p.ctrl_value;
        h.index = p.ctrl_index;
        h.length = uint16_t(t.moved);
        std::vector<uint8_t> data = data_moved_in(p.ctrl_type & 0x80, t);
        usbredirparser_send_control_packet(parser_, p.id, &h, data.empty() ? nullptr : data.data(), int(data.size()));
        return;
    }
    case Pending::Kind::bulk: {
        usb_redir_bulk_packet_header h{};
        h.endpoint = p.ep;
        h.status = status;
        h.length = uint16_t(t.moved & 0xFFFF);
        h.length_high = uint16_t(t.moved >> 16);
        std::vector<uint8_t> data = data_moved_in(p.ep & 0x80, t);
        usbredirparser_send_bulk_packet(parser_, p.id, &h, data.empty() ? nullptr : data.data(), int(data.size()));
        return;
    }
    case Pending::Kind::set_config: {
        if (t.result == ezusb::USB_OK) {
            configuration_ = p.value;
            alt_.clear();
        }
        usb_redir_configuration_status_header h{status, configuration_};
        usbredirparser_send_configuration_status(parser_, p.id, &h);
        if (state_ == State::connected) send_interface_and_ep_info();
        return;
    }
    case Pending::Kind::set_alt: {
        if (t.result == ezusb::USB_OK) alt_[p.iface] = p.value;
        usb_redir_alt_setting_status_header h{status, p.iface, alt_[p.iface]};
        usbredirparser_send_alt_setting_status(parser_, p.id, &h);
        if (state_ == State::connected) send_interface_and_ep_info();
        return;
    }
    default:
        return;
    }
}

} // namespace bench::usbredir
