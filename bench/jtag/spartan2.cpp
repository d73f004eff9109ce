#include "spartan2.h"

#include <algorithm>

namespace bench {

Spartan2::Spartan2(const PartInfo &part, const Spartan2Settings &settings)
    : JtagDevice(5, part.idcode | (uint32_t(settings.version & 15) << 28), true), part_(part),
      settings_(settings), frames_(part),
      packets_(settings_, frames_, sequencer_, [this] { return status_word(); }) {
    settings_.mode_pins &= 7;
    power_on();
}

void Spartan2::power_on() {
    JtagDevice::power_on();
    prog_b_ = true;
    cclk_ = false;
    clear_device();
    // Power-on behaves like a PROGRAM pulse: INIT low while the memory clears.
    start_memory_clear();
}

void Spartan2::power_off() {
    clear_device();
    clearing_ = false;
}

void Spartan2::clear_device() {
    frames_.clear();
    sequencer_.clear();
    packets_.clear();
    cfg_in_stage_ = false;
    out_lead_left_ = 0;
}

void Spartan2::start_memory_clear() {
    clearing_ = settings_.clear_ns > 0;
    clear_left_ns_ = settings_.clear_ns;
}

void Spartan2::set_program(bool prog_b) {
    if (!prog_b) {
        // PROGRAM low holds the device cleared.
        if (prog_b_)
            clear_device();
        clearing_ = false;
    } else if (!prog_b_) {
        start_memory_clear();
    }
    prog_b_ = prog_b;
}

void Spartan2::elapse_ns(uint64_t ns) {
    if (!clearing_)
        return;
    if (ns >= clear_left_ns_) {
        clear_left_ns_ = 0;
        clearing_ = false;
    } else {
        clear_left_ns_ -= ns;
    }
}

void Spartan2::set_cclk(bool cclk, bool din) {
    bool rising = cclk && !cclk_;
    cclk_ = cclk;
    if (!rising)
        return;
    if (clearing_)
        elapse_ns(settings_.clock_ns);
    // The sequencer is clocked before the bit is taken, so the edge that
    // completes a START word is not a start-up clock yet.
    if (sequencer_.running() && sequencer_.clocked_by_cclk())
        sequencer_.clock(packets_.crc_error());
    if (input_enabled())
        packets_.feed_bit(din);
}

uint32_t Spartan2::status_word() const {
    uint32_t s = sequencer_.status_bits() | (uint32_t(settings_.mode_pins & 7) << 10);
    if (packets_.crc_error())
        s |= STAT_CRC_ERROR;
    if (init_pin())
        s |= STAT_INIT;
    return s;
}

// ---- JTAG side ----

uint32_t Spartan2::ir_capture() const {
    // XXX01: PROGRAM, INIT and DONE pin levels in bits 4..2.
    return (uint32_t(prog_b_) << 4) | (uint32_t(init_pin()) << 3) | (uint32_t(done_pin()) << 2) | 1;
}

void Spartan2::select_register(uint32_t ir) {
    switch (ir) {
    case IDCODE:
        select_idcode();
        break;
    case CFG_IN:
    case CFG_OUT:
        select_custom();
        break;
    case USER1:
        select_user_fixed(std::clamp(settings_.user_bits[0], 1, 64));
        break;
    case USER2:
        select_user_fixed(std::clamp(settings_.user_bits[1], 1, 64));
        break;
    case USERCODE:
        select_user_fixed(32);
        break;
    case JSTART:
        select_bypass();
        set_tck_hook(true);
        break;
    default:
        select_bypass();
        break;
    }
}

uint64_t Spartan2::fixed_capture() const {
    uint32_t ir = instruction();
    if (ir == USER1 || ir == USER2)
        return user_capture_[ir - USER1];
    return 0xFFFFFFFF; // USERCODE of an unprogrammed design
}

void Spartan2::fixed_update(uint64_t v) {
    uint32_t ir = instruction();
    if (ir == USER1 || ir == USER2) {
        int n = int(ir - USER1);
        int bits = std::clamp(settings_.user_bits[n], 1, 64);
        user_value_[n] = bits == 64 ? v : (v & ((uint64_t(1) << bits) - 1));
        user_updates_[n]++;
    }
}

// CFG_IN is a one-bit stage between TDI and TDO whose input also goes to the
// packet processor. CFG_OUT shifts the read-back words out.
void Spartan2::custom_capture() {
    if (instruction() == CFG_IN) {
        cfg_in_stage_ = false;
        if (settings_.cfg_in_align_on_capture)
            packets_.restart_word();
    } else {
        out_lead_left_ = settings_.cfg_out_leading_bits;
        packets_.restart_read_word();
    }
}

void Spartan2::custom_shift(bool tdi) {
    if (instruction() == CFG_IN) {
        cfg_in_stage_ = tdi;
        if (input_enabled())
            packets_.feed_bit(tdi);
    } else if (out_lead_left_ > 0) {
        out_lead_left_--;
    } else {
        packets_.next_read_bit();
    }
}

bool Spartan2::custom_out() const {
    if (instruction() == CFG_IN)
        return cfg_in_stage_;
    return out_lead_left_ <= 0 && packets_.read_bit();
}

void Spartan2::on_tck() {
    // Only called while JSTART is the current instruction.
    if (!settings_.jstart_any_state && state() != TapState::RunTestIdle)
        return;
    jstart_clocks_++;
    if (sequencer_.running() && sequencer_.clocked_by_tck())
        sequencer_.clock(packets_.crc_error());
}

} // namespace bench
