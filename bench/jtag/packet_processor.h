// The configuration logic's packet processor: it finds the sync word in the bit
// stream, assembles words, parses type-1 and type-2 packets, keeps the
// configuration registers and the CRC and carries out the commands. Frame data
// goes to the frame memory, START to the sequencer; read packets queue the
// words that CFG_OUT shifts out.
#pragma once

#include "frame_memory.h"
#include "spartan2_settings.h"
#include "startup_sequencer.h"

#include <cstdint>
#include <deque>
#include <functional>

namespace bench {

class PacketProcessor {
public:
    // Configuration registers.
    enum : uint32_t {
        REG_CRC = 0, REG_FAR = 1, REG_FDRI = 2, REG_FDRO = 3, REG_CMD = 4, REG_CTL = 5, REG_MASK = 6,
        REG_STAT = 7, REG_LOUT = 8, REG_COR = 9, REG_FLR = 11,
    };
    // Commands.
    enum : uint32_t {
        CMD_NULL = 0, CMD_WCFG = 1, CMD_LFRM = 3, CMD_RCFG = 4, CMD_START = 5, CMD_RCAP = 6,
        CMD_RCRC = 7, CMD_AGHIGH = 8, CMD_SWITCH = 9,
    };
    static constexpr uint32_t SYNC_WORD = 0xAA995566;

    // `status` gives the device's status word for STAT reads.
    PacketProcessor(const Spartan2Settings &settings, FrameMemory &frames, StartupSequencer &sequencer,
                    std::function<uint32_t()> status);

    // As after PROGRAM: unsynchronised, registers and CRC 0, no error, nothing
    // queued. The count of CRC errors runs over the device's life.
    void clear();

    // One configuration bit, as CFG_IN and DIN deliver them.
    void feed_bit(bool bit) {
        if (!synced_) {
            hunt_bit(bit);
            return;
        }
        word_ = (word_ << 1) | uint32_t(bit);
        if (words_left_ == 0 && !settings_.strict_sync) {
            hunt_ = (hunt_ << 1) | uint32_t(bit);
            if (hunt_ == SYNC_WORD) {
                realign();
                return;
            }
        }
        if (++word_bits_ == 32) {
            word_bits_ = 0;
            process_word(word_);
            // After a header that announces data the watch starts afresh, so
            // no pattern spans the header, the data and the next header.
            if (words_left_ > 0)
                hunt_ = 0;
        }
    }
    // One whole word, most significant bit first.
    void feed_word(uint32_t w) {
        for (int i = 31; i >= 0; i--)
            feed_bit((w >> i) & 1);
    }
    // The next bit starts a word (CFG_IN at Capture-DR).
    void restart_word() {
        word_ = 0;
        word_bits_ = 0;
        hunt_ = 0;
    }

    // The words queued by the last read packet, most significant bit first.
    bool read_bit() const { return !out_words_.empty() && ((out_words_.front() >> (31 - out_bit_)) & 1); }
    void next_read_bit() {
        if (!out_words_.empty() && ++out_bit_ == 32) {
            out_bit_ = 0;
            out_words_.pop_front();
        }
    }
    void restart_read_word() { out_bit_ = 0; } // CFG_OUT at Capture-DR
    size_t queued_read_words() const { return out_words_.size(); }

    bool synced() const { return synced_; }
    bool crc_error() const { return crc_error_; }
    uint32_t crc_errors() const { return crc_errors_; }
    uint16_t crc() const { return crc_; }
    uint32_t ctl() const { return ctl_; }

private:
    void hunt_bit(bool bit);
    void realign();
    void process_word(uint32_t w);
    void begin_packet(uint32_t header, uint32_t count);
    void write_register(uint32_t addr, uint32_t value);
    void check_crc(uint32_t value);
    void command(uint32_t cmd);
    void read_register(uint32_t addr, uint32_t count);
    uint32_t register_value(uint32_t addr) const;

    const Spartan2Settings &settings_;
    FrameMemory &frames_;
    StartupSequencer &sequencer_;
    std::function<uint32_t()> status_;

    // Bits into words into packets.
    bool synced_ = false;
    uint32_t hunt_ = 0; // the last bits seen while no packet data is due
    uint32_t word_ = 0;
    int word_bits_ = 0;
    uint32_t words_left_ = 0;  // data words of the current packet
    uint32_t packet_addr_ = 0; // register of the last type-1 header
    bool packet_write_ = false;
    bool after_type1_ = false; // the last header word was a type-1 header

    // Registers of its own; FAR and FLR are the frame memory's, COR the sequencer's.
    uint16_t crc_ = 0;
    uint32_t cmd_ = 0, ctl_ = 0, mask_ = 0, lout_ = 0;
    bool crc_error_ = false;
    uint32_t crc_errors_ = 0;

    // Read-back for CFG_OUT.
    std::deque<uint32_t> out_words_;
    uint32_t out_bit_ = 0; // bits of the front word sent
};

} // namespace bench
