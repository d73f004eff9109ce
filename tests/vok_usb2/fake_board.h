// A stand-in for the EZ-USB access layer that logs the driver's traffic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake_board {

using Bytes = std::vector<uint8_t>;

// 'R': a read posted on pipe (bytes holds as many zeros as it asks for);
// 'W': a write of bytes on pipe.
struct Event {
    char kind;
    uint32_t pipe;
    Bytes bytes;
    bool operator==(const Event &) const = default;
};

struct Board {
    int32_t init_result = 0;
    uint32_t failing_write_pipe = 99;
    bool fail_reads = false;
    bool powered = true;
    std::vector<Event> log;
    int closes = 0;
    int32_t init_index = -1;
    std::string strings;
};

Board &reset();
Board &board();

} // namespace fake_board
