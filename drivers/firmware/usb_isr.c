/* The USB interrupt: one vector for every USB source (autovectoring off). */
#include "usbdev.h"

void usb_isr(void) __interrupt(8)
{
    /* INT2 is edge-triggered: clear its flag before the sources, so that a
     * request arriving meanwhile raises a new edge. */
    EXIF &= ~EXIF_USBINT;
    if (USBIRQ & USBIRQ_SUDAV) {
        USBIRQ = USBIRQ_SUDAV;
        usb_setup();
    }
    if (USBIRQ & USBIRQ_URES) {
        USBIRQ = USBIRQ_URES;
        usb_configuration = 0;
        fw_bus_reset();
    }
}
