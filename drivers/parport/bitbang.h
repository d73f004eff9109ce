// One bit-bang core for every parallel-port cable. A cable is a wiring table: which
// data-register bits carry its lines, which status bits return TDO, DONE and its
// loops, and how its driver obtains the port. The core moves every line with one
// write of the data register and reads every input from the status register, with
// no delays: the cable's clock runs as fast as the port takes writes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vokpar {

// A status bit and the level that it has to read.
struct Sense {
    uint8_t mask; // 0: no read
    bool high;
};

// One step of a loop check: a data value written first (none: no write), then one
// status read per sense.
struct LoopStep {
    std::optional<uint8_t> drive;
    Sense senses[2];
};

// A loop holds when every sense of every step reads its level; the check stops at
// the first read that does not.
using Loop = std::span<const LoopStep>;

// JTAG: TCK, TMS and TDI on the data register, TDO on the status register.
struct JtagLines {
    uint8_t tck, tms, tdi;
    uint8_t steady; // set in every JTAG write
    uint8_t tdo;
    bool tdo_inverted;
};

// Slave serial: CCLK, DIN and PROGRAM (1 = released) on the data register, DONE on
// the status register.
struct SerialLines {
    uint8_t cclk, din, prog;
    uint8_t steady; // set in every slave-serial write
    uint8_t done;
};

// How the driver obtains access to the port's registers and gives it back.
struct PortAccess {
    bool (*obtain)(int32_t base); // false: no access
    int32_t (*give_back)();       // what jtag_end and ss_end return
};

struct Wiring {
    const char *jtag_name; // probe names; %04X takes the port base
    const char *ss_name;
    JtagLines jtag;
    SerialLines serial;
    Loop detect; // the cable is there when this loop holds
    std::optional<uint8_t> control_when_found; // written to the control register after the probe
    Loop power;  // the target is powered when this loop holds
    PortAccess access;
};

// The wiring of the cable that a driver library serves; its wiring file defines it.
extern const Wiring cable;

// The I/O address of the data register that the last open chose.
int32_t port_base();

// Chooses the base (0 = 0x378), writes the probe name, obtains the port and probes
// the detect loop; a VOK_INIT_ result.
int32_t open(const Wiring &w, int32_t port, char *name, const char *name_format);
int32_t powered(const Wiring &w);
// nbits TCK cycles; TMS is tms_last on the last cycle and tms on the others.
void shift(const Wiring &w, const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
           int32_t tms_last);
// count bytes, most significant bit first, one CCLK cycle per bit.
void send_serial(const Wiring &w, const uint8_t *data, int32_t count);
// PROGRAM low for two writes, then released.
void pulse_program(const Wiring &w);
int32_t done(const Wiring &w);

} // namespace vokpar
