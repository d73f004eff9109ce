// The start-up sequencer of a Spartan-II: after START it steps through the
// cycles that COR assigns to DONE and the global signals GTS, GWE and GSR, one
// cycle per start-up clock; with COR's SHUTDOWN bit set it runs them backwards.
// It also holds GHIGH, which the LFRM and AGHIGH commands move.
#pragma once

#include <cstdint>

namespace bench {

class StartupSequencer {
public:
    // The status word bits it owns.
    enum : uint32_t {
        STAT_GTS_CFG = 1u << 6, STAT_GWE_B = 1u << 7, STAT_GSR_B = 1u << 8, STAT_GHIGH_B = 1u << 9,
        STAT_DONE = 1u << 14,
    };

    // As after PROGRAM: DONE low, every global signal asserted, COR 0. The
    // count of configurations runs over the device's life.
    void clear();

    // COR: the cycle of each event, the SHUTDOWN bit and the start-up clock.
    void set_cor(uint32_t cor) { cor_ = cor; }
    uint32_t cor() const { return cor_; }
    // Bits 21..20 of COR: 00 CCLK, 01 the user clock, 1x TCK.
    bool clocked_by_tck() const { return (cor_ >> 21) & 1; }
    bool clocked_by_cclk() const { return ((cor_ >> 20) & 3) == 0; }

    // START: the sequence begins with the next start-up clock.
    void start();
    // START that waits for the next CRC check: a good check starts the sequence,
    // a bad one drops it.
    void arm() { armed_ = true; }
    void crc_checked(bool ok);
    // One start-up clock. A failed CRC check (`crc_error`) stops a start-up
    // where it is; a shut-down goes on.
    void clock(bool crc_error);

    // LFRM releases GHIGH with the last frame; AGHIGH asserts it again.
    void set_ghigh_released(bool released) { ghigh_b_ = released; }

    bool running() const { return running_; }
    bool done() const { return done_; }
    bool gts_released() const { return gts_released_; }
    bool gwe_enabled() const { return gwe_enabled_; }
    bool gsr_released() const { return gsr_released_; }
    uint32_t status_bits() const;
    uint64_t configurations() const { return configurations_; }

private:
    void startup_cycle(bool crc_error);
    void shutdown_cycle();

    uint32_t cor_ = 0;
    int cycle_ = 0;
    bool running_ = false, shutdown_ = false, armed_ = false;
    // DONE and the global signals, each true once released.
    bool done_ = false, gts_released_ = false, gwe_enabled_ = false, gsr_released_ = false;
    bool ghigh_b_ = false;
    uint64_t configurations_ = 0;
};

} // namespace bench
