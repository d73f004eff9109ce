// Spartan-II configuration sequences over JTAG, and the user channel to a
// configured design through USER1 or USER2.
#include "sp2jtag.h"

#include <algorithm>
#include <array>

#include "bscan.h"
#include "platform.h"
#include "chain.h"

namespace {

// Spartan-II instructions (5-bit IR).
constexpr uint8_t INST_USER1 = 0x02;
constexpr uint8_t INST_USER2 = 0x03;
constexpr uint8_t INST_CFG_OUT = 0x04;
constexpr uint8_t INST_CFG_IN = 0x05;
constexpr uint8_t INST_IDCODE = 0x09;
constexpr uint8_t INST_JSTART = 0x0C;

// Packets for CFG_IN: 32-bit words stored high byte first, shifted most significant bit first.
// Read one word from STAT; a zero word pushes the request through.
constexpr std::array<uint8_t, 8> sts_data = {
    0x28, 0x00, 0xE0, 0x01, // read STAT, 1 word
    0x00, 0x00, 0x00, 0x00,
};
// The same behind a dummy and a sync word, for configuration logic that has
// not synchronised since power-up or PROGRAM and ignores packets until then.
constexpr std::array<uint8_t, 16> sync_sts_data = {
    0xFF, 0xFF, 0xFF, 0xFF, // dummy
    0xAA, 0x99, 0x55, 0x66, // sync
    0x28, 0x00, 0xE0, 0x01, // read STAT, 1 word
    0x00, 0x00, 0x00, 0x00,
};
// CMD 9, COR with the shut-down bit and the JTAG start-up clock, START, RCRC.
constexpr std::array<uint8_t, 36> sht_data0 = {
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x09, // CMD <- 9
    0x30, 0x01, 0x20, 0x01, 0x00, 0xA0, 0xBF, 0x2D, // COR <- 0x00A0BF2D
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x05, // CMD <- START
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x07, // CMD <- RCRC
    0x00, 0x00, 0x00, 0x00,
};
// AGHIGH, then the default COR back.
constexpr std::array<uint8_t, 20> sht_data1 = {
    0x30, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x08, // CMD <- AGHIGH
    0x30, 0x01, 0x20, 0x01, 0x00, 0x80, 0x3F, 0x2D, // COR <- 0x00803F2D
    0x00, 0x00, 0x00, 0x00,
};

constexpr uint32_t shutdown_pause_ms = 50;

// No-op words go into CFG_IN in scans of one data block each.
constexpr uint32_t noop_words_per_scan = 2048;

// Words of the longest packet of each part's bitstream: the frame data of the
// CLB, IOB and block-RAM interconnect columns and one pad frame.
struct frame_data_row {
    uint32_t idcode;
    uint32_t words;
};
constexpr std::array<frame_data_row, 6> frame_data = {{
    {0x00608093, 5229},  // XC2S15
    {0x0060C093, 9315},  // XC2S30
    {0x00610093, 15876}, // XC2S50
    {0x00614093, 22554}, // XC2S100
    {0x00618093, 30384}, // XC2S150
    {0x0061C093, 39366}, // XC2S200
}};

// The open user channel: 0 none, 1 USER1, 2 USER2.
uint8_t spi_opened = 0;

// Packets reach the target at a multiple of 32 bits from the start of Shift-DR: the
// BYPASS bits of the devices on the TDI side arrive first, then this fill.
void alignment_fill_on() { chain.bscan_before_dr = (32 - chain.bscan_tdi_bypass % 32) % 32; }
void alignment_fill_off() { chain.bscan_before_dr = chain.bscan_tdo_bypass; }

} // namespace

uint32_t get_dword(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

uint32_t swap_dword(uint32_t w)
{
    return static_cast<uint32_t>(swap_byte(static_cast<uint8_t>(w))) << 24 |
           static_cast<uint32_t>(swap_byte(static_cast<uint8_t>(w >> 8))) << 16 |
           static_cast<uint32_t>(swap_byte(static_cast<uint8_t>(w >> 16))) << 8 |
           static_cast<uint32_t>(swap_byte(static_cast<uint8_t>(w >> 24)));
}

uint32_t spa2_read_deviceid()
{
    std::array<uint8_t, 4> id{};
    bscan_reset(6);
    bscan_inst(INST_IDCODE, nullptr, id.data(), 32, 1);
    // The IDCODE comes out least significant bit first.
    return swap_dword(get_dword(id.data()));
}

namespace {

uint32_t read_status_after(const uint8_t *request, int32_t bits)
{
    std::array<uint8_t, 4> status{};
    bscan_reset(6);
    alignment_fill_on();
    bscan_inst(INST_CFG_IN, request, nullptr, bits, 1);
    alignment_fill_off();
    bscan_inst(INST_CFG_OUT, nullptr, nullptr, 1, 0); // one leading bit, dropped
    bscan_dr(nullptr, status.data(), 32, 1);
    // The status word arrives most significant bit first.
    return get_dword(status.data());
}

} // namespace

uint32_t spa2_read_status() { return read_status_after(sts_data.data(), 64); }

uint32_t spa2_read_status_synced() { return read_status_after(sync_sts_data.data(), 128); }

int32_t spa2_shutdown()
{
    bscan_reset(6);
    alignment_fill_on();
    bscan_inst(INST_CFG_IN, sht_data0.data(), nullptr, 288, 1);
    platform_sleep_ms(shutdown_pause_ms);
    // Zero bits in Shift-DR under JSTART clock the shut-down sequence.
    bscan_inst(INST_JSTART, nullptr, nullptr, 16, 1);
    platform_sleep_ms(shutdown_pause_ms);
    bscan_inst(INST_CFG_IN, sht_data1.data(), nullptr, 160, 1);
    platform_sleep_ms(shutdown_pause_ms);
    alignment_fill_off();
    return 0;
}

int32_t spa2_enter_config()
{
    bscan_reset(6);
    alignment_fill_on();
    bscan_inst(INST_CFG_IN, nullptr, nullptr, 0, 0); // stays in Shift-DR for the data
    alignment_fill_off();
    return 0;
}

uint32_t spa2_frame_data_words(uint32_t idcode)
{
    for (const frame_data_row &row : frame_data) {
        if (row.idcode == (idcode & 0x0FFFFFFFu))
            return row.words;
    }
    return frame_data.back().words;
}

int32_t spa2_write_noops(uint32_t words)
{
    if (words == 0)
        return 0;
    spa2_enter_config();
    while (words > 0) {
        const uint32_t n = std::min(words, noop_words_per_scan);
        words -= n;
        bscan_dr(nullptr, nullptr, static_cast<int32_t>(32 * n), words == 0 ? 1 : 0);
    }
    return 0;
}

int32_t spa2_end_config(uint32_t pad_bytes)
{
    do {
        const uint32_t n = std::min(pad_bytes, 4 * noop_words_per_scan);
        pad_bytes -= n;
        bscan_dr(nullptr, nullptr, static_cast<int32_t>(8 * n), pad_bytes == 0 ? 1 : 0);
    } while (pad_bytes > 0);
    return 0;
}

int32_t spa2_write_config(const uint8_t *data, uint32_t count, int32_t last)
{
    bscan_dr(data, nullptr, static_cast<int32_t>(8 * count), last);
    if (last != 0)
        bscan_inst(INST_JSTART, nullptr, nullptr, 14, 1); // clocks the start-up sequence
    return 0;
}

int32_t spa2_select_user(uint8_t type)
{
    if (spi_opened != 0) {
        // Ends the open scan in Run-Test/Idle, where the next instruction scan starts.
        bscan_dr(nullptr, nullptr, 6, 1);
        spi_opened = 0;
    }
    if (type == 1) {
        bscan_inst(INST_USER1, nullptr, nullptr, 0, 0);
        spi_opened = 1;
    } else if (type == 2) {
        bscan_inst(INST_USER2, nullptr, nullptr, 0, 0);
        spi_opened = 2;
    }
    return 0;
}

int32_t spa2_xfer_user(const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t last)
{
    bscan_dr(tdi, tdo, bits, last);
    if (last != 0)
        spi_opened = 0;
    if (tdo == nullptr)
        return 0;
    // Each complete byte holds its first received bit in bit 0.
    for (int32_t i = 0; i < bits / 8; ++i)
        tdo[i] = swap_byte(tdo[i]);
    return 1;
}
