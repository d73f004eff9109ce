// Boundary-scan configuration strategy: discover the chain, pick and identify the
// target, shut it down, stream the bitstream through CFG_IN, start it and check it.
#include "vokisp_jtag.h"

#include <string>

#include "bscan.h"
#include "chain.h"
#include "console.h"
#include "devlist.h"
#include "packet_end.h"
#include "settings.h"
#include "sp2jtag.h"
#include "startup_clock.h"
#include "strategy.h"

char bitstream_part[PART_NAME_SIZE] = "";

namespace {

const char *name_of(uint32_t idcode)
{
    const char *name = devlist_spartan2_name(idcode);
    return name != nullptr ? name : "unknown";
}

const char *const md2_str[] = {" Hi-z ", "Pullup"};
const char *const hl_str[] = {"H", "L"};
const char *const lock_str[] = {"L", "U"};
const char *const yesno_str[] = {"YES", "NO "};
const char *const err_str[] = {"OK ", "ERR"};

constexpr uint32_t STAT_CRC_ERROR = 1u << 0;
constexpr uint32_t STAT_DONE = 1u << 14;
constexpr int32_t SPARTAN2_IR_LEN = 5;
// The instruction capture of a Spartan-II: PROGRAM, INIT and DONE in bits 4..2, then 01.
constexpr uint32_t CAPTURE_FIXED_MASK = 0x3;
constexpr uint32_t CAPTURE_FIXED = 0x1;
constexpr uint32_t CAPTURE_DONE = 1u << 2;

// The target's instruction capture while every device gets BYPASS; -1 when the
// fixed bits are not there (no TDO, or a TAP that was not in Run-Test/Idle).
int32_t target_ir_capture()
{
    uint8_t capture[8];
    const int32_t bits = chain.bscan_tdo_ir + SPARTAN2_IR_LEN;
    if (bscan_bypass_capture(capture, bits) != bits)
        return -1;
    const uint32_t value = get_bit(capture, chain.bscan_tdo_ir, SPARTAN2_IR_LEN);
    return (value & CAPTURE_FIXED_MASK) == CAPTURE_FIXED ? static_cast<int32_t>(value) : -1;
}

// "0 XC18V02, 1 XC2S200": the chain from the TDO end, for messages.
std::string chain_text()
{
    if (chain.bscan_num_chain == 0)
        return "no devices";
    std::string text;
    for (int32_t i = 0; i < chain.bscan_num_chain; ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(i) + " " + devlist_display_name(chain.dev_chain[i].idcode);
    }
    return text;
}

void say_unknown_part(const std::string &part)
{
    say("The bitstream's part '%s' is not a device this program knows (chain from TDO: %s): "
        "choose the device with -target\n",
        part.c_str(), chain_text().c_str());
}

// Chooses the target for a bitstream of the part whose lookup gave idcode (0:
// no table row), or checks the one already chosen. The device must be that
// part; a bitstream of an unknown part goes only where -target sends it. Prints
// why when it refuses, and returns false then.
bool choose_target(uint32_t idcode)
{
    const std::string part = printable(bitstream_part, sizeof bitstream_part);
    if (settings.bscan_tdo_chips >= 0) {
        if (settings.bscan_tdo_chips >= chain.bscan_num_chain)
            return true; // refused later, as any index outside the chain
        const uint32_t device = chain.dev_chain[settings.bscan_tdo_chips].idcode;
        if (idcode != 0 && !devlist_same_part(idcode, device)) {
            say("Device %d of the chain is the %s, not the bitstream's part '%s': nothing configured\n",
                settings.bscan_tdo_chips, devlist_display_name(device).c_str(), part.c_str());
            return false;
        }
        if (idcode == 0 && !part.empty() && settings.target_chosen_automatically) {
            say_unknown_part(part);
            return false;
        }
        return true;
    }
    if (idcode == 0) {
        if (!part.empty()) {
            say_unknown_part(part);
            return false;
        }
        settings.bscan_tdo_chips = 0;
        settings.target_chosen_automatically = true;
        if (chain.bscan_num_chain > 0)
            say("The bitstream names no part: configuring device 0, the %s nearest TDO\n",
                devlist_display_name(chain.dev_chain[0].idcode).c_str());
        return true;
    }
    std::string matches;
    int32_t found = -1;
    int32_t count = 0;
    for (int32_t i = 0; i < chain.bscan_num_chain; ++i) {
        if (devlist_same_part(idcode, chain.dev_chain[i].idcode)) {
            matches += (count++ > 0 ? ", " : "") + std::to_string(i);
            found = i;
        }
    }
    if (count == 0) {
        say("No device in the chain is the bitstream's part '%s' (chain from TDO: %s): nothing configured\n",
            part.c_str(), chain_text().c_str());
        return false;
    }
    if (count > 1) {
        say("Devices %s of the chain all are the bitstream's part '%s': choose one with -target\n",
            matches.c_str(), part.c_str());
        return false;
    }
    settings.bscan_tdo_chips = found;
    settings.target_chosen_automatically = true;
    return true;
}

uint32_t bit(uint32_t s, int n) { return (s >> n) & 1u; }

// The configuration logic held a CRC error before the data of this load went in.
bool crc_error_before_load = false;

// A status word never reads all zeros (a device that is not started holds GWE
// disabled, bit 7; a started one shows DONE) nor all ones. Either means that
// the read request never reached the status register.
bool status_answered(uint32_t s) { return s != 0 && s != 0xFFFFFFFFu; }

void print_status(uint32_t s)
{
    say("FPGA Status :DONE:INIT:    MODE   ( I/O ):GWE:GSR:GHIGH:GTS:IER:LOCK:CRC:\n");
    say("  %08X  :%s :%s :%s(%s): %s : %s :  %s  : %s : %s :%s%s%s%s:%s:\n", s,
        yesno_str[bit(s, 14) ? 0 : 1], yesno_str[bit(s, 13)], md_str[(s >> 10) & 3u], md2_str[bit(s, 12)],
        hl_str[bit(s, 7)], hl_str[bit(s, 8)], hl_str[bit(s, 9)], hl_str[bit(s, 6)], hl_str[bit(s, 5)],
        lock_str[bit(s, 1)], lock_str[bit(s, 2)], lock_str[bit(s, 3)], lock_str[bit(s, 4)], err_str[bit(s, 0)]);
}

} // namespace

uint32_t jtag_start(uint32_t idcode)
{
    startup_clock_reset();
    packet_end_reset();
    if (bscan_scan_chain() == 0) {
        say("Can't scan JTAG chain\n");
        return ERR_TARGET;
    }
    // Nothing is shut down or cleared before the target is known to be the
    // bitstream's part.
    if (!choose_target(idcode))
        return ERR_TARGET;
    if (settings.bscan_tdo_chips >= chain.bscan_num_chain)
        return ERR_TARGET;
    bscan_select(settings.bscan_tdo_chips);

    // Every scan below loads a 5-bit instruction into the target.
    const chain_entry &target = chain.dev_chain[settings.bscan_tdo_chips];
    if (target.ir_len != SPARTAN2_IR_LEN) {
        say("Target %s has an IR of %d bits; only a Spartan-II (5 bits) can be configured\n",
            target.name != nullptr ? target.name : "?", target.ir_len);
        return ERR_TARGET;
    }

    const uint32_t id = spa2_read_deviceid();
    say("Device ID code %08XH : %s Rev.%d\n", id, name_of(id), static_cast<int>(id >> 28));
    if (id == 0xFFFFFFFFu || id == 0) {
        say("JTAG DEVICE error\n");
        return ERR_TARGET;
    }
    jtag_shutdown();
    uint32_t s = spa2_read_status();
    // Not answered: either the configuration logic has not synchronised since
    // power-up or PROGRAM, which a sync word ahead of the request settles, or it
    // takes every word as data of a packet that an interrupted load left open.
    if (!status_answered(s))
        s = spa2_read_status_synced();
    if (!status_answered(s)) {
        // Ending the open packet costs as much as a load, and only this case pays it.
        const uint32_t words = spa2_frame_data_words(id);
        say("The FPGA was still inside an interrupted load: %u no-op words end it, then the load runs anyway\n",
            words);
        spa2_write_noops(words);
        spa2_shutdown();
        s = spa2_read_status();
        if (!status_answered(s))
            say("The FPGA's configuration logic still does not answer; should the load fail, switch the "
                "target supply off and on to clear it\n");
    }
    print_status(s);
    crc_error_before_load = (s & STAT_CRC_ERROR) != 0;
    spa2_enter_config();
    return 0;
}

uint32_t jtag_write(const uint8_t *data, uint32_t count, int32_t last)
{
    startup_clock_scan(data, count);
    packet_end_scan(data, count);
    spa2_write_config(data, count, last);
    if (last == 0)
        return 0;

    const uint32_t s = jtag_status();
    const bool cclk_startup = startup_clock_seen() == startup_clock::cclk;
    startup_clock_reset(); // the next configuration looks again
    if ((s & STAT_CRC_ERROR) != 0 && crc_error_before_load) {
        say("Configuration failed: the FPGA held a CRC error from an earlier load before this one began; "
            "pulse PROGRAM or switch the target supply off and on to clear it\n");
    } else if ((s & STAT_CRC_ERROR) != 0) {
        say("Configuration failed: CRC error in the bitstream\n");
    } else if ((s & STAT_DONE) == 0) {
        if (cclk_startup)
            say("Configuration failed: DONE is low; the bitstream starts up on CCLK, "
                "which JTAG cannot clock: generate it with the JTAG clock as start-up clock\n");
        else
            say("Configuration failed: DONE is low\n");
    } else {
        return 0;
    }
    return ERR_TARGET;
}

void jtag_break()
{
    spa2_end_config(packet_end_pad_bytes());
}

uint32_t jtag_status()
{
    const uint32_t s = spa2_read_status();
    print_status(s);
    return s;
}

int32_t jtag_done()
{
    int32_t capture = target_ir_capture();
    if (capture < 0) {
        // A TAP reset by a supply dip sits in Test-Logic-Reset: start from there once.
        bscan_reset(6);
        capture = target_ir_capture();
    }
    if (capture < 0)
        return -1;
    return (static_cast<uint32_t>(capture) & CAPTURE_DONE) != 0 ? 1 : 0;
}

int32_t jtag_shutdown()
{
    say("FPGA shutdown\n");
    return spa2_shutdown();
}
