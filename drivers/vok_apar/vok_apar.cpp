// Cable driver for the Altera BitBlaster/ByteBlaster-style cable on a PC parallel port:
// its wiring, and plain port access without the service of vok_xpar. The wiring tables
// are in drivers/CABLES.md.
#include "bitbang.h"
#include "port.h"

namespace {

// Data register: JTAG lines, and the drives of the detect and power-sense loops.
constexpr uint8_t D_TCK = 0x01;
constexpr uint8_t D_TMS = 0x02;
constexpr uint8_t D_DETECT = 0x20;
constexpr uint8_t D_TDI = 0x40;
constexpr uint8_t D_SENSE = 0x80;

// Status register. Pin 15 (bit 3) is grounded on a ByteBlasterMV, so it says nothing
// about power and is not read.
constexpr uint8_t S_NSTATUS = 0x10;
constexpr uint8_t S_SENSE = 0x20;
constexpr uint8_t S_DETECT = 0x40;
constexpr uint8_t S_TDO_INV = 0x80;

// Control register bit 1 enables the cable's buffer.
constexpr uint8_t C_ENABLE = 0x02;

// Slave serial writes the Xilinx cable's values through an adapter: DIN travels on
// the TCK line, CCLK on the TMS line, DONE comes back on nSTATUS; bit 2 (PROGRAM) and
// bit 4 reach no line of this cable.
constexpr uint8_t SS_DIN = D_TCK;
constexpr uint8_t SS_CCLK = D_TMS;
constexpr uint8_t SS_PROG = 0x04;
constexpr uint8_t SS_ON = 0x10;

// The detect loop: status bit 6 follows data bit 5, powered or not.
constexpr vokpar::LoopStep detect_loop[] = {
    {0x00, {{S_DETECT, false}}},
    {D_DETECT, {{S_DETECT, true}}},
};

// Status bit 5 follows data bit 7 from 0 to 1 only when the target powers the cable.
constexpr vokpar::LoopStep power_loop[] = {
    {0x00, {{S_SENSE, false}}},
    {D_SENSE, {{S_SENSE, true}}},
};

// True while this library holds the port that its open obtained.
bool access_held = false;

bool acquire(int32_t base) {
    access_held = vokhw::port_acquire(base) != vokhw::PortKind::none;
    return access_held;
}

// The registers keep their last values; the close itself reports nothing.
int32_t release() {
    if (access_held && vokhw::port_release())
        access_held = false;
    return 0;
}

} // namespace

const vokpar::Wiring vokpar::cable = {
    .jtag_name = "Altera BitBlaster ISP Cable (JTAG),IO Base=%04X",
    .ss_name = "Altera BitBlaster ISP Cable (CCLK),IO Base=%04X",
    .jtag = {.tck = D_TCK, .tms = D_TMS, .tdi = D_TDI, .steady = 0, .tdo = S_TDO_INV,
             .tdo_inverted = true},
    .serial = {.cclk = SS_CCLK, .din = SS_DIN, .prog = SS_PROG, .steady = SS_ON,
               .done = S_NSTATUS},
    .detect = detect_loop,
    .control_when_found = C_ENABLE,
    .power = power_loop,
    .access = {acquire, release},
};
