// Spartan-II model: the TAP with the device's JTAG instructions and the
// slave-serial pins around the configuration logic, which is made of the
// packet processor, the frame memory and the start-up sequencer.
#pragma once

#include "frame_memory.h"
#include "packet_processor.h"
#include "parts.h"
#include "spartan2_settings.h"
#include "startup_sequencer.h"
#include "tap.h"

#include <cstdint>

namespace bench {

class Spartan2 : public JtagDevice {
public:
    // JTAG instructions (5-bit IR).
    enum : uint32_t {
        EXTEST = 0x00, SAMPLE = 0x01, USER1 = 0x02, USER2 = 0x03, CFG_OUT = 0x04, CFG_IN = 0x05,
        INTEST = 0x07, USERCODE = 0x08, IDCODE = 0x09, HIGHZ = 0x0A, JSTART = 0x0C, BYPASS = 0x1F,
    };
    static constexpr uint32_t SYNC_WORD = PacketProcessor::SYNC_WORD;
    // The status word bits the device itself sets; the mode pins are bits 12..10.
    // No DLLs are modelled, so the lock bits 1..4 read 0; IN_ERROR (bit 5) has
    // no known trigger and reads 0.
    enum : uint32_t { STAT_CRC_ERROR = 1u << 0, STAT_INIT = 1u << 13 };

    Spartan2(const PartInfo &part, const Spartan2Settings &settings = {});
    // The parts refer to each other and to the settings.
    Spartan2(const Spartan2 &) = delete;
    Spartan2 &operator=(const Spartan2 &) = delete;

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
    bool done_pin() const { return sequencer_.done(); }
    bool init_pin() const { return !(clearing_ || !prog_b_ || packets_.crc_error()); }
    void elapse_ns(uint64_t ns);
    bool clearing() const { return clearing_; }

    // One whole configuration word, for tests that skip the pins.
    void feed_word(uint32_t w) { packets_.feed_word(w); }

    // The parts, for reports and tests.
    const PacketProcessor &packets() const { return packets_; }
    const FrameMemory &frames() const { return frames_; }
    const StartupSequencer &sequencer() const { return sequencer_; }

    // The summary that the bench reports.
    bool configured() const { return sequencer_.done(); }
    uint32_t status_word() const;
    uint32_t crc_errors() const { return packets_.crc_errors(); }
    uint64_t frames_written() const { return frames_.frames_written(); }
    uint64_t configurations() const { return sequencer_.configurations(); }
    uint64_t digest() const { return frames_.digest(); }
    uint64_t jstart_clocks() const { return jstart_clocks_; }

    // USER1 (0) and USER2 (1): the value the stand-in design presents at
    // Capture-DR, the last value shifted in at Update-DR, and how many updates.
    void set_user_capture(int n, uint64_t v) { user_capture_[n & 1] = v; }
    uint64_t user_value(int n) const { return user_value_[n & 1]; }
    uint64_t user_updates(int n) const { return user_updates_[n & 1]; }

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
    void start_memory_clear();
    bool input_enabled() const { return prog_b_ && !clearing_; }

    const PartInfo &part_;
    Spartan2Settings settings_;
    FrameMemory frames_;
    StartupSequencer sequencer_;
    PacketProcessor packets_;

    // PROGRAM, CCLK, and the memory clear that holds INIT low.
    bool prog_b_ = true;
    bool cclk_ = false;
    bool clearing_ = false;
    uint64_t clear_left_ns_ = 0;

    // CFG_IN's one-bit stage; CFG_OUT's leading bits still to shift.
    bool cfg_in_stage_ = false;
    int out_lead_left_ = 0;
    uint64_t jstart_clocks_ = 0;

    uint64_t user_capture_[2] = {0, 0};
    uint64_t user_value_[2] = {0, 0};
    uint64_t user_updates_[2] = {0, 0};
};

} // namespace bench
