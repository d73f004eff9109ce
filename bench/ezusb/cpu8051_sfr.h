// SFR addresses and PSW flags of the 8051 core, for the core's own sources.
#pragma once

#include <cstdint>

namespace bench::ezusb::sfr {

enum : uint8_t {
    SP = 0x81, DPL0 = 0x82, DPH0 = 0x83, DPL1 = 0x84, DPH1 = 0x85, DPS = 0x86, PCON = 0x87,
    TCON = 0x88, TMOD = 0x89, TL0 = 0x8A, TL1 = 0x8B, TH0 = 0x8C, TH1 = 0x8D, CKCON = 0x8E,
    SPC_FNC = 0x8F, EXIF = 0x91, MPAGE = 0x92, SCON0 = 0x98, SBUF0 = 0x99, IE = 0xA8,
    IP = 0xB8, SCON1 = 0xC0, SBUF1 = 0xC1, T2CON = 0xC8, RCAP2L = 0xCA, RCAP2H = 0xCB,
    TL2 = 0xCC, TH2 = 0xCD, PSW = 0xD0, EICON = 0xD8, ACC = 0xE0, EIE = 0xE8, B = 0xF0,
    EIP = 0xF8,
};

// PSW flags kept in the core's psw_ (P is computed from A when PSW is read).
constexpr uint8_t CY = 0x80, AC = 0x40, OV = 0x04;

} // namespace bench::ezusb::sfr
