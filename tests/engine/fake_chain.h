// A small JTAG chain for the engine's tests: one shared TAP state machine, devices
// with instruction and data registers at bit level, and a record of every call of
// the shift entry point. It stands in for a cable plus its target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chain.h"
#include "driver_binding.h"
#include "settings.h"
#include "vokisp_jtag.h"

namespace fake {

enum class Tap {
    Reset, Idle, SelectDr, CaptureDr, ShiftDr, Exit1Dr, PauseDr, Exit2Dr, UpdateDr,
    SelectIr, CaptureIr, ShiftIr, Exit1Ir, PauseIr, Exit2Ir, UpdateIr
};

struct Device {
    uint32_t idcode = 0;
    int ir_len = 5;
    uint32_t ir_capture = 0x01;
    uint32_t bypass = 0x1F;
    uint32_t idcode_inst = 0x09;
    bool spartan = false;     // answers CFG_OUT with `status` and has USER1/USER2
    uint32_t status = 0;      // read out through CFG_OUT, most significant bit first
    uint32_t user[2] = {0, 0}; // USER1 and USER2 registers (32 bits)

    // Live register state.
    uint32_t ir = 0;
    uint64_t dr = 0;
    int dr_len = 1;
    uint32_t instructions_loaded = 0;
};

Device spartan2(uint32_t idcode);
Device prom(uint32_t idcode);
Device generic(uint32_t idcode, int ir_len);

// One call of the shift entry point.
struct Call {
    bool has_tdi = false;
    std::vector<int> tdi; // bits in the order sent (empty when the buffer was null)
    bool has_tdo = false;
    int nbits = 0;
    int tms = 0;
    int tms_last = 0;
};

enum class Order { LsbFirst, MsbFirst }; // "jtag_txrx" or "jtag_xfer" delivery of TDO
enum class Stuck { None, High, Low };

class Chain {
public:
    // Devices from the TDO end; installs itself as the shift entry point.
    explicit Chain(std::vector<Device> devices, Order order = Order::LsbFirst);
    ~Chain();

    std::vector<Device> devices;
    Order order;
    Stuck stuck = Stuck::None;
    bool deliver_tdo = true; // false: a cable that never writes the TDO buffer
    Tap state = Tap::Reset;
    std::vector<Call> calls;
    std::vector<int> tms_trace; // TMS of every cycle

    // One TCK cycle: returns TDO as sampled before the rising edge.
    int clock(int tms, int tdi);
    // The shift entry point's behaviour.
    void shift(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms, int32_t tms_last);

    // Calls recorded since `from` whose bit count is at least `bits`.
    size_t count_calls(size_t from, int bits) const;
    std::string tms_string(size_t from_cycle = 0) const;
};

// Puts the engine's shared state back to its program defaults.
void reset_engine_state();

} // namespace fake
