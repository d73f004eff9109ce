// Cable driver for the Xilinx Parallel ISP Cable on a PC parallel port: its wiring, and
// the port-access service that opens and closes it. drivers/CABLES.md has the pin table.
// JTAG and slave serial share the lines.
#include "bitbang.h"
#include "giveio.h"

namespace {

// Data register.
constexpr uint8_t D_TDI = 0x01; // DIN
constexpr uint8_t D_TCK = 0x02; // CCLK
constexpr uint8_t D_TMS = 0x04; // PROGRAM
constexpr uint8_t D_ON = 0x10;  // always 1: a 0 would pull the TDO/DONE line low
constexpr uint8_t D_DETECT = 0x40;

// Status register.
constexpr uint8_t S_POWER = 0x08;
constexpr uint8_t S_TDO = 0x10; // DONE
constexpr uint8_t S_DETECT = 0x20;
constexpr uint8_t S_DETECT_INV = 0x80; // the port reads this pin inverted

// The detect loop follows data bit 6: status bit 5 equal, status bit 7 inverted.
constexpr vokpar::LoopStep detect_loop[] = {
    {D_DETECT | D_ON, {{S_DETECT, true}, {S_DETECT_INV, false}}},
    {D_ON, {{S_DETECT, false}, {S_DETECT_INV, true}}},
};

// The target powers the cable's buffer; power sense is a plain status bit.
constexpr vokpar::LoopStep power_bit[] = {{std::nullopt, {{S_POWER, true}}}};

// Access level from giveio_start, handed to giveio_stop at the close.
int32_t giveio_level = GIVEIO_NONE;

bool start_giveio(int32_t /*base*/) {
    giveio_level = giveio_start();
    return giveio_level != GIVEIO_NONE;
}

int32_t stop_giveio() {
    giveio_level = giveio_stop(giveio_level);
    return giveio_level;
}

} // namespace

const vokpar::Wiring vokpar::cable = {
    .jtag_name = "Xilinx Parallel ISP Cable (JTAG),IO Base=%04X",
    .ss_name = "Xilinx Parallel ISP Cable (CCLK),IO Base=%04X",
    .jtag = {.tck = D_TCK, .tms = D_TMS, .tdi = D_TDI, .steady = D_ON, .tdo = S_TDO,
             .tdo_inverted = false},
    .serial = {.cclk = D_TCK, .din = D_TDI, .prog = D_TMS, .steady = D_ON, .done = S_TDO},
    .detect = detect_loop,
    .control_when_found = std::nullopt, // the control register is never touched
    .power = power_bit,
    .access = {start_giveio, stop_giveio},
};
