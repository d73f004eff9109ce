// TAP operations built on the driver's one shift entry point, and chain discovery.
#include "bscan.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "chain.h"
#include "console.h"
#include "devlist.h"
#include "driver_binding.h"

jtag_chain chain;

namespace {

// BYPASS fill for the instruction registers of the other devices.
constexpr std::array<uint8_t, 8> ones = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr int32_t ones_bits = static_cast<int32_t>(ones.size()) * 8;

// The device count stops here: one more than the chain table holds.
constexpr int32_t max_count = CHAIN_CAPACITY + 1;

void shift(const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t tms, int32_t tms_last)
{
    driver.jtag_txrx(tdi, tdo, bits, tms, tms_last);
}

// Shifts count one bits; a fill longer than the ones buffer goes in several calls.
void shift_ones(int32_t count, int32_t tms_last)
{
    while (count > ones_bits) {
        shift(ones.data(), nullptr, ones_bits, 0, 0);
        count -= ones_bits;
    }
    if (count > 0)
        shift(ones.data(), nullptr, count, 0, tms_last);
}

// Received bytes into stream order when the driver delivers them least significant bit first.
void to_stream_order(uint8_t *buffer, int32_t bytes)
{
    if (driver.bscan_convert_bit_order_in == 1) {
        for (int32_t i = 0; i < bytes; ++i)
            buffer[i] = swap_byte(buffer[i]);
    }
}

// Shifts a single 1 into TDI and returns the bit that came out of TDO.
int32_t shift_one_read()
{
    const uint8_t one = 0xFF;
    uint8_t out = 0;
    shift(&one, &out, 1, 0, 0);
    to_stream_order(&out, 1);
    return (out & 0x80) != 0;
}

} // namespace

uint8_t swap_byte(uint8_t b)
{
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

int32_t bscan_reset(int32_t count)
{
    shift(nullptr, nullptr, count, 1, 0);
    return 0;
}

int32_t bscan_inst(uint8_t instruction, const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t last)
{
    shift(nullptr, nullptr, 2, 1, 1); // Select-DR-Scan, Select-IR-Scan
    shift(nullptr, nullptr, 2, 0, 0); // Capture-IR, Shift-IR
    // The bits shifted first travel furthest: BYPASS for the devices nearer TDO.
    if (chain.bscan_tdo_ir > 0)
        shift_ones(chain.bscan_tdo_ir, 0);
    // Bit 0 of the opcode goes first.
    const uint8_t opcode = swap_byte(instruction);
    if (chain.bscan_tdi_ir > 0) {
        shift(&opcode, nullptr, 5, 0, 0);
        shift_ones(chain.bscan_tdi_ir, 1);
    } else {
        shift(&opcode, nullptr, 5, 0, 1);
    }
    shift(nullptr, nullptr, 2, 1, 1); // Update-IR, Select-DR-Scan
    shift(nullptr, nullptr, 2, 0, 0); // Capture-DR, Shift-DR
    if (chain.bscan_before_dr > 0)
        shift(nullptr, nullptr, chain.bscan_before_dr, 0, 0);
    if (bits > 0)
        bscan_dr(tdi, tdo, bits, last);
    return 0;
}

int32_t bscan_dr(const uint8_t *tdi, uint8_t *tdo, int32_t bits, int32_t last)
{
    const int32_t bytes = bits > 0 ? (bits + 7) / 8 : 0;
    // A cable that delivers nothing must not leave stale bytes behind.
    if (tdo != nullptr && bytes > 0)
        std::memset(tdo, 0, static_cast<size_t>(bytes));

    if (last == 0) {
        if (bits > 0)
            shift(tdi, tdo, bits, 0, 0);
    } else {
        if (chain.bscan_after_dr > 0) {
            if (bits > 0)
                shift(tdi, tdo, bits, 0, 0);
            shift(nullptr, nullptr, chain.bscan_after_dr, 0, 1);
        } else if (bits > 0) {
            shift(tdi, tdo, bits, 0, 1);
        } else {
            shift(nullptr, nullptr, 1, 0, 1); // no data left: one zero bit leaves Shift-DR
        }
        shift(nullptr, nullptr, 1, 1, 1); // Update-DR
        shift(nullptr, nullptr, 2, 0, 0); // Run-Test/Idle
    }
    if (tdo != nullptr)
        to_stream_order(tdo, bytes);
    return 0;
}

int32_t bscan_bypass_capture(uint8_t *capture, int32_t bits)
{
    int32_t total = 0;
    for (int32_t i = 0; i < chain.bscan_num_chain; ++i)
        total += chain.dev_chain[i].ir_len;
    bits = std::min({bits, total, ones_bits});
    if (bits <= 0)
        return 0;
    std::memset(capture, 0, static_cast<size_t>((bits + 7) / 8));
    shift(nullptr, nullptr, 2, 1, 1); // Select-DR-Scan, Select-IR-Scan
    shift(nullptr, nullptr, 2, 0, 0); // Capture-IR, Shift-IR
    shift(ones.data(), capture, bits, 0, total == bits ? 1 : 0);
    shift_ones(total - bits, 1);      // ends in Exit1-IR
    shift(nullptr, nullptr, 2, 1, 0); // Update-IR, Run-Test/Idle
    to_stream_order(capture, (bits + 7) / 8);
    return bits;
}

int32_t bscan_scan_chain()
{
    std::array<uint8_t, 8> capture{};
    std::array<uint8_t, 4 * CHAIN_CAPACITY> ids{};

    for (chain_entry &entry : chain.dev_chain)
        entry = chain_entry{nullptr, 0, 0};
    chain.bscan_num_chain = 0;

    shift(nullptr, nullptr, 6, 1, 0); // Test-Logic-Reset, Run-Test/Idle
    shift(nullptr, nullptr, 2, 1, 1);
    shift(nullptr, nullptr, 2, 0, 0); // Shift-IR
    // The capture values of every instruction register, the device nearest TDO first.
    shift(nullptr, capture.data(), 64, 0, 0);

    // Ones pushed in come out after every IR bit of the chain.
    int32_t ir_bits = 0;
    while (ir_bits < 64 && shift_one_read() == 0)
        ++ir_bits;
    const uint8_t one = 0xFF;
    shift(&one, nullptr, 1, 0, 1); // Exit1-IR: every device now holds BYPASS
    shift(nullptr, nullptr, 2, 1, 1);
    shift(nullptr, nullptr, 2, 0, 0); // Update-IR, Shift-DR

    // Each BYPASS register captured a 0; the first 1 out has passed them all.
    // A TDO stuck low would never return a 1, so the count stops one past the table.
    int32_t count = 0;
    while (count < max_count && shift_one_read() == 0)
        ++count;

    shift(nullptr, nullptr, 1, 1, 1); // Exit1-DR
    shift(nullptr, nullptr, 6, 1, 0); // Test-Logic-Reset loads IDCODE, then Run-Test/Idle
    if (count > CHAIN_CAPACITY)
        return 0;
    chain.bscan_num_chain = count;

    if (count > 0) {
        shift(nullptr, nullptr, 1, 1, 1);
        shift(nullptr, nullptr, 2, 0, 0); // Shift-DR
        shift(nullptr, ids.data(), 32 * count, 0, 1); // ends in Exit1-DR
    }
    to_stream_order(capture.data(), static_cast<int32_t>(capture.size()));
    to_stream_order(ids.data(), 4 * count);

    const int32_t found =
        build_device_chain(chain.dev_chain, CHAIN_CAPACITY, capture.data(), ir_bits, ids.data(), 32 * count);
    if (found != chain.bscan_num_chain)
        return 0;
    // The IR lengths of the table must account for every IR bit measured, or every
    // instruction scan would be misaligned.
    int32_t table_ir = 0;
    for (int32_t i = 0; i < found; ++i)
        table_ir += chain.dev_chain[i].ir_len;
    return table_ir == ir_bits ? 1 : 0;
}

int32_t bscan_device_autoditect(uint32_t idcode)
{
    int32_t found = -1;
    int32_t matches = 0;
    for (int32_t i = 0; i < chain.bscan_num_chain; ++i) {
        if ((chain.dev_chain[i].idcode & 0x0FFFFFFFu) == idcode) {
            found = i;
            ++matches;
        }
    }
    if (matches == 0)
        return 0; // the device nearest TDO
    return matches == 1 ? found : -1;
}

void bscan_select(int32_t target)
{
    const int32_t n = chain.bscan_num_chain;
    chain.bscan_tdo_bypass = target;
    chain.bscan_tdi_bypass = n - target - 1;
    chain.bscan_before_dr = chain.bscan_tdo_bypass;
    chain.bscan_after_dr = chain.bscan_tdi_bypass;
    chain.bscan_tdo_ir = 0;
    chain.bscan_tdi_ir = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (i < target)
            chain.bscan_tdo_ir += chain.dev_chain[i].ir_len;
        else if (i > target)
            chain.bscan_tdi_ir += chain.dev_chain[i].ir_len;
    }

    std::string line = "JTAG Chain : TDO ";
    for (int32_t i = 0; i < n; ++i) {
        char entry[64];
        std::snprintf(entry, sizeof entry, "-<-%c%s[%08XH]", i == target ? '*' : ' ',
                      chain.dev_chain[i].name != nullptr ? chain.dev_chain[i].name : "", chain.dev_chain[i].idcode);
        line += entry;
    }
    say("%s-<-TDI\n", line.c_str());
}
