/* Streams eight bytes out through the autopointer with fast-write strobes, then
 * stops on a jump to itself. */
#include "an2131.h"

__xdata __at(0x1800) unsigned char out_bytes[8];

void main(void) {
    unsigned char i, sink = 0;
    for (i = 0; i < 8; i++) out_bytes[i] = 0x11 * (i + 1);
    PORTACFG = PORTACFG_FWR;
    FASTXFR = FASTXFR_FBLK;
    AUTOPTRH = 0x18;
    AUTOPTRL = 0x00;
    for (i = 0; i < 8; i++) sink += AUTODATA;
    OUTC = sink;
    for (;;)
        ;
}
