// Spartan-II model: the JTAG instructions, the configuration logic (packet
// processor, CRC, frame memory, start-up and shut-down sequencer, status word)
// and the slave-serial pins.
#pragma once

#include "parts.h"
#include "tap.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace bench {

// Behaviour the device documentation leaves open, as chosen for this model.
struct Spartan2Settings {
    // Version field, IDCODE bits 31..28 (silicon revisions report non-zero values).
    int version = 0;
    // M2..M0 as strapped on the board; they show in status bits 12..10.
    // Boundary-scan mode (101) because the bench configures over JTAG by default.
    uint8_t mode_pins = 0b101;
    // INIT stays low this long after PROGRAM is released or power comes up:
    // the configuration memory is being cleared and input is ignored.
    uint64_t clear_ns = 10000;
    // Simulated time each rising TCK or CCLK edge lets pass, so that the clear
    // ends even under a cable that reports no pauses (a 10 MHz clock).
    uint64_t clock_ns = 100;
    // CFG_IN assembles words counting from the first Shift-DR bit after
    // Capture-DR, so a loader that pads to a 32-bit boundary lines its packets up.
    bool cfg_in_align_on_capture = true;
    // Before the first sync the sync word is found at any bit offset, as the
    // serial port does: loaders prepend any number of dummy bits.
    bool sync_at_any_offset = true;
    // Once synchronised the device stays so until PROGRAM or power loss: there
    // is no desynchronise command, and loaders read STAT with no new sync word.
    bool stay_synced = true;
    // Re-sync rule. By default, while a packet header is expected, the last 32
    // bits are watched at every bit position and the sync word re-aligns the
    // packet processor at any offset; inside a packet's data nothing re-aligns,
    // since frame data may hold the pattern. Loaders that send each CFG_IN
    // sequence as its own scan, behind a device in BYPASS, rely on this on real
    // chains. The documents do not state the rule for this family, so the strict
    // variant stays available: words counted from the first sync (or from
    // Capture-DR), a later sync word ignored, and a type-2 header taken even
    // where no type-1 header precedes it.
    bool strict_sync = false;
    // CFG_OUT shifts out this many leading bits, then the requested words,
    // most significant bit first (symmetrical with CFG_IN).
    int cfg_out_leading_bits = 1;
    // While JSTART is the current instruction every TCK clocks the sequencer
    // (when COR selects the JTAG clock), not only those in Run-Test/Idle:
    // loaders clock it from Run-Test/Idle or from Shift-DR.
    bool jstart_any_state = true;
    // CMD START starts the start-up or shut-down sequence at once instead of
    // waiting for the next good CRC check.
    bool start_at_once = true;
    // Length of the USER1 and USER2 registers that the bench's stand-in design
    // offers.
    int user_bits[2] = {32, 32};
};

class Spartan2 : public JtagDevice {
public:
    // JTAG instructions (5-bit IR).
    enum : uint32_t {
        EXTEST = 0x00, SAMPLE = 0x01, USER1 = 0x02, USER2 = 0x03, CFG_OUT = 0x04, CFG_IN = 0x05,
        INTEST = 0x07, USERCODE = 0x08, IDCODE = 0x09, HIGHZ = 0x0A, JSTART = 0x0C, BYPASS = 0x1F,
    };
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
    // Status word bits.
    enum : uint32_t {
        STAT_CRC_ERROR = 1u << 0, STAT_IN_ERROR = 1u << 5, STAT_GTS_CFG = 1u << 6,
        STAT_GWE_B = 1u << 7, STAT_GSR_B = 1u << 8, STAT_GHIGH_B = 1u << 9, STAT_INIT = 1u << 13,
        STAT_DONE = 1u << 14,
    };

    Spartan2(const PartInfo &part, const Spartan2Settings &settings = {});

    const PartInfo &part() const { return part_; }
    const Spartan2Settings &settings() const { return settings_; }
    void set_mode_pins(uint8_t m) { settings_.mode_pins = m & 7; }
    void set_clear_ns(uint64_t ns) { settings_.clear_ns = ns; }

    // Power.
    void power_on() override;
    void power_off();

    // Slave-serial and dedicated pins.
    void set_program(bool prog_b);
    void set_cclk(bool cclk, bool din);
    bool program_pin() const { return prog_b_; }
    bool done_pin() const { return done_; }
    bool init_pin() const { return !(clearing_ || !prog_b_ || crc_error_); }
    void elapse_ns(uint64_t ns);
    bool clearing() const { return clearing_; }

    // State for reports and tests.
    bool configured() const { return done_; }
    bool synced() const { return synced_; }
    bool crc_error() const { return crc_error_; }
    uint32_t status_word() const;
    uint32_t crc_errors() const { return crc_errors_; }
    uint64_t frames_written() const { return frames_written_; }
    size_t queued_read_words() const { return out_words_.size(); } // waiting for CFG_OUT
    uint64_t configurations() const { return configurations_; }
    uint64_t digest() const { return memory_digest(memory_); }
    const std::vector<uint32_t> &memory() const { return memory_; }
    uint16_t crc() const { return crc_; }
    uint32_t cor() const { return cor_; }
    uint32_t ctl() const { return ctl_; }
    uint32_t far() const { return far_; }
    uint32_t flr() const { return flr_; }
    bool gts_released() const { return gts_released_; }
    bool gwe_enabled() const { return gwe_enabled_; }
    bool gsr_released() const { return gsr_released_; }
    bool sequencer_running() const { return seq_running_; }
    uint64_t jstart_clocks() const { return jstart_clocks_; }

    // USER1 (0) and USER2 (1): the value the stand-in design presents at
    // Capture-DR, the last value shifted in at Update-DR, and how many updates.
    void set_user_capture(int n, uint64_t v) { user_capture_[n & 1] = v; }
    uint64_t user_value(int n) const { return user_value_[n & 1]; }
    uint64_t user_updates(int n) const { return user_updates_[n & 1]; }

    // The packet processor, one bit at a time (as CFG_IN and DIN deliver them).
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
    // One whole word (for tests that skip the pins).
    void feed_word(uint32_t w) {
        for (int i = 31; i >= 0; i--)
            feed_bit((w >> i) & 1);
    }

protected:
    uint32_t ir_capture() const override;
    uint32_t reset_instruction() const override { return IDCODE; }
    void select_register(uint32_t ir) override;
    uint64_t fixed_capture() const override;
    void fixed_update(uint64_t v) override;
    void custom_capture() override;
    void custom_shift(bool tdi) override;
    bool custom_out() const override;
    void on_tck() override;

private:
    void clear_device();
    void hunt_bit(bool bit);
    void realign();
    void process_word(uint32_t w);
    void write_register(uint32_t addr, uint32_t value);
    void read_register(uint32_t addr, uint32_t count);
    uint32_t register_value(uint32_t addr) const;
    void command(uint32_t cmd);
    void fdri_word(uint32_t w);
    void commit_pending();
    void start_sequence();
    void sequencer_clock();
    int far_index() const; // linear frame index, -1 past the end
    void far_advance();
    bool input_enabled() const { return prog_b_ && !clearing_; }

    const PartInfo &part_;
    Spartan2Settings settings_;

    // Pins and time.
    bool prog_b_ = true;
    bool cclk_ = false;
    bool clearing_ = false;
    uint64_t clear_left_ns_ = 0;

    // Packet processor.
    bool synced_ = false;
    uint32_t hunt_ = 0; // the last bits seen while no packet data is due
    uint32_t word_ = 0;
    int word_bits_ = 0;
    uint32_t words_left_ = 0;  // data words of the current packet
    uint32_t packet_addr_ = 0; // register of the last type-1 header
    bool packet_write_ = false;
    bool after_type1_ = false; // the last header word was a type-1 header

    // Registers.
    uint16_t crc_ = 0;
    uint32_t far_ = 0;
    uint32_t cmd_ = 0;
    uint32_t ctl_ = 0;
    uint32_t mask_ = 0;
    uint32_t lout_ = 0;
    uint32_t cor_ = 0;
    uint32_t flr_ = 0;
    bool crc_error_ = false;
    bool ghigh_b_ = false;

    // Frames.
    std::vector<uint32_t> memory_;
    std::vector<uint32_t> frame_in_;
    size_t frame_fill_ = 0;
    std::vector<uint32_t> pending_;
    int pending_index_ = -1;
    bool pending_valid_ = false;

    // Read-back.
    std::deque<uint32_t> out_words_;
    uint32_t out_bit_index_ = 0; // bits of the current CFG_OUT scan sent
    int out_lead_left_ = 0;

    // Sequencer.
    bool done_ = false;
    bool gts_released_ = false;
    bool gwe_enabled_ = false;
    bool gsr_released_ = false;
    bool seq_running_ = false;
    bool seq_shutdown_ = false;
    bool start_armed_ = false;
    int seq_cycle_ = 0;

    // Counters.
    uint32_t crc_errors_ = 0;
    uint64_t frames_written_ = 0;
    uint64_t configurations_ = 0;
    uint64_t jstart_clocks_ = 0;

    // USER registers.
    uint64_t user_capture_[2] = {0, 0};
    uint64_t user_value_[2] = {0, 0};
    uint64_t user_updates_[2] = {0, 0};
};

} // namespace bench
