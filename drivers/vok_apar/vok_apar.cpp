// Cable driver for the Altera BitBlaster/ByteBlaster-style cable on a PC parallel port.
//
// Data register: bit 0 TCK, bit 1 TMS, bit 5 drives the detect loop, bit 6 TDI,
// bit 7 drives the power-sense loop. Status register: bit 5 returns the power-sense
// loop, bit 6 returns the detect loop, bit 7 TDO inverted. Control register bit 1
// enables the cable's buffer. Pin 15 (status bit 3) is grounded on a ByteBlasterMV,
// so it says nothing about power. The wiring tables are in drivers/CABLES.md.
//
// Slave serial uses the port values of the Xilinx cable (bit 0 DIN, bit 1 CCLK,
// bit 2 PROG, status bit 4 DONE); on this cable DIN travels on the TCK line and CCLK
// on the TMS line.
#include <cstdio>
#include <cstring>

#include "port.h"
#include "vokcable.h"

namespace {

int32_t port_base = 0;
// True while this library holds the port that its open obtained.
bool access_held = false;

constexpr int NAME_SIZE = 128;
constexpr int32_t DEFAULT_BASE = 0x378;

constexpr uint8_t D_TCK = 0x01;
constexpr uint8_t D_TMS = 0x02;
constexpr uint8_t D_DETECT = 0x20;
constexpr uint8_t D_TDI = 0x40;
constexpr uint8_t D_SENSE = 0x80;

constexpr uint8_t S_DONE = 0x10;
constexpr uint8_t S_SENSE = 0x20;
constexpr uint8_t S_DETECT = 0x40;
constexpr uint8_t S_TDO_INV = 0x80;

constexpr uint8_t C_ENABLE = 0x02;

// Slave-serial values, shared with the Xilinx cable.
constexpr uint8_t SS_DIN = 0x01;
constexpr uint8_t SS_CCLK = 0x02;
constexpr uint8_t SS_PROG = 0x04;
constexpr uint8_t SS_ON = 0x10;

void outp(int32_t addr, uint8_t value) { vokhw::port_write(static_cast<uint16_t>(addr), value); }
int inp(int32_t addr) { return vokhw::port_read(static_cast<uint16_t>(addr)); }

void data_out(uint8_t value) { outp(port_base, value); }
int status_in() { return inp(port_base + 1); }

void say(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

int32_t open_cable(int32_t port, char *name, const char *format) {
    port_base = port != 0 ? port : DEFAULT_BASE;
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE, format, static_cast<unsigned>(port_base));
    if (vokhw::port_acquire(port_base) == vokhw::PortKind::none) {
        access_held = false;
        say("Can't access GIVEIO system\n");
        return VOK_INIT_NO_PROBE;
    }
    access_held = true;
    // The detect loop: status bit 6 follows data bit 5.
    data_out(0x00);
    bool ok = !(status_in() & S_DETECT);
    if (ok) {
        data_out(D_DETECT);
        ok = (status_in() & S_DETECT) != 0;
    }
    if (!ok) {
        say("No Probe\n");
        return VOK_INIT_NO_PROBE;
    }
    outp(port_base + 2, C_ENABLE);
    return VOK_INIT_READY;
}

// Gives back the port that the open obtained; the registers keep their last values.
int32_t close_cable() {
    if (access_held && vokhw::port_release())
        access_held = false;
    return 0;
}

} // namespace

extern "C" {

int32_t VOK_CALL jtag_init(int32_t port, int32_t /*baud*/, char *name) {
    return open_cable(port, name, "Altera BitBlaster ISP Cable (JTAG),IO Base=%04X");
}

// Powered when status bit 5 follows data bit 7 from 0 to 1: only a cable with target
// power closes that loop. Pin 15 is not read, as a ByteBlasterMV grounds it.
int32_t jtag_power(void) {
    data_out(0x00);
    if (status_in() & S_SENSE)
        return 0;
    data_out(D_SENSE);
    return (status_in() & S_SENSE) ? 1 : 0;
}

int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                           int32_t tms_last) {
    if (nbits <= 0)
        return 0;
    if (tdo != nullptr)
        std::memset(tdo, 0, (static_cast<size_t>(nbits) + 7) / 8);
    for (int32_t i = 0; i < nbits; ++i) {
        bool d = tdi != nullptr && ((tdi[i / 8] >> (7 - i % 8)) & 1);
        bool m = (i == nbits - 1) ? tms_last != 0 : tms != 0;
        auto low = static_cast<uint8_t>((m ? D_TMS : 0) | (d ? D_TDI : 0));
        data_out(low);
        data_out(low | D_TCK);
        // TDO comes back inverted on status bit 7, sampled while TCK is high.
        if (tdo != nullptr && !(status_in() & S_TDO_INV))
            tdo[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return 0;
}

int32_t jtag_end(void) { return close_cable(); }

uint32_t jtag_version(void) { return VOK_VERSION(1, 0); }

int32_t VOK_CALL ss_init(int32_t port, int32_t /*baud*/, char *name) {
    return open_cable(port, name, "Altera BitBlaster ISP Cable (CCLK),IO Base=%04X");
}

int32_t ss_power(void) { return jtag_power(); }

int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count) {
    if (data == nullptr)
        return 0;
    for (int32_t n = 0; n < count; ++n) {
        for (int bit = 7; bit >= 0; --bit) {
            uint8_t d = (data[n] >> bit) & 1;
            data_out(SS_ON | SS_PROG | d);
            data_out(SS_ON | SS_PROG | SS_CCLK | d);
        }
    }
    return 0;
}

// One PROG pulse whatever the level, as on the Xilinx cable.
int32_t VOK_CALL ss_program(int32_t /*level*/) {
    data_out(SS_ON);
    data_out(SS_ON);
    data_out(SS_ON | SS_PROG);
    return 0;
}

int32_t ss_done(void) { return (status_in() & S_DONE) ? 1 : 0; }

int32_t ss_end(void) { return close_cable(); }

uint32_t ss_version(void) { return VOK_VERSION(1, 0); }

} // extern "C"
