#include "usbbus.h"

#include <algorithm>
#include <stdexcept>

#include "boards.h"

namespace bench::ezusb {

namespace {

constexpr uint8_t GET_DESCRIPTOR = 6, SET_ADDRESS = 5, SET_CONFIGURATION = 9;
constexpr int MAX_STRINGS = 15;

// A string descriptor's UTF-16LE text as UTF-8.
std::string decode_string(const std::vector<uint8_t> &d) {
    std::string s;
    size_t n = std::min<size_t>(d.size(), d.empty() ? 0 : d[0]);
    for (size_t i = 2; i + 1 < n; i += 2) {
        unsigned c = unsigned(d[i] | d[i + 1] << 8);
        if (c < 0x80) {
            s += char(c);
        } else if (c < 0x800) {
            s += char(0xC0 | c >> 6);
            s += char(0x80 | (c & 0x3F));
        } else {
            s += char(0xE0 | c >> 12);
            s += char(0x80 | ((c >> 6) & 0x3F));
            s += char(0x80 | (c & 0x3F));
        }
    }
    return s;
}

} // namespace

// ---- Board ----

Board::Board(int number, std::string kind, Target &target, ChipSettings settings)
    : number_(number), kind_(std::move(kind)), wiring_(make_wiring(kind_, target)),
      chip_(std::make_unique<An2131>(settings)) {
    chip_->attach_wiring(wiring_.get());
}

Board::~Board() = default;

bool Board::attached() const {
    uint8_t cs = chip_->usbcs();
    return plugged_ && (cs & USBCS_DISCOE) && !(cs & USBCS_DISCON);
}

void Board::note_identity(uint16_t vid, uint16_t pid, std::vector<uint8_t> config) {
    vid_ = vid;
    pid_ = pid;
    config_ = std::move(config);
}

void Board::reset_counts() {
    cycles_base_ = chip_->cycles();
    loads_base_ = chip_->loads();
    packets_out_ = packets_in_ = naks_ = bulk_ticks_ = 0;
}

// ---- Bus ----

Bus::Bus(Target &target, BusSettings settings) : target_(target), settings_(settings) {}

Bus::~Bus() = default;

Board &Bus::add_board(int number, const std::string &kind, ChipSettings settings) {
    return add_board(number, kind, target_, settings);
}

Board &Bus::add_board(int number, const std::string &kind, Target &target, ChipSettings settings) {
    if (auto it = boards_.find(number); it != boards_.end()) {
        it->second->plugged_ = false;
        board_changed(*it->second);
        collect();
        boards_.erase(it);
    }
    auto b = std::make_unique<Board>(number, kind, target, settings);
    Board &ref = *b;
    boards_[number] = std::move(b);
    ref.power_tick_ = now_;
    ref.chip().on_usbcs([this, &ref](uint8_t) { board_changed(ref); });
    board_changed(ref);
    return ref;
}

Board *Bus::board(int number) {
    auto it = boards_.find(number);
    return it == boards_.end() ? nullptr : it->second.get();
}

void Bus::unplug(int number) {
    Board *b = board(number);
    if (!b || !b->plugged_) return;
    b->plugged_ = false;
    board_changed(*b);
    collect();
}

void Bus::plug(int number) {
    Board *b = board(number);
    if (!b || b->plugged_) return;
    // Bus powered: a board plugged in again starts as a bare chip.
    b->chip().power_on();
    b->power_tick_ = now_;
    b->cycles_given_ = 0;
    b->plugged_ = true;
    board_changed(*b);
    collect();
}

void Bus::set_outside_host(int number, bool outside) {
    if (outside) outside_hosted_.insert(number);
    else outside_hosted_.erase(number);
}

void Bus::board_changed(Board &b) {
    bool att = b.attached();
    if (att && !b.was_attached_) {
        ++b.generation_;
        b.present_ = false;
        b.enum_ = Board::Enum::waiting;
        b.enum_at_ = now_ + settings_.attach_delay_ms * TICKS_PER_MS;
        if (outside_host(b.number_)) {
            b.present_ = true;
            b.enum_ = Board::Enum::idle;
            b.strings_.clear();
        }
    } else if (!att && b.was_attached_) {
        detach(b);
    }
    b.was_attached_ = att;
}

void Bus::detach(Board &b) {
    b.present_ = false;
    b.enum_ = Board::Enum::idle;
    b.enum_xfer_.reset();
    b.claimed_by_.reset();
    b.chip().set_address(0);
    for (auto &t : pending_)
        if (t->board == b.number_ && !t->finished && !(t->kind == Transfer::Kind::control && t->data_done && t->end))
            finish(*t, USB_ERROR_NO_DEVICE);
}

uint64_t Bus::open(int number, int *error) {
    Board *b = board(number);
    if (!b || !b->present_) {
        *error = USB_ERROR_NOT_FOUND;
        return 0;
    }
    if (b->claimed_by_ && session_board(*b->claimed_by_) == b) {
        *error = USB_ERROR_BUSY;
        return 0;
    }
    uint64_t s = next_session_++;
    sessions_[s] = {number, b->generation_};
    b->claimed_by_ = s;
    *error = USB_OK;
    return s;
}

void Bus::close(uint64_t session) {
    for (auto &t : pending_)
        if (t->session == session && !t->finished) finish(*t, USB_ERROR_CANCELLED);
    collect();
    if (Board *b = session_board(session); b && b->claimed_by_ == session) b->claimed_by_.reset();
    sessions_.erase(session);
}

Board *Bus::session_board(uint64_t session) {
    auto it = sessions_.find(session);
    if (it == sessions_.end()) return nullptr;
    Board *b = board(it->second.first);
    if (!b || !b->present_ || b->generation_ != it->second.second) return nullptr;
    return b;
}

void Bus::submit(const TransferPtr &t) {
    t->finished = false;
    t->moved = 0;
    t->started = false;
    t->data_done = false;
    t->end = 0;
    t->start = now_;
    if (t->kind == Transfer::Kind::wait) {
        t->end = now_ + t->timeout_ms * TICKS_PER_MS;
        pending_.push_back(t);
        return;
    }
    Board *b = session_board(t->session);
    if (!b) {
        t->board = -1;
        finish(*t, USB_ERROR_NO_DEVICE);
        finished_.push_back(t);
        return;
    }
    t->board = b->number_;
    if (t->kind != Transfer::Kind::control && ((t->ep & 0x0F) == 0 || (t->ep & 0x0F) > 7)) {
        finish(*t, USB_ERROR_NOT_FOUND);
        finished_.push_back(t);
        return;
    }
    pending_.push_back(t);
}

void Bus::cancel(uint64_t session, uint8_t ep) {
    for (auto &t : pending_)
        if (t->session == session && !t->finished && t->kind != Transfer::Kind::control && t->ep == ep)
            finish(*t, USB_ERROR_CANCELLED);
    collect();
}

void Bus::drop(const TransferPtr &t) {
    t->owner = nullptr;
    finish(*t, USB_ERROR_CANCELLED);
    collect();
}

void Bus::finish(Transfer &t, int result) {
    if (t.finished) return;
    t.finished = true;
    t.result = result;
}

void Bus::collect() {
    for (auto &t : pending_)
        if (t->finished && t->owner) finished_.push_back(t);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [](const TransferPtr &t) { return t->finished; }),
                   pending_.end());
}

std::vector<TransferPtr> Bus::take_finished() {
    std::vector<TransferPtr> out;
    out.swap(finished_);
    return out;
}

bool Bus::drives_clock(const Transfer &t) const {
    if (t.finished) return false;
    switch (t.kind) {
    case Transfer::Kind::wait:
    case Transfer::Kind::bulk_out:
        return true;
    case Transfer::Kind::control:
        return t.owner != nullptr; // the bus's own enumeration waits for the host to move time
    case Transfer::Kind::bulk_in:
        return !t.ahead;
    }
    return false;
}

bool Bus::in_pending(uint64_t session, uint8_t ep) const {
    return std::any_of(pending_.begin(), pending_.end(), [&](const TransferPtr &t) {
        return !t->finished && t->kind == Transfer::Kind::bulk_in && t->session == session && t->ep == ep;
    });
}

// An IN that the host waits on: it runs the clock, by itself or through the wait.
bool Bus::in_awaited(const Transfer &in) const {
    if (!in.ahead) return true;
    return std::any_of(pending_.begin(), pending_.end(), [&](const TransferPtr &t) {
        return !t->finished && t->kind == Transfer::Kind::wait && t->ep == in.ep && t->session == in.session;
    });
}

bool Bus::busy() const {
    // The host enumerates a board as soon as it is attached, whether or not a
    // program has opened it yet, so an enumeration under way drives the clock.
    for (auto &[n, b] : boards_)
        if (b->enum_ == Board::Enum::waiting || b->enum_ == Board::Enum::running) return true;
    return std::any_of(pending_.begin(), pending_.end(), [&](const TransferPtr &t) { return drives_clock(*t); });
}

bool Bus::needs_slots() const {
    for (auto &t : pending_)
        if (!t->finished && t->kind != Transfer::Kind::wait) return true;
    for (auto &[n, b] : boards_)
        if (b->enum_ == Board::Enum::running || (b->enum_ == Board::Enum::waiting && b->enum_at_ <= now_)) return true;
    return false;
}

void Bus::start_control(Board &b, Transfer &t) {
    t.started = true;
    t.start = now_;
    t.deadline = now_ + (t.timeout_ms ? t.timeout_ms : settings_.control_limit_ms) * TICKS_PER_MS;
    if (!t.setup.in()) t.length = t.data.size();
    else t.length = t.setup.length();
    if (answerer(b.chip(), t.setup) == Answerer::core) {
        // The core answers at once; the host sees the result after its round trip.
        CoreAnswer a = core_request(b.chip(), t.setup, t.data);
        t.result = a.ok ? USB_OK : USB_ERROR_PIPE;
        if (t.setup.in()) t.data = std::move(a.data);
        t.moved = a.ok ? (t.setup.in() ? t.data.size() : t.length) : 0;
        t.data_done = true;
        t.end = now_ + TICKS_PER_MS;
        return;
    }
    if (t.setup.in()) t.data.clear();
    b.chip().setup_packet(t.setup.bytes);
    t.data_done = t.length == 0;
}

void Bus::step_control(Board &b, Transfer &t) {
    if (t.end) { // decided; waiting for the round trip
        if (now_ >= t.end) finish(t, t.result);
        return;
    }
    An2131 &chip = b.chip();
    if (chip.ep0_stalled()) {
        t.data_done = true;
        t.result = USB_ERROR_PIPE;
        t.end = std::max(now_, t.start + TICKS_PER_MS);
        return;
    }
    if (!t.data_done) {
        if (t.setup.in()) {
            uint8_t buf[PACKET_SIZE];
            int n = chip.ep0_in(buf);
            if (n >= 0) {
                size_t take = std::min<size_t>(size_t(n), t.length - t.moved);
                t.data.insert(t.data.end(), buf, buf + take);
                t.moved += take;
                if (n < PACKET_SIZE || t.moved >= t.length) t.data_done = true;
            }
        } else {
            size_t chunk = std::min<size_t>(PACKET_SIZE, t.length - t.moved);
            if (chip.ep0_out(t.data.data() + t.moved, int(chunk))) {
                t.moved += chunk;
                if (t.moved >= t.length) t.data_done = true;
            }
        }
    }
    if (t.data_done && !chip.handshake_pending()) {
        t.result = USB_OK;
        t.end = std::max(now_, t.start + TICKS_PER_MS);
    }
}

// The chip refused a bulk token: a NAK (-1) leaves the transfer for a later slot and
// the slot unused (false); a stall (-2) or another error ends it (true).
bool Bus::token_refused(Board &b, Transfer &t, int refusal) {
    if (refusal == -1) {
        ++b.naks_;
        return false;
    }
    finish(t, refusal == -2 ? USB_ERROR_PIPE : USB_ERROR_IO);
    return true;
}

// One token of a bulk transfer; true when it used the slot.
bool Bus::bulk_token(Board &b, Transfer &t) {
    int ep = t.ep & 0x0F;
    if (t.kind == Transfer::Kind::bulk_out) {
        size_t chunk = std::min<size_t>(PACKET_SIZE, t.length - t.moved);
        int r = b.chip().bulk_out(ep, t.data.data() + t.moved, int(chunk));
        if (r < 0) return token_refused(b, t, r);
        ++b.packets_out_;
        t.moved += chunk;
        if (t.moved >= t.length) finish(t, USB_OK);
        return true;
    }
    uint8_t buf[PACKET_SIZE];
    int r = b.chip().bulk_in(ep, buf);
    if (r < 0) return token_refused(b, t, r);
    ++b.packets_in_;
    size_t take = std::min<size_t>(size_t(r), t.length - t.moved);
    t.data.insert(t.data.end(), buf, buf + take);
    t.moved += take;
    if (size_t(r) > take) finish(t, USB_ERROR_OVERFLOW);
    else if (r < PACKET_SIZE || t.moved >= t.length) finish(t, USB_OK);
    return true;
}

void Bus::step_enumeration(Board &b) {
    if (b.enum_ == Board::Enum::waiting && now_ >= b.enum_at_) {
        b.chip().bus_reset();
        b.enum_ = Board::Enum::running;
        b.enum_step_ = 0;
        b.enum_strings_.clear();
        b.enum_xfer_.reset();
    }
    if (b.enum_ != Board::Enum::running) return;
    if (b.enum_xfer_ && !b.enum_xfer_->finished) return;
    if (b.enum_xfer_) enumeration_done(b, *b.enum_xfer_);
    if (b.enum_ != Board::Enum::running) return;
    auto x = std::make_shared<Transfer>();
    x->kind = Transfer::Kind::control;
    x->board = b.number_;
    x->start = now_;
    switch (b.enum_step_) {
    case 0: x->setup = SetupPacket::make(0x80, GET_DESCRIPTOR, 0x0100, 0, 18); break;
    case 1: x->setup = SetupPacket::make(0x00, SET_ADDRESS, uint16_t(b.number_ + 1), 0, 0); break;
    case 2: x->setup = SetupPacket::make(0x80, GET_DESCRIPTOR, 0x0200, 0, 9); break;
    case 3: {
        uint16_t total = b.config_.size() >= 4 ? uint16_t(b.config_[2] | b.config_[3] << 8) : 9;
        x->setup = SetupPacket::make(0x80, GET_DESCRIPTOR, 0x0200, 0, total);
        break;
    }
    case 4: x->setup = SetupPacket::make(0x80, GET_DESCRIPTOR, 0x0300, 0, 255); break;
    case 5: x->setup = SetupPacket::make(0x80, GET_DESCRIPTOR, uint16_t(0x0300 | b.enum_string_), b.enum_lang_, 255); break;
    default: x->setup = SetupPacket::make(0x00, SET_CONFIGURATION, 1, 0, 0); break;
    }
    b.enum_xfer_ = x;
    pending_.push_back(x);
}

void Bus::enumeration_done(Board &b, Transfer &t) {
    bool ok = t.result == USB_OK;
    auto fail = [&] { b.enum_ = Board::Enum::failed; };
    switch (b.enum_step_) {
    case 0:
        if (!ok || t.data.size() < 18) return fail();
        b.vid_ = uint16_t(t.data[8] | t.data[9] << 8);
        b.pid_ = uint16_t(t.data[10] | t.data[11] << 8);
        b.enum_step_ = 1;
        return;
    case 1:
        if (!ok) return fail();
        b.enum_step_ = 2;
        return;
    case 2:
    case 3:
        if (!ok || t.data.size() < 4) return fail();
        b.config_ = t.data;
        b.enum_step_ = b.enum_step_ == 2 ? 3 : 4;
        return;
    case 4:
        if (ok && t.data.size() >= 4) {
            b.enum_lang_ = uint16_t(t.data[2] | t.data[3] << 8);
            b.enum_string_ = 1;
            b.enum_step_ = 5;
        } else {
            b.enum_step_ = 6;
        }
        return;
    case 5:
        if (ok && t.data.size() >= 2 && t.data[1] == 3) {
            b.enum_strings_.push_back(decode_string(t.data));
            if (++b.enum_string_ <= MAX_STRINGS) return;
        }
        b.enum_step_ = 6;
        return;
    default:
        if (!ok) return fail();
        b.strings_ = b.enum_strings_;
        b.present_ = true;
        b.enum_ = Board::Enum::idle;
        b.enum_xfer_.reset();
        return;
    }
}

void Bus::advance(uint64_t ticks) {
    now_ += ticks;
    for (auto &[n, b] : boards_) {
        if (!b->plugged_) continue;
        uint64_t want = (now_ - b->power_tick_) / TICKS_PER_CYCLE;
        if (want > b->cycles_given_) {
            b->chip().run_cycles(want - b->cycles_given_);
            b->cycles_given_ = want;
        }
    }
    target_.elapse_ns(ticks * 1000000 / TICKS_PER_MS);
}

bool Bus::run(unsigned max_slots) {
    // A wait for an IN that has ended already is over. Decided here and not when
    // the wait arrives: the IN may come in the same batch of requests, after it.
    for (auto &t : pending_)
        if (!t->finished && t->kind == Transfer::Kind::wait && t->ep && !in_pending(t->session, t->ep))
            finish(*t, USB_OK);
    collect();
    for (unsigned i = 0; i < max_slots && busy(); ++i) {
        // Start what waits: control transfers one at a time per board.
        for (auto &t : pending_) {
            if (t->finished || t->started) continue;
            if (t->kind == Transfer::Kind::control) {
                bool other = std::any_of(pending_.begin(), pending_.end(), [&](const TransferPtr &o) {
                    return o != t && !o->finished && o->started && o->kind == Transfer::Kind::control &&
                           o->board == t->board;
                });
                Board *b = board(t->board);
                if (!other && b) start_control(*b, *t);
                continue;
            }
            t->started = true;
            t->start = now_;
            if (t->kind != Transfer::Kind::wait && t->timeout_ms) t->deadline = now_ + t->timeout_ms * TICKS_PER_MS;
        }
        // The boards whose bulk transfers are under way in this slot.
        std::vector<Board *> bulk_boards;
        for (auto &[n, b] : boards_) {
            // Plain names for the lambda: clang before 16 cannot capture structured bindings.
            const auto number = n;
            bool active = std::any_of(pending_.begin(), pending_.end(), [&](const TransferPtr &t) {
                return !t->finished && t->board == number &&
                       (t->kind == Transfer::Kind::bulk_out || (t->kind == Transfer::Kind::bulk_in && in_awaited(*t)));
            });
            if (active) bulk_boards.push_back(b.get());
        }
        // One bulk packet per slot, the transfers taking turns in the order of
        // board and endpoint, whatever the order in which they arrived.
        std::vector<Transfer *> bulk;
        for (auto &t : pending_)
            if (!t->finished && t->started &&
                (t->kind == Transfer::Kind::bulk_in || t->kind == Transfer::Kind::bulk_out))
                bulk.push_back(t.get());
        std::stable_sort(bulk.begin(), bulk.end(), [](const Transfer *a, const Transfer *b) {
            return a->board != b->board ? a->board < b->board : a->ep < b->ep;
        });
        for (size_t k = 0; k < bulk.size(); ++k) {
            Transfer &t = *bulk[(round_robin_ + k) % bulk.size()];
            Board *b = board(t.board);
            if (b && bulk_token(*b, t)) {
                round_robin_ += k + 1;
                break;
            }
        }
        for (size_t k = 0; k < pending_.size(); ++k) {
            TransferPtr t = pending_[k];
            if (!t->finished && t->started && t->kind == Transfer::Kind::control)
                if (Board *b = board(t->board)) step_control(*b, *t);
        }
        for (auto &[n, b] : boards_) step_enumeration(*b);

        // Time passes: a slot while packets may move, else up to the next event.
        uint64_t step = TICKS_PER_SLOT;
        if (bulk_boards.empty() && !needs_slots()) {
            step = TICKS_PER_MS;
            for (auto &t : pending_)
                if (!t->finished && t->kind == Transfer::Kind::wait && t->end > now_) step = std::min(step, t->end - now_);
            for (auto &[n, b] : boards_)
                if (b->enum_ == Board::Enum::waiting && b->enum_at_ > now_) step = std::min(step, b->enum_at_ - now_);
        }
        for (Board *b : bulk_boards) b->bulk_ticks_ += step;
        advance(step);
        for (auto &t : pending_) {
            if (t->finished) continue;
            if (t->kind == Transfer::Kind::wait && t->ep && !in_pending(t->session, t->ep)) finish(*t, USB_OK);
            else if (t->kind == Transfer::Kind::wait && (!t->ep || t->timeout_ms) && now_ >= t->end)
                finish(*t, t->ep ? USB_ERROR_TIMEOUT : USB_OK);
            else if (t->deadline && now_ >= t->deadline && !t->end) finish(*t, USB_ERROR_TIMEOUT);
        }
        collect();
    }
    collect();
    return busy();
}

} // namespace bench::ezusb
