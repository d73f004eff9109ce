#include "packet_processor.h"

#include <algorithm>
#include <utility>

namespace bench {

namespace {
constexpr uint32_t max_register_read_words = 4096;
// CTL bits 8..7, the security level: 01 forbids read-back, 1x also every
// configuration write.
bool readback_forbidden(uint32_t ctl) { return ((ctl >> 7) & 3) != 0; }
bool writes_forbidden(uint32_t ctl) { return (ctl >> 8) & 1; }
} // namespace

PacketProcessor::PacketProcessor(const Spartan2Settings &settings, FrameMemory &frames,
                                 StartupSequencer &sequencer, std::function<uint32_t()> status)
    : settings_(settings), frames_(frames), sequencer_(sequencer), status_(std::move(status)) {}

void PacketProcessor::clear() {
    synced_ = false;
    hunt_ = word_ = 0;
    word_bits_ = 0;
    words_left_ = packet_addr_ = 0;
    packet_write_ = after_type1_ = false;
    crc_ = 0;
    cmd_ = ctl_ = mask_ = lout_ = 0;
    crc_error_ = false;
    out_words_.clear();
    out_bit_ = 0;
}

void PacketProcessor::hunt_bit(bool bit) {
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
void PacketProcessor::realign() {
    hunt_ = 0;
    word_ = 0;
    word_bits_ = 0;
    words_left_ = 0;
    after_type1_ = false;
}

void PacketProcessor::process_word(uint32_t w) {
    if (words_left_ > 0) {
        words_left_--;
        if (packet_write_)
            write_register(packet_addr_, w);
        return;
    }
    const uint32_t type = w >> 29;
    // A type-2 header continues the type-1 header just before it. Elsewhere it
    // is a stray word: a sync word one bit out of step after zero padding reads
    // as 0x554CAAB3, a type-2 write, and must not swallow the words after it.
    const bool follows_type1 = after_type1_;
    after_type1_ = type == 1;
    if (type == 1) {
        packet_addr_ = (w >> 13) & 0x3FFF;
        begin_packet(w, w & 0x7FF);
    } else if (type == 2) {
        if (follows_type1 || settings_.strict_sync)
            begin_packet(w, w & 0x07FFFFFF); // the register of the type-1 header
    } else if (!settings_.stay_synced && w == 0xFFFFFFFF) {
        synced_ = false;
        hunt_ = 0;
        word_bits_ = 0;
    }
    // Words of any other type (all zeros, all ones, the sync word once aligned,
    // stray bits) are ignored where a header is expected.
}

void PacketProcessor::begin_packet(uint32_t header, uint32_t count) {
    const uint32_t op = (header >> 27) & 3; // 01 read, 10 write
    packet_write_ = op == 2;
    if (packet_write_)
        words_left_ = count;
    else if (op == 1)
        read_register(packet_addr_, count);
}

void PacketProcessor::write_register(uint32_t addr, uint32_t v) {
    switch (addr) {
    case REG_CRC:
        check_crc(v);
        return;
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
        frames_.set_address(v);
        break;
    case REG_FDRI:
        if ((cmd_ == CMD_WCFG || cmd_ == CMD_LFRM) && !writes_forbidden(ctl_))
            frames_.write_word(v);
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
        sequencer_.set_cor(v);
        break;
    case REG_FLR:
        frames_.set_frame_length(v);
        break;
    }
}

// The written value is compared with the CRC so far and then fed in too, so a
// good check leaves the CRC at 0. Only PROGRAM or power loss clears an error.
void PacketProcessor::check_crc(uint32_t v) {
    const bool ok = v == crc_;
    crc_ = crc_update(crc_, REG_CRC, v);
    if (!ok) {
        crc_error_ = true;
        crc_errors_++;
    }
    sequencer_.crc_checked(ok);
}

void PacketProcessor::command(uint32_t c) {
    cmd_ = c;
    switch (c) {
    case CMD_RCRC:
        crc_ = 0;
        break;
    case CMD_LFRM:
        sequencer_.set_ghigh_released(true); // the interconnect comes out of GHIGH with the last frame
        break;
    case CMD_AGHIGH:
        sequencer_.set_ghigh_released(false);
        break;
    case CMD_START:
        if (crc_error_)
            break;
        if (settings_.start_at_once)
            sequencer_.start();
        else
            sequencer_.arm();
        break;
    default:
        break; // WCFG, RCFG, RCAP, SWITCH: no state beyond CMD itself
    }
}

void PacketProcessor::read_register(uint32_t addr, uint32_t count) {
    out_words_.clear();
    out_bit_ = 0;
    if (addr == REG_FDRO) {
        frames_.read_back(count, readback_forbidden(ctl_), out_words_);
        return;
    }
    // A register reads the same word again and again; a huge count only needs as many
    // words as anyone will shift out, so the queue stays bounded.
    count = std::min(count, max_register_read_words);
    for (uint32_t i = 0; i < count; i++)
        out_words_.push_back(register_value(addr));
}

uint32_t PacketProcessor::register_value(uint32_t addr) const {
    switch (addr) {
    case REG_CRC: return crc_;
    case REG_FAR: return frames_.address();
    case REG_CMD: return cmd_;
    case REG_CTL: return ctl_;
    case REG_MASK: return mask_;
    case REG_STAT: return status_();
    case REG_COR: return sequencer_.cor();
    case REG_FLR: return frames_.frame_length();
    default: return 0;
    }
}

} // namespace bench
