#include "spartan2.h"

#include <algorithm>

namespace bench {

namespace {
// Bits 21..20 of COR: 00 CCLK, 01 the user clock, 1x TCK.
bool startup_on_tck(uint32_t cor) { return (cor >> 21) & 1; }
bool startup_on_cclk(uint32_t cor) { return ((cor >> 20) & 3) == 0; }
// Largest frame the FLR can describe here; longer values are cut to this.
constexpr uint32_t max_frame_words = 4096;
constexpr uint32_t max_register_read_words = 4096;
} // namespace

Spartan2::Spartan2(const PartInfo &part, const Spartan2Settings &settings)
    : JtagDevice(5, part.idcode | (uint32_t(settings.version & 15) << 28), true), part_(part),
      settings_(settings) {
    settings_.mode_pins &= 7;
    memory_.assign(part_.memory_words(), 0);
    power_on();
}

void Spartan2::power_on() {
    JtagDevice::power_on();
    prog_b_ = true;
    cclk_ = false;
    clear_device();
    // Power-on behaves like a PROGRAM pulse: INIT low while the memory clears.
    clearing_ = settings_.clear_ns > 0;
    clear_left_ns_ = settings_.clear_ns;
}

void Spartan2::power_off() {
    clear_device();
    clearing_ = false;
}

void Spartan2::clear_device() {
    std::fill(memory_.begin(), memory_.end(), 0);
    synced_ = false;
    hunt_ = 0;
    word_ = 0;
    word_bits_ = 0;
    words_left_ = 0;
    packet_addr_ = 0;
    packet_write_ = false;
    after_type1_ = false;
    crc_ = 0;
    far_ = cmd_ = ctl_ = mask_ = lout_ = cor_ = flr_ = 0;
    crc_error_ = false;
    ghigh_b_ = false;
    frame_in_.assign(1, 0);
    pending_.assign(1, 0);
    frame_fill_ = 0;
    pending_valid_ = false;
    pending_index_ = -1;
    out_words_.clear();
    out_bit_index_ = 0;
    out_lead_left_ = 0;
    done_ = gts_released_ = gwe_enabled_ = gsr_released_ = false;
    seq_running_ = seq_shutdown_ = start_armed_ = false;
    seq_cycle_ = 0;
    frames_written_ = 0;
}

void Spartan2::set_program(bool prog_b) {
    if (!prog_b) {
        // PROGRAM low holds the device cleared.
        if (prog_b_)
            clear_device();
        clearing_ = false;
    } else if (!prog_b_) {
        clearing_ = settings_.clear_ns > 0;
        clear_left_ns_ = settings_.clear_ns;
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
    if (seq_running_ && startup_on_cclk(cor_))
        sequencer_clock();
    if (input_enabled())
        feed_bit(din);
}

uint32_t Spartan2::status_word() const {
    uint32_t s = 0;
    if (crc_error_)
        s |= STAT_CRC_ERROR;
    // No DLLs are modelled: the lock bits 1..4 read 0. IN_ERROR has no known
    // trigger and reads 0.
    if (gts_released_)
        s |= STAT_GTS_CFG;
    if (!gwe_enabled_)
        s |= STAT_GWE_B;
    if (gsr_released_)
        s |= STAT_GSR_B;
    if (ghigh_b_)
        s |= STAT_GHIGH_B;
    s |= uint32_t(settings_.mode_pins & 7) << 10;
    if (init_pin())
        s |= STAT_INIT;
    if (done_pin())
        s |= STAT_DONE;
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
        out_lead_left_ = 0;
        if (settings_.cfg_in_align_on_capture) {
            word_ = 0;
            word_bits_ = 0;
            hunt_ = 0;
        }
    } else {
        out_lead_left_ = settings_.cfg_out_leading_bits;
        out_bit_index_ = 0;
    }
}

void Spartan2::custom_shift(bool tdi) {
    if (instruction() == CFG_IN) {
        // Reuse out_lead_left_ as the one-bit stage.
        out_lead_left_ = tdi;
        if (input_enabled())
            feed_bit(tdi);
        return;
    }
    if (out_lead_left_ > 0) {
        out_lead_left_--;
    } else if (!out_words_.empty()) {
        if (++out_bit_index_ == 32) {
            out_bit_index_ = 0;
            out_words_.pop_front();
        }
    }
}

bool Spartan2::custom_out() const {
    if (instruction() == CFG_IN)
        return out_lead_left_ != 0;
    if (out_lead_left_ > 0 || out_words_.empty())
        return false;
    return (out_words_.front() >> (31 - out_bit_index_)) & 1;
}

void Spartan2::on_tck() {
    // Only called while JSTART is the current instruction.
    if (!settings_.jstart_any_state && state() != TapState::RunTestIdle)
        return;
    jstart_clocks_++;
    if (seq_running_ && startup_on_tck(cor_))
        sequencer_clock();
}

// ---- packet processor ----

void Spartan2::hunt_bit(bool bit) {
    hunt_ = (hunt_ << 1) | uint32_t(bit);
    if (!settings_.sync_at_any_offset) {
        // Only at word boundaries counted from the start of the scan.
        if (++word_bits_ < 32)
            return;
        word_bits_ = 0;
    }
    if (hunt_ == SYNC_WORD) {
        synced_ = true;
        realign();
    }
}

// The next bit starts a packet header.
void Spartan2::realign() {
    hunt_ = 0;
    word_ = 0;
    word_bits_ = 0;
    words_left_ = 0;
    after_type1_ = false;
}

void Spartan2::process_word(uint32_t w) {
    if (words_left_ > 0) {
        words_left_--;
        if (packet_write_)
            write_register(packet_addr_, w);
        return;
    }
    uint32_t type = w >> 29;
    uint32_t op = (w >> 27) & 3;
    // A type-2 header continues the type-1 header just before it. Elsewhere it
    // is a stray word: a sync word one bit out of step after zero padding reads
    // as 0x554CAAB3, a type-2 write, and must not swallow the words after it.
    const bool follows_type1 = after_type1_;
    after_type1_ = type == 1;
    if (type == 2 && !follows_type1 && !settings_.strict_sync)
        return;
    if (type == 1) {
        uint32_t count = w & 0x7FF;
        packet_addr_ = (w >> 13) & 0x3FFF;
        packet_write_ = false;
        if (op == 2) {
            packet_write_ = true;
            words_left_ = count;
        } else if (op == 1) {
            read_register(packet_addr_, count);
        }
    } else if (type == 2) {
        // Reuses the register of the preceding type-1 header.
        uint32_t count = w & 0x07FFFFFF;
        packet_write_ = false;
        if (op == 2) {
            packet_write_ = true;
            words_left_ = count;
        } else if (op == 1) {
            read_register(packet_addr_, count);
        }
    } else if (w == SYNC_WORD) {
        // Already synchronised and aligned: nothing to do.
    } else if (!settings_.stay_synced && w == 0xFFFFFFFF) {
        synced_ = false;
        hunt_ = 0;
        word_bits_ = 0;
    }
    // Words of any other type (all zeros, all ones, stray bits) are ignored
    // where a header is expected.
}

void Spartan2::write_register(uint32_t addr, uint32_t v) {
    switch (addr) {
    case REG_CRC: {
        bool ok = v == crc_;
        crc_ = crc_update(crc_, addr, v);
        if (!ok) {
            // Only PROGRAM or power loss clears the error; INIT is held low.
            crc_error_ = true;
            crc_errors_++;
            start_armed_ = false;
        } else if (start_armed_) {
            start_armed_ = false;
            start_sequence();
        }
        return;
    }
    case REG_LOUT:
        // The legacy daisy-chain output is outside the CRC.
        lout_ = v;
        return;
    case REG_FAR:
    case REG_FDRI:
    case REG_CMD:
    case REG_CTL:
    case REG_MASK:
    case REG_COR:
    case REG_FLR:
        crc_ = crc_update(crc_, addr, v);
        break;
    default:
        return; // read-only or unused
    }
    switch (addr) {
    case REG_FAR:
        // A new address abandons the frame still in the pipeline.
        far_ = v;
        pending_valid_ = false;
        frame_fill_ = 0;
        break;
    case REG_FDRI:
        fdri_word(v);
        break;
    case REG_CMD:
        command(v);
        break;
    case REG_CTL:
        ctl_ = (ctl_ & ~mask_) | (v & mask_);
        break;
    case REG_MASK:
        mask_ = v;
        break;
    case REG_COR:
        cor_ = v;
        break;
    case REG_FLR:
        flr_ = v;
        // Widened first: an FLR of all ones must not wrap to an empty frame buffer.
        frame_in_.assign(size_t(std::min<uint64_t>(uint64_t(v) + 1, max_frame_words)), 0);
        pending_.assign(frame_in_.size(), 0);
        frame_fill_ = 0;
        pending_valid_ = false;
        break;
    }
}

void Spartan2::command(uint32_t c) {
    cmd_ = c;
    switch (c) {
    case CMD_RCRC:
        crc_ = 0;
        break;
    case CMD_LFRM:
        ghigh_b_ = true; // the interconnect comes out of GHIGH with the last frame
        break;
    case CMD_AGHIGH:
        ghigh_b_ = false;
        break;
    case CMD_START:
        if (crc_error_)
            break;
        if (settings_.start_at_once)
            start_sequence();
        else
            start_armed_ = true;
        break;
    default:
        break; // WCFG, RCFG, RCAP, SWITCH: no state beyond CMD itself
    }
}

void Spartan2::fdri_word(uint32_t w) {
    if (cmd_ != CMD_WCFG && cmd_ != CMD_LFRM)
        return;
    if ((ctl_ >> 8) & 1)
        return; // security level 1x: no configuration writes
    frame_in_[frame_fill_++] = w;
    if (frame_fill_ < frame_in_.size())
        return;
    frame_fill_ = 0;
    // A frame reaches the array only when the next one has arrived.
    commit_pending();
    std::swap(pending_, frame_in_);
    pending_index_ = far_index();
    pending_valid_ = true;
    far_advance();
}

void Spartan2::commit_pending() {
    if (!pending_valid_)
        return;
    pending_valid_ = false;
    if (pending_index_ < 0)
        return; // a pad frame past the last frame
    size_t fw = size_t(part_.frame_words());
    uint32_t *dst = memory_.data() + size_t(pending_index_) * fw;
    size_t n = std::min(fw, pending_.size());
    std::copy(pending_.begin(), pending_.begin() + long(n), dst);
    std::fill(dst + n, dst + fw, 0);
    frames_written_++;
}

int Spartan2::far_index() const {
    int block = int((far_ >> 25) & 3), major = int((far_ >> 17) & 0xFF), minor = int((far_ >> 9) & 0xFF);
    if (block == 0) {
        if (minor >= part_.column_frames(major))
            return -1;
        int start = 0;
        for (int m = 0; m < major; m++)
            start += part_.column_frames(m);
        return start + minor;
    }
    if (block == 1 && major < 2 && minor < PartInfo::bram_frames_per_column)
        return part_.type0_frames() + major * PartInfo::bram_frames_per_column + minor;
    return -1;
}

void Spartan2::far_advance() {
    uint32_t block = (far_ >> 25) & 3, major = (far_ >> 17) & 0xFF, minor = (far_ >> 9) & 0xFF;
    int frames = block == 0 ? part_.column_frames(int(major)) : PartInfo::bram_frames_per_column;
    minor++;
    if (int(minor) >= frames) {
        minor = 0;
        major = (major + 1) & 0xFF;
    }
    far_ = (far_ & ~0x01FFFE00u) | (major << 17) | (minor << 9);
}

void Spartan2::read_register(uint32_t addr, uint32_t count) {
    out_words_.clear();
    out_bit_index_ = 0;
    if (addr == REG_FDRO) {
        // Read-back starts with a pad frame, then the frames from FAR on.
        size_t fw = size_t(part_.frame_words());
        count = uint32_t(std::min<size_t>(count, memory_.size() + fw));
        bool allowed = ((ctl_ >> 7) & 3) == 0;
        uint32_t save = far_;
        size_t in_frame = 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t w = 0;
            if (allowed && i >= fw) {
                int idx = far_index();
                if (idx >= 0)
                    w = memory_[size_t(idx) * fw + in_frame];
                if (++in_frame == fw) {
                    in_frame = 0;
                    far_advance();
                }
            }
            out_words_.push_back(w);
        }
        far_ = save;
        return;
    }
    // A register reads the same word again and again; a huge count only needs as many
    // words as anyone will shift out, so the queue stays bounded.
    count = std::min(count, max_register_read_words);
    for (uint32_t i = 0; i < count; i++)
        out_words_.push_back(register_value(addr));
}

uint32_t Spartan2::register_value(uint32_t addr) const {
    switch (addr) {
    case REG_CRC: return crc_;
    case REG_FAR: return far_;
    case REG_CMD: return cmd_;
    case REG_CTL: return ctl_;
    case REG_MASK: return mask_;
    case REG_STAT: return status_word();
    case REG_COR: return cor_;
    case REG_FLR: return flr_;
    default: return 0;
    }
}

// ---- start-up and shut-down ----

void Spartan2::start_sequence() {
    seq_running_ = true;
    seq_shutdown_ = (cor_ >> 15) & 1;
    seq_cycle_ = 0;
}

void Spartan2::sequencer_clock() {
    // COR cycle fields: codes 0..5 are start-up cycles 1..6, 6 waits for DONE,
    // 7 keeps the signal as it is. DLL lock waits are not modelled.
    int done_code = int((cor_ >> 12) & 7);
    int gts_code = int((cor_ >> 6) & 7), gwe_code = int((cor_ >> 3) & 7), gsr_code = int(cor_ & 7);
    if (!seq_shutdown_) {
        if (crc_error_)
            return; // a failed check stops the start-up where it is
        int pipe = int((cor_ >> 30) & 1); // DONE_PIPE adds a stage on DONE
        seq_cycle_++;
        if (done_code <= 5 && seq_cycle_ == done_code + 1 + pipe && !done_) {
            done_ = true;
            configurations_++;
        }
        auto release = [&](int code, bool &flag) {
            if (code <= 5 ? seq_cycle_ == code + 1 : (code == 6 && done_))
                flag = true;
        };
        release(gts_code, gts_released_);
        release(gwe_code, gwe_enabled_);
        release(gsr_code, gsr_released_);
        if (seq_cycle_ >= 7 + pipe)
            seq_running_ = false;
    } else {
        // Shut-down runs the start-up backwards: an event of start-up cycle c
        // happens at shut-down cycle 7 - c, so GWE and GSR go first and DONE last.
        seq_cycle_++;
        auto cycle_of = [&](int code) {
            if (code <= 5)
                return 6 - code;
            if (code == 6 && done_code <= 5)
                return 6 - done_code;
            return -1;
        };
        if (seq_cycle_ == cycle_of(gwe_code))
            gwe_enabled_ = false;
        if (seq_cycle_ == cycle_of(gsr_code))
            gsr_released_ = false;
        if (seq_cycle_ == cycle_of(gts_code))
            gts_released_ = false;
        if (done_code <= 5 && seq_cycle_ == 6 - done_code)
            done_ = false;
        if (seq_cycle_ >= 7)
            seq_running_ = false;
    }
}

} // namespace bench
