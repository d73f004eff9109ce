// The Spartan-II model's choices where the device documentation leaves the
// behaviour open; each part of the model reads the ones that concern it.
#pragma once

#include <cstdint>

namespace bench {

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

} // namespace bench
