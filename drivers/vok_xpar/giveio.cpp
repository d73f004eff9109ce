// Port-access service carried onto Linux: the access that the Windows driver got from
// the giveio kernel driver comes here from the port seam.
#include "giveio.h"

#include "bitbang.h"
#include "port.h"

extern "C" {

// Names of the Windows device, driver image and service; kept as exported data.
const char giveio_dname[] = "\\\\.\\giveio";
const char giveio_fname[] = "giveio.sys";
const char giveio_sname[] = "giveio";

}

namespace {

// A bench is a port service already running; ppdev claims a device; ioperm is a grant.
int32_t level_of(vokhw::PortKind kind) {
    switch (kind) {
    case vokhw::PortKind::bench:
        return GIVEIO_OPENED;
    case vokhw::PortKind::ppdev:
        return GIVEIO_CLAIMED;
    case vokhw::PortKind::ioperm:
        return GIVEIO_GRANTED;
    case vokhw::PortKind::none:
        break;
    }
    return GIVEIO_NONE;
}

} // namespace

int32_t giveio_start(void) { return level_of(vokhw::port_acquire(vokpar::port_base())); }

int32_t VOK_CALL giveio_stop(int32_t level) {
    // Only what the level says was obtained is given back; a level that names no
    // access held now has nothing left to undo.
    if (level == GIVEIO_NONE || level_of(vokhw::port_kind()) != level)
        return 0;
    return vokhw::port_release() ? 0 : level;
}
