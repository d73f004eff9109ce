// Cable driver for the Xilinx Parallel ISP Cable on a PC parallel port.
//
// Data register: bit 0 TDI/DIN, bit 1 TCK/CCLK, bit 2 TMS/PROG, bit 4 always 1,
// bit 6 drives the cable's detect loop. Status register: bit 3 target power,
// bit 4 TDO/DONE, bits 5 and 7 return the detect loop.
#include <cstdio>
#include <cstring>

#include "giveio.h"
#include "port.h"
#include "vokcable.h"
#include "xpar.h"

namespace xpar {
int32_t port_base = 0;
}

namespace {

using xpar::port_base;

// Access level from giveio_start, handed to giveio_stop at the close.
int32_t giveio_level = 0;

constexpr int NAME_SIZE = 128;
constexpr int32_t DEFAULT_BASE = 0x378;

constexpr uint8_t D_TDI = 0x01;
constexpr uint8_t D_TCK = 0x02;
constexpr uint8_t D_TMS = 0x04;
constexpr uint8_t D_ON = 0x10;
constexpr uint8_t D_DETECT = 0x40;

constexpr uint8_t S_POWER = 0x08;
constexpr uint8_t S_TDO = 0x10;
constexpr uint8_t S_DETECT = 0x20;
constexpr uint8_t S_DETECT_INV = 0x80;

void outp(int32_t addr, uint8_t value) { vokhw::port_write(static_cast<uint16_t>(addr), value); }
int inp(int32_t addr) { return vokhw::port_read(static_cast<uint16_t>(addr)); }

void data_out(uint8_t value) { outp(port_base, value); }
int status_in() { return inp(port_base + 1); }

void put_name(char *name, const char *format, int32_t base) {
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE, format, static_cast<unsigned>(base));
}

void say(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// The detect loop follows data bit 6: status bit 5 equal, status bit 7 inverted.
bool probe() {
    data_out(D_DETECT | D_ON);
    if (!(status_in() & S_DETECT))
        return false;
    if (status_in() & S_DETECT_INV)
        return false;
    data_out(D_ON);
    if (status_in() & S_DETECT)
        return false;
    if (!(status_in() & S_DETECT_INV))
        return false;
    return true;
}

} // namespace

extern "C" {

int32_t VOK_CALL jtag_init(int32_t port, int32_t /*baud*/, char *name) {
    port_base = port != 0 ? port : DEFAULT_BASE;
    put_name(name, "Xilinx Parallel ISP Cable (JTAG),IO Base=%04X", port_base);
    giveio_level = giveio_start();
    if (giveio_level == 0) {
        say("Can't access GIVEIO system\n");
        return VOK_INIT_NO_PROBE;
    }
    if (!probe()) {
        say("No Probe\n");
        return VOK_INIT_NO_PROBE;
    }
    return VOK_INIT_READY;
}

int32_t jtag_power(void) { return (status_in() & S_POWER) ? 1 : 0; }

int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                           int32_t tms_last) {
    if (nbits <= 0)
        return 0;
    if (tdo != nullptr)
        std::memset(tdo, 0, (static_cast<size_t>(nbits) + 7) / 8);
    for (int32_t i = 0; i < nbits; ++i) {
        uint8_t d = tdi != nullptr ? (tdi[i / 8] >> (7 - i % 8)) & 1 : 0;
        bool m = (i == nbits - 1) ? tms_last != 0 : tms != 0;
        auto low = static_cast<uint8_t>(D_ON | (m ? D_TMS : 0) | d);
        data_out(low);
        data_out(low | D_TCK);
        // TDO is sampled while TCK is high, after the rising edge.
        if (tdo != nullptr && (status_in() & S_TDO))
            tdo[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return 0;
}

int32_t jtag_end(void) {
    giveio_level = giveio_stop(giveio_level);
    return giveio_level;
}

uint32_t jtag_version(void) { return VOK_VERSION(1, 0); }

int32_t VOK_CALL ss_init(int32_t port, int32_t baud, char *name) {
    put_name(name, "Xilinx Parallel ISP Cable (CCLK),IO Base=%04X",
             port != 0 ? port : DEFAULT_BASE);
    return jtag_init(port, baud, nullptr);
}

int32_t ss_power(void) { return jtag_power(); }

// Each bit, most significant first: CCLK low with PROG released and DIN set, then
// CCLK high; the FPGA takes DIN on the rising edge.
int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count) {
    if (data == nullptr)
        return 0;
    for (int32_t n = 0; n < count; ++n) {
        for (int bit = 7; bit >= 0; --bit) {
            uint8_t d = (data[n] >> bit) & 1;
            data_out(D_ON | D_TMS | d);
            data_out(D_ON | D_TMS | D_TCK | d);
        }
    }
    return 0;
}

// One complete PROG pulse whatever the level: low for two writes, then released.
int32_t VOK_CALL ss_program(int32_t /*level*/) {
    data_out(D_ON);
    data_out(D_ON);
    data_out(D_ON | D_TMS);
    return 0;
}

int32_t ss_done(void) { return (status_in() & S_TDO) ? 1 : 0; }

int32_t ss_end(void) { return jtag_end(); }

uint32_t ss_version(void) { return VOK_VERSION(1, 0); }

} // extern "C"
