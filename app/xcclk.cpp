// Slave-serial strategy: pulse PROGRAM, clock the data out on DIN, check DONE.
#include "xcclk.h"

#include <algorithm>

#include "console.h"
#include "packet_end.h"
#include "platform.h"
#include "startup_clock.h"
#include "driver_binding.h"

uint32_t xcclk_start(uint32_t)
{
    startup_clock_reset();
    packet_end_reset();
    driver.xcclk_program(0);
    platform_sleep_ms(50);
    driver.xcclk_program(1);
    platform_sleep_ms(50);
    // A cleared FPGA holds DONE low. High here means that PROGRAM never reached
    // it, and data sent now would not configure it.
    if (driver.xcclk_done() != 0) {
        say("DONE is still high after the PROGRAM pulse: the FPGA was not cleared. Check that the cable "
            "drives PROGRAM, or switch the target supply off and on to clear it\n");
        return ERR_TARGET;
    }
    return 0;
}

uint32_t xcclk_write(const uint8_t *data, uint32_t count, int32_t last)
{
    startup_clock_scan(data, count);
    packet_end_scan(data, count);
    driver.xcclk_tx(data, static_cast<int32_t>(count));
    if (!last)
        return 0;
    // DONE is read once, straight after the last data.
    if (driver.xcclk_done() != 0)
        return 0;
    // A line of its own: the progress line before it ends in a carriage return.
    if (startup_clock_seen() == startup_clock::jtag)
        say("\nThe bitstream's start-up clock is the JTAG clock, which slave serial does not run: "
            "generate it with CCLK as the start-up clock\n");
    else
        // PROGRAM is what clears an FPGA left inside a load that a killed run
        // cut short; without it only a power cycle does.
        say("\nDONE is low after the data. A cable that cannot pulse PROGRAM leaves an FPGA inside an "
            "interrupted load: then switch the target supply off and on, and load again\n");
    return 1;
}

void xcclk_break()
{
    // Matters where the cable cannot pulse PROGRAM before the next load.
    static const uint8_t zeros[BLOCK_SIZE] = {};
    for (uint32_t left = packet_end_pad_bytes(); left > 0;) {
        const uint32_t n = std::min<uint32_t>(left, BLOCK_SIZE);
        driver.xcclk_tx(zeros, static_cast<int32_t>(n));
        left -= n;
    }
}
