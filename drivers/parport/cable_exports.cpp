// The cable-driver entry points of a parallel-port cable. Each driver library compiles
// this file next to its wiring file, which defines vokpar::cable.
#include "bitbang.h"
#include "vokcable.h"

using vokpar::cable;

extern "C" {

int32_t VOK_CALL jtag_init(int32_t port, int32_t /*baud*/, char *name) {
    return vokpar::open(cable, port, name, cable.jtag_name);
}

int32_t jtag_power(void) { return vokpar::powered(cable); }

int32_t VOK_CALL jtag_txrx(const uint8_t *tdi, uint8_t *tdo, int32_t nbits, int32_t tms,
                           int32_t tms_last) {
    vokpar::shift(cable, tdi, tdo, nbits, tms, tms_last);
    return 0;
}

int32_t jtag_end(void) { return cable.access.give_back(); }

uint32_t jtag_version(void) { return VOK_VERSION(1, 0); }

int32_t VOK_CALL ss_init(int32_t port, int32_t /*baud*/, char *name) {
    return vokpar::open(cable, port, name, cable.ss_name);
}

int32_t ss_power(void) { return vokpar::powered(cable); }

int32_t VOK_CALL ss_tx(const uint8_t *data, int32_t count) {
    vokpar::send_serial(cable, data, count);
    return 0;
}

// One complete PROGRAM pulse whatever the level.
int32_t VOK_CALL ss_program(int32_t /*level*/) {
    vokpar::pulse_program(cable);
    return 0;
}

int32_t ss_done(void) { return vokpar::done(cable); }

int32_t ss_end(void) { return cable.access.give_back(); }

uint32_t ss_version(void) { return VOK_VERSION(1, 0); }

} // extern "C"
