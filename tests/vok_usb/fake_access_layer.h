// A stand-in for the EZ-USB access layer, linked with the driver's source: it
// records every bulk write by pipe and answers the reads the way the firmware
// would (the port C byte for a status query, one pin byte per clock byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fake_ezusb {

struct Write {
    uint32_t pipe;
    std::vector<uint8_t> bytes;
};

struct Board {
    int32_t init_result = 0;
    bool fail_writes_on_command_pipe = false;
    bool fail_reads = false;
    uint8_t port_c = 0x08;              // the pins a status query returns
    uint8_t (*tdo_of)(uint8_t clock) = nullptr; // pin byte for a clock byte on pipe 3
    std::vector<Write> writes;
    int reads_posted = 0;
    int closes = 0;
    int32_t init_index = -1;
    // The pipe drained after the open, and how many writes came before it.
    int64_t drained_pipe = -1;
    size_t writes_before_drain = 0;
};

// Fresh board state for a test.
Board &reset();
Board &board();

} // namespace fake_ezusb
