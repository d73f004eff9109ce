// A stand-in for the USB seam (drivers/hw/usb.h) with one scripted EZ-USB board,
// and a second one behind it when a test asks. The board records every transfer,
// answers string and configuration descriptors, takes a firmware download and
// renumerates, and puts on its IN endpoint what the test queues or what its
// firmware part (a responder, one per board in the tests) answers to a write.
//
// The code under test reaches the board through the seam's entry points, which
// fake_usb_seam.cpp defines in place of the real ones, or through an opener
// hook that calls fakeusb::open.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "usb.h"

namespace fakeusb {

using Bytes = std::vector<uint8_t>;

struct Transfer {
    enum Kind { CONTROL, BULK, CLEAR_HALT } kind;
    uint8_t request_type = 0, request = 0;
    uint16_t value = 0, index = 0;
    uint8_t endpoint = 0;
    Bytes data; // the bytes sent (OUT), or as many zeros as were asked for (IN)
    bool operator==(const Transfer &) const = default;
};

// What the board's firmware answers on its IN endpoint to bytes written to an
// OUT endpoint (nothing: no answer).
using Responder = std::function<Bytes(uint8_t endpoint, const Bytes &written)>;

// The interface of our general-purpose firmware: EP1-7 OUT, then EP1-7 IN.
Bytes all_endpoints();

struct Board {
    // Who it is.
    int number = 0;
    // String descriptors 1, 2, ...; none: a bare chip, whose string requests stall.
    std::vector<std::string> strings;
    // The strings once the 8051 runs the image downloaded to it; none: unchanged.
    std::vector<std::string> firmware_strings;
    Bytes endpoints = all_endpoints(); // of interface 0, in descriptor order
    std::string place = "1-1";         // empty: the handle cannot tell
    Responder responder;

    // Where it is. A board that is not present comes back after away_opens
    // failed opens; once its 8051 is started it leaves for away_after_run opens.
    bool present = true;
    int away_opens = 0;
    int away_after_run = 0;
    // A second board behind this one: board number + 1, or board number while
    // this one is away. It refuses every control request.
    bool neighbour = false;

    // Faults.
    int refuse_cpucs = -1;                    // a CPUCS write of this byte fails
    int cpucs_error = vokhw::USB_ERROR_PIPE;  // with this result
    bool run_leaves_bus = false;              // the run request fails too: the firmware left at once
    bool refuse_download = false;
    bool zero_count_writes = false;           // bulk OUT moves nothing
    bool fail_reads = false;                  // bulk IN fails
    uint8_t failing_endpoint = 0;             // bulk OUT to this endpoint fails

    // What happened.
    std::vector<Transfer> log;
    std::vector<unsigned> waits;
    bool downloaded = false;
    int opens = 0, closes = 0, cancels = 0; // handles given out and destroyed
    int neighbour_requests = 0;

    // Puts bytes on the IN endpoint, as if the firmware had answered.
    void answer(const Bytes &bytes);
    // The transfers of one kind, on one endpoint (0: any).
    std::vector<Transfer> of_kind(Transfer::Kind kind, uint8_t endpoint = 0);
    // The data of each bulk OUT to the endpoint.
    std::vector<Bytes> sent(uint8_t endpoint);
    unsigned waited_ms();

    // Shared with the handles, which may run on several threads.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<uint8_t> in_data;
    long outs_done = 0;
    long cancel_count = 0;
};

// A fresh board for a test, and the board now.
Board &reset();
Board &board();

// The seam's operations on the board.
std::unique_ptr<vokhw::UsbHandle> open(int number, std::string *reason = nullptr);
std::unique_ptr<vokhw::UsbHandle> open_place(const std::string &place, std::string *reason = nullptr);
std::vector<vokhw::UsbBoardInfo> list_boards();
void wait_ms(unsigned ms);

// A string descriptor of the text (one UTF-16 code unit per character).
Bytes string_descriptor(const std::string &text);

} // namespace fakeusb
