#include "startup_sequencer.h"

namespace bench {

namespace {
// COR cycle fields: codes 0..5 are start-up cycles 1..6, 6 waits for DONE,
// 7 keeps the signal as it is. DLL lock waits are not modelled.
int done_code(uint32_t cor) { return int((cor >> 12) & 7); }
int gts_code(uint32_t cor) { return int((cor >> 6) & 7); }
int gwe_code(uint32_t cor) { return int((cor >> 3) & 7); }
int gsr_code(uint32_t cor) { return int(cor & 7); }
} // namespace

void StartupSequencer::clear() {
    cor_ = 0;
    cycle_ = 0;
    running_ = shutdown_ = armed_ = false;
    done_ = gts_released_ = gwe_enabled_ = gsr_released_ = false;
    ghigh_b_ = false;
}

void StartupSequencer::start() {
    running_ = true;
    shutdown_ = (cor_ >> 15) & 1;
    cycle_ = 0;
}

void StartupSequencer::crc_checked(bool ok) {
    if (!armed_)
        return;
    armed_ = false;
    if (ok)
        start();
}

void StartupSequencer::clock(bool crc_error) {
    if (shutdown_)
        shutdown_cycle();
    else
        startup_cycle(crc_error);
}

void StartupSequencer::startup_cycle(bool crc_error) {
    if (crc_error)
        return;
    const int pipe = int((cor_ >> 30) & 1); // DONE_PIPE adds a stage on DONE
    const int done_at = done_code(cor_);
    cycle_++;
    if (done_at <= 5 && cycle_ == done_at + 1 + pipe && !done_) {
        done_ = true;
        configurations_++;
    }
    auto release = [&](int code, bool &flag) {
        if (code <= 5 ? cycle_ == code + 1 : (code == 6 && done_))
            flag = true;
    };
    release(gts_code(cor_), gts_released_);
    release(gwe_code(cor_), gwe_enabled_);
    release(gsr_code(cor_), gsr_released_);
    if (cycle_ >= 7 + pipe)
        running_ = false;
}

// Shut-down runs the start-up backwards: an event of start-up cycle c happens
// at shut-down cycle 7 - c, so GWE and GSR go first and DONE last.
void StartupSequencer::shutdown_cycle() {
    const int done_at = done_code(cor_);
    cycle_++;
    auto cycle_of = [&](int code) {
        if (code <= 5)
            return 6 - code;
        if (code == 6 && done_at <= 5)
            return 6 - done_at;
        return -1;
    };
    if (cycle_ == cycle_of(gwe_code(cor_)))
        gwe_enabled_ = false;
    if (cycle_ == cycle_of(gsr_code(cor_)))
        gsr_released_ = false;
    if (cycle_ == cycle_of(gts_code(cor_)))
        gts_released_ = false;
    if (done_at <= 5 && cycle_ == 6 - done_at)
        done_ = false;
    if (cycle_ >= 7)
        running_ = false;
}

uint32_t StartupSequencer::status_bits() const {
    uint32_t s = 0;
    if (gts_released_)
        s |= STAT_GTS_CFG;
    if (!gwe_enabled_)
        s |= STAT_GWE_B;
    if (gsr_released_)
        s |= STAT_GSR_B;
    if (ghigh_b_)
        s |= STAT_GHIGH_B;
    if (done_)
        s |= STAT_DONE;
    return s;
}

} // namespace bench
