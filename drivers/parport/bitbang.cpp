#include "bitbang.h"

#include <cstdio>
#include <cstring>

#include "cable_common.h"
#include "port.h"
#include "vokcable.h"

namespace vokpar {

namespace {

constexpr int NAME_SIZE = 128;
constexpr int32_t DEFAULT_BASE = 0x378;

int32_t base = 0;

void data_out(uint8_t value) { vokhw::port_write(static_cast<uint16_t>(base), value); }
void control_out(uint8_t value) { vokhw::port_write(static_cast<uint16_t>(base + 2), value); }
uint8_t status_in() { return vokhw::port_read(static_cast<uint16_t>(base + 1)); }

bool reads(const Sense &sense) { return ((status_in() & sense.mask) != 0) == sense.high; }

bool holds(Loop loop) {
    for (const LoopStep &step : loop) {
        if (step.drive)
            data_out(*step.drive);
        for (const Sense &sense : step.senses) {
            if (sense.mask != 0 && !reads(sense))
                return false;
        }
    }
    return true;
}

uint8_t jtag_value(const JtagLines &lines, bool tck, bool tms, bool tdi) {
    return static_cast<uint8_t>(lines.steady | (tck ? lines.tck : 0) | (tms ? lines.tms : 0) |
                                (tdi ? lines.tdi : 0));
}

} // namespace

int32_t port_base() { return base; }

int32_t open(const Wiring &w, int32_t port, char *name, const char *name_format) {
    base = port != 0 ? port : DEFAULT_BASE;
    if (name != nullptr)
        std::snprintf(name, NAME_SIZE, name_format, static_cast<unsigned>(base));
    if (!w.access.obtain(base)) {
        vokcable::say("Can't access GIVEIO system\n");
        return VOK_INIT_NO_PROBE;
    }
    if (!holds(w.detect)) {
        vokcable::say("No Probe\n");
        return VOK_INIT_NO_PROBE;
    }
    if (w.control_when_found)
        control_out(*w.control_when_found);
    return VOK_INIT_READY;
}

int32_t powered(const Wiring &w) { return holds(w.power) ? 1 : 0; }

void shift(const Wiring &w, const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
           int32_t tms_last) {
    if (nbits <= 0)
        return;
    if (tdo != nullptr)
        std::memset(tdo, 0, (static_cast<size_t>(nbits) + 7) / 8);
    for (int32_t i = 0; i < nbits; ++i) {
        bool d = vokcable::tdi_bit(tdi, i);
        bool m = (i == nbits - 1) ? tms_last != 0 : tms != 0;
        data_out(jtag_value(w.jtag, false, m, d));
        data_out(jtag_value(w.jtag, true, m, d));
        // TDO is sampled while TCK is high, after the rising edge.
        if (tdo != nullptr)
            vokcable::put_tdo_bit(tdo, i, ((status_in() & w.jtag.tdo) != 0) != w.jtag.tdo_inverted);
    }
}

void send_serial(const Wiring &w, const uint8_t *data, int32_t count) {
    if (data == nullptr)
        return;
    const SerialLines &s = w.serial;
    for (int32_t n = 0; n < count; ++n) {
        for (int bit = 7; bit >= 0; --bit) {
            auto low = static_cast<uint8_t>(s.steady | s.prog | (((data[n] >> bit) & 1) ? s.din : 0));
            data_out(low);
            data_out(low | s.cclk); // the FPGA takes DIN on this rising edge
        }
    }
}

void pulse_program(const Wiring &w) {
    const SerialLines &s = w.serial;
    data_out(s.steady);
    data_out(s.steady);
    data_out(s.steady | s.prog);
}

int32_t done(const Wiring &w) { return (status_in() & w.serial.done) ? 1 : 0; }

} // namespace vokpar
