// A stand-in for the USB seam with one scripted EZ-USB board, for the access
// layer's tests: it records control and bulk requests, renumerates after a
// download, and answers bulk IN from a queue that the test or an EP4 write fills.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace fake_seam {

struct Control {
    uint8_t request_type, request;
    uint16_t value, index;
    std::vector<uint8_t> data;
};

struct Board {
    bool present = true; // absent: away for away_opens opens, then back
    // Strings 1 and 2; a bare board (empty first string) stalls string requests.
    std::string string1, string2;
    // After the 8051 is started: opens that fail while the board is away.
    int away_opens = 2;
    // Requests refused: 0xA0 to CPUCS with this data byte (-1: none), the RAM download.
    int refuse_cpucs = -1;
    // The run request fails with cpucs_error because the firmware has already left the bus.
    bool run_leaves_bus = false;
    bool refuse_download = false;
    bool zero_count_writes = false;
    bool fail_reads = false;
    // A write to EP4 puts the written bytes back on EP2 IN.
    bool echo_ep4 = true;
    // Error of a refused or interrupted CPUCS request.
    int cpucs_error = -9; // USB_ERROR_PIPE
    // A second board, behind this one: while this one is away, it is board 0.
    bool neighbour = false;
    int neighbour_requests = 0;

    std::vector<Control> controls;
    std::vector<std::pair<uint8_t, int>> bulk_requests; // endpoint, length asked
    std::vector<unsigned> waits;
    int opens = 0, closes = 0, cancels = 0; // handles given out and destroyed

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<uint8_t> in_data;
    bool cancelled = false;
};

Board &reset();
Board &board();
// Puts bytes on EP2 IN.
void answer(const std::vector<uint8_t> &bytes);

} // namespace fake_seam
