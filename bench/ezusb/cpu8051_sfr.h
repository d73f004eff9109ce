// SFR addresses (from the chip's register list) and PSW flags of the 8051 core, for the
// core's own sources.
#pragma once

#include <cstdint>

namespace bench::ezusb::sfr {

enum : uint8_t {
#define AN2131_SFR(name, addr) name = addr,
#include "an2131_registers.def"
};

// PSW flags kept in the core's psw_ (P is computed from A when PSW is read).
constexpr uint8_t CY = 0x80, AC = 0x40, OV = 0x04;

} // namespace bench::ezusb::sfr
