// CPU time of the engine itself for one XC2S200 configuration over a cable that
// does nothing: entering CFG_IN, the 8192-byte blocks of a 166,980-byte bitstream,
// the last-block exit, JSTART and the status read. Arguments: runs (2000), and 0 to
// leave the COR write out of the data, the worst case for the strategy's COR search. Prints the CPU time per
// configuration (process CPU clock) and the wall time, averaged over many runs.
#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "bscan.h"
#include "sp2jtag.h"
#include "chain.h"
#include "driver_binding.h"
#include "vokisp_jtag.h"

namespace {

uint64_t shift_calls = 0;
uint64_t shift_bits = 0;

int32_t VOK_CALL no_op_shift(const uint8_t *, uint8_t *, int32_t nbits, int32_t, int32_t)
{
    ++shift_calls;
    shift_bits += static_cast<uint64_t>(nbits);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    constexpr uint32_t bitstream_bytes = 166980; // XC2S200
    std::vector<uint8_t> bitstream(bitstream_bytes);
    for (uint32_t i = 0; i < bitstream_bytes; ++i)
        bitstream[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    // The usual head: dummy, sync, RCRC, FLR, COR (the strategy looks for the COR write).
    const uint8_t head[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66, 0x30, 0x00, 0x80, 0x01,
                            0x00, 0x00, 0x00, 0x07, 0x30, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x11,
                            0x30, 0x01, 0x20, 0x01, 0x00, 0xA0, 0x3F, 0x2D};
    if (argc <= 2 || std::atoi(argv[2]) != 0)
        std::copy(std::begin(head), std::end(head), bitstream.begin());

    driver.jtag_txrx = no_op_shift;
    driver.bscan_convert_bit_order_in = 1;
    // A PROM on each side of the target, so that every fill is in use.
    chain.bscan_num_chain = 3;
    chain.dev_chain[0] = chain_entry{"18v02", 0x05025093, 8};
    chain.dev_chain[1] = chain_entry{"v200", 0x0061C093, 5};
    chain.dev_chain[2] = chain_entry{"18v04", 0x05026093, 8};
    std::FILE *saved = stdout;
    stdout = std::fopen("/dev/null", "w"); // the chain and status lines
    bscan_select(1);

    const std::clock_t cpu0 = std::clock();
    const auto wall0 = std::chrono::steady_clock::now();
    uint32_t result = 0;
    for (int r = 0; r < runs; ++r) {
        spa2_enter_config();
        for (uint32_t pos = 0; pos < bitstream_bytes; pos += BLOCK_SIZE) {
            const uint32_t size = bitstream_bytes - pos <= BLOCK_SIZE ? bitstream_bytes - pos : BLOCK_SIZE;
            result |= jtag_write(bitstream.data() + pos, size, pos + size >= bitstream_bytes);
        }
    }
    const std::clock_t cpu1 = std::clock();
    const auto wall1 = std::chrono::steady_clock::now();
    std::fclose(stdout);
    stdout = saved;

    const double cpu_us = 1e6 * static_cast<double>(cpu1 - cpu0) / CLOCKS_PER_SEC / runs;
    const double wall_us = std::chrono::duration<double, std::micro>(wall1 - wall0).count() / runs;
    std::printf("XC2S200 configuration, %u bytes, %d runs over a no-op cable%s\n", bitstream_bytes, runs,
                argc > 2 && std::atoi(argv[2]) == 0 ? " (no COR write in the data)" : "");
    std::printf("  CPU time per configuration:  %.2f us\n", cpu_us);
    std::printf("  wall time per configuration: %.2f us\n", wall_us);
    std::printf("  shift calls per configuration: %llu, TCK cycles: %llu\n",
                static_cast<unsigned long long>(shift_calls / runs),
                static_cast<unsigned long long>(shift_bits / runs));
    std::printf("  (every run ends with DONE low on the no-op cable: result %04X)\n", result);
    return 0;
}
