// The core's timers (0, 1, 2) and serial port 0 in mode 0. Both are advanced
// to the end of each instruction; the serial engine also to the moment of a
// MOVX strobe, so that pin events stay in the order of simulated time.
#include "cpu8051.h"
#include "cpu8051_sfr.h"

#include <algorithm>

namespace bench::ezusb {

using namespace sfr;

namespace {

enum SerialKind : uint8_t { kData, kClockLow, kClockHigh, kSample, kFlag, kLoad };

} // namespace

// ---- timers -----------------------------------------------------------------

void Cpu8051::update_timer_state() {
    const uint8_t tcon = sfr_[TCON - 0x80], tmod = sfr_[TMOD - 0x80];
    const bool t0_split = (tmod & 0x03) == 0x03, t1_stopped = (tmod & 0x30) == 0x30;
    timers_on_ = (tcon & 0x50) || (t0_split && !t1_stopped) || (sfr_[T2CON - 0x80] & 0x04);
    plan_timers();
}

void Cpu8051::catch_up_timers() const {
    if (cycles_ <= timer_time_) return;
    if (timers_on_) advance_timers(timer_time_, cycles_);
    timer_time_ = cycles_;
}

// Finds the cycle in which the next overflow that raises a flag falls, so that
// the instruction loop only compares against it.
void Cpu8051::plan_timers() {
    timer_deadline_ = UINT64_MAX;
    if (!timers_on_) return;
    const uint8_t ck = sfr_[CKCON - 0x80], tmod = sfr_[TMOD - 0x80], tcon = sfr_[TCON - 0x80];
    auto plan = [&](unsigned ticks, bool fast) {
        uint64_t at = fast ? timer_time_ + ticks : (timer_time_ / 3 + ticks) * 3;
        if (at < timer_deadline_) timer_deadline_ = at;
    };
    auto to_overflow = [&](unsigned mode, uint8_t tl, uint8_t th) -> unsigned {
        switch (mode) {
        case 0: return 0x2000 - (th << 5 | (tl & 0x1F));
        case 1: return 0x10000 - (th << 8 | tl);
        default: return 256 - tl;  // mode 2, and TL0 in mode 3
        }
    };
    const bool t0_split = (tmod & 0x03) == 0x03, t1_stopped = (tmod & 0x30) == 0x30;
    if ((tcon & 0x10) && (!(tmod & 0x08) || int0_) && !(tmod & 0x04))
        plan(to_overflow(tmod & 3, sfr_[TL0 - 0x80], sfr_[TH0 - 0x80]), ck & 0x08);
    if (t0_split && (tcon & 0x40)) plan(256 - sfr_[TH0 - 0x80], ck & 0x08);
    if (!t0_split && !t1_stopped && !(tmod & 0x40) && (tcon & 0x40) && (!(tmod & 0x80) || int1_))
        plan(to_overflow((tmod >> 4) & 3, sfr_[TL1 - 0x80], sfr_[TH1 - 0x80]), ck & 0x10);
    const uint8_t t2con = sfr_[T2CON - 0x80];
    if ((t2con & 0x36) == 0x04)  // running, counting CLK, not a baud-rate generator
        plan(0x10000 - (sfr_[TH2 - 0x80] << 8 | sfr_[TL2 - 0x80]), ck & 0x20);
}

// A write to a timer register takes effect when its instruction ends: the
// timers first count that instruction's cycles under the old settings.
void Cpu8051::sync_timers() {
    if (timers_on_ && instr_end_ > timer_time_) advance_timers(timer_time_, instr_end_);
    if (instr_end_ > timer_time_) timer_time_ = instr_end_;
}

// Counts the ticks between two machine-cycle times: with TnM=1 one per cycle
// (CLK24/4), else one per three cycles (CLK24/12, a free-running divider).
void Cpu8051::advance_timers(uint64_t from, uint64_t to) const {
    const uint8_t ck = sfr_[CKCON - 0x80], tmod = sfr_[TMOD - 0x80], tcon = sfr_[TCON - 0x80];
    auto ticks = [&](bool fast) { return fast ? to - from : to / 3 - from / 3; };
    const bool t0_split = (tmod & 0x03) == 0x03, t1_stopped = (tmod & 0x30) == 0x30;

    // C/T=1 counts edges of the T0/T1 pins, which nothing on the bench drives.
    if ((tcon & 0x10) && (!(tmod & 0x08) || int0_) && !(tmod & 0x04))
        tick_timer01(0, ticks(ck & 0x08));
    if (t0_split && (tcon & 0x40)) {  // TH0 as an 8-bit timer with TR1 and TF1
        uint64_t v = sfr_[TH0 - 0x80] + ticks(ck & 0x08);
        sfr_[TH0 - 0x80] = static_cast<uint8_t>(v);
        if (v > 0xFF) { sfr_[TCON - 0x80] |= 0x80; check_interrupts_soon(); }
    }
    if (!t1_stopped && !(tmod & 0x40)) {
        // While timer 0 is split, timer 1 runs whenever it is not in mode 3.
        bool run = t0_split || ((tcon & 0x40) && (!(tmod & 0x80) || int1_));
        if (run) tick_timer01(1, ticks(ck & 0x10));
    }

    const uint8_t t2con = sfr_[T2CON - 0x80];
    if ((t2con & 0x06) == 0x04) {
        // As a baud-rate generator timer 2 counts CLK24/2 and sets no flag.
        const bool baud = t2con & 0x30;
        tick_timer2(baud ? 2 * (to - from) : ticks(ck & 0x20));
    }
}

void Cpu8051::tick_timer01(unsigned timer, uint64_t k) const {
    if (!k) return;
    uint8_t &tl = sfr_[(timer ? TL1 : TL0) - 0x80];
    uint8_t &th = sfr_[(timer ? TH1 : TH0) - 0x80];
    const unsigned mode = (sfr_[TMOD - 0x80] >> (4 * timer)) & 3;
    bool overflow = false;
    switch (mode) {
    case 0: {  // 13 bits: TH and the low 5 bits of TL
        uint64_t v = (th << 5 | (tl & 0x1F)) + k;
        overflow = v > 0x1FFF;
        th = static_cast<uint8_t>(v >> 5);
        tl = static_cast<uint8_t>((tl & 0xE0) | (v & 0x1F));
        break;
    }
    case 1: {
        uint64_t v = (th << 8 | tl) + k;
        overflow = v > 0xFFFF;
        th = static_cast<uint8_t>(v >> 8);
        tl = static_cast<uint8_t>(v);
        break;
    }
    case 2: {  // 8 bits, reloaded from TH
        const uint64_t to_overflow = 256 - tl;
        if (k >= to_overflow) {
            overflow = true;
            tl = static_cast<uint8_t>(th + (k - to_overflow) % (256 - th));
        } else {
            tl = static_cast<uint8_t>(tl + k);
        }
        break;
    }
    default: {  // mode 3, timer 0: TL0 alone with TR0 and TF0
        uint64_t v = tl + k;
        overflow = v > 0xFF;
        tl = static_cast<uint8_t>(v);
        break;
    }
    }
    if (!overflow) return;
    const bool t0_split = (sfr_[TMOD - 0x80] & 0x03) == 0x03;
    if (timer == 0) sfr_[TCON - 0x80] |= 0x20;
    else if (!t0_split) sfr_[TCON - 0x80] |= 0x80;
    check_interrupts_soon();
}

// Timer 2: 16-bit auto-reload from RCAP2 (CP/RL2=0), or capture mode, where it
// simply wraps (the T2EX pin that would capture is not driven on the bench).
void Cpu8051::tick_timer2(uint64_t k) const {
    if (!k) return;
    uint8_t &tl = sfr_[TL2 - 0x80], &th = sfr_[TH2 - 0x80];
    uint8_t &t2con = sfr_[T2CON - 0x80];
    const uint64_t v = th << 8 | tl;
    const uint64_t to_overflow = 0x10000 - v;
    uint64_t nv;
    if (k >= to_overflow) {
        const bool baud = t2con & 0x30;
        const bool reload = baud || !(t2con & 0x01);
        const uint64_t r = reload ? (sfr_[RCAP2H - 0x80] << 8 | sfr_[RCAP2L - 0x80]) : 0;
        nv = r + (k - to_overflow) % (0x10000 - r);
        if (!baud) {
            t2con |= 0x80;
            check_interrupts_soon();
        }
    } else {
        nv = v + k;
    }
    th = static_cast<uint8_t>(nv >> 8);
    tl = static_cast<uint8_t>(nv);
}

// ---- serial port 0, mode 0 ----------------------------------------------------
//
// Transmit and receive are separate machines; each precomputes its edges when
// it starts, and TxD0 is low while either of them drives it low. The edge
// times are settings (CoreSettings::serial_fast/slow): they are inferred from
// a compatible core, not confirmed on the chip.

void Cpu8051::serial_start(SerialMachine &m, bool is_tx, uint8_t data) {
    const uint8_t scon = sfr_[SCON0 - 0x80];
    const SerialTiming &t = (scon & 0x20) ? settings_.serial_fast : settings_.serial_slow;
    const uint64_t e = 4 * instr_end_;  // writes take effect when the instruction ends
    m = {};
    m.active = true;
    m.shift = data;
    unsigned n = 0;
    uint64_t rise = e;
    for (unsigned k = 0; k < 8; ++k) {
        const uint64_t d = e + t.first_data + uint64_t(t.period) * k;
        rise = d + 1 + t.low;
        if (is_tx) m.events[n++] = {d, kData, static_cast<uint8_t>((data >> k) & 1)};
        m.events[n++] = {d + 1, kClockLow, 0};
        // The sample comes before the rise it belongs to, at the same edge.
        if (!is_tx) m.events[n++] = {rise - std::min<uint64_t>(settings_.rxd0_sample_delay, rise), kSample, 0};
        m.events[n++] = {rise, kClockHigh, 0};
    }
    if (is_tx) m.events[n++] = {rise + (t.period - 1 - t.low), kData, 1};
    // SBUF0 takes the byte one CLK24 after RI is set; instructions see both at
    // the same cycle boundary, so the two share one time here.
    if (!is_tx) m.events[n++] = {rise + t.flag_delay, kLoad, 0};
    m.events[n++] = {rise + t.flag_delay, kFlag, 0};
    m.count = n;
    std::stable_sort(m.events.begin(), m.events.begin() + n,
                     [](const SerialEvent &a, const SerialEvent &b) { return a.time < b.time; });
}

void Cpu8051::serial_abort(SerialMachine &m) {
    m = {};
    serial_pins();
}

void Cpu8051::serial_pins() {
    const bool txd = tx_.clock && rx_.clock, rxdo = tx_.data;
    if (txd == txd0_pin_ && rxdo == rxd0out_pin_) return;
    txd0_pin_ = txd;
    rxd0out_pin_ = rxdo;
    bus_.serial_out(txd, rxdo);
}

void Cpu8051::serial_event(SerialMachine &m, bool is_tx) {
    const SerialEvent &ev = m.events[m.index++];
    bus_clock_ = ev.time;
    switch (ev.kind) {
    case kData: m.data = ev.arg; break;
    case kClockLow: m.clock = false; break;
    case kClockHigh: m.clock = true; break;
    case kSample: m.shift = static_cast<uint8_t>(m.shift >> 1 | (bus_.serial_in() ? 0x80 : 0)); break;
    case kFlag:
        sfr_[SCON0 - 0x80] |= is_tx ? 0x02 : 0x01;
        check_interrupts_soon();
        break;
    case kLoad: sbuf0_rx_ = m.shift; break;
    }
    if (m.index == m.count) m.active = false;
    serial_pins();
}

void Cpu8051::serial_advance(uint64_t clk) {
    for (;;) {
        SerialMachine *m = nullptr;
        if (tx_.active && tx_.events[tx_.index].time <= clk) m = &tx_;
        if (rx_.active && rx_.events[rx_.index].time <= clk &&
            (!m || rx_.events[rx_.index].time < m->events[m->index].time))
            m = &rx_;
        if (!m) return;
        serial_event(*m, m == &tx_);
    }
}

// Called after SCON0 changed. Changing SM0/SM1 stops both machines, clearing
// REN stops a receive, and REN=1 with RI=0 starts one. Modes 1 to 3 are not
// modelled: nothing shifts in them.
void Cpu8051::serial_scon_written(uint8_t old) {
    const uint8_t scon = sfr_[SCON0 - 0x80];
    const bool stop_all = (old ^ scon) & 0xC0, stop_rx = stop_all || !(scon & 0x10);
    if ((stop_all && tx_.active) || (stop_rx && rx_.active)) {
        // The write stops the engine when the instruction ends; edges before that happen.
        serial_advance(4 * instr_end_ - 1);
        if (stop_all && tx_.active) serial_abort(tx_);
        if (stop_rx && rx_.active) serial_abort(rx_);
    }
    if ((scon & 0xC0) || !(scon & 0x10)) return;
    if (!(scon & 0x01) && !rx_.active) serial_start(rx_, false, 0);
}

// A write to SBUF0 in mode 0 starts a transmit; during one it is ignored.
void Cpu8051::serial_sbuf_written(uint8_t value) {
    if (sfr_[SCON0 - 0x80] & 0xC0) return;
    if (!tx_.active) serial_start(tx_, true, value);
}

} // namespace bench::ezusb
