/* Start-up of the USB side, with the renumeration, and the millisecond delay. */
#include "usbdev.h"

void delay_ms(unsigned int ms) __naked
{
    (void)ms;
    /* ms arrives in DPL (low) and DPH (high). One millisecond is 6000 machine
     * cycles: 8 rounds of 250 DJNZ (3 cycles each); the loop around them adds
     * under 1 percent. */
    __asm
        mov r6, dpl
        mov r7, dph
    00001$:
        mov a, r6
        orl a, r7
        jz 00004$
        mov r5, #8
    00002$:
        mov r4, #250
    00003$:
        djnz r4, 00003$
        djnz r5, 00002$
        mov a, r6
        dec r6
        jnz 00001$
        dec r7
        sjmp 00001$
    00004$:
        ret
    __endasm;
}

void usb_start(unsigned char pairs, unsigned char valid)
{
    USBPAIR = pairs;
    IN07VAL = valid;
    OUT07VAL = valid;
    USBBAV = 0;
    IN07IEN = 0; /* the endpoints are polled */
    OUT07IEN = 0;
    USBIEN = USBIRQ_SUDAV | USBIRQ_URES;
    fw_bus_reset();

    /* Renumeration. DISCOE clear floats the pull-up pin: the host sees a
     * detach, long enough for hubs to notice. */
    USBCS = USBCS_DISCON | USBCS_RENUM;
    delay_ms(RENUM_DISCONNECT_MS);
    /* Requests that arrived before the detach belong to the old device. */
    USBIRQ = 0xFF;
    IN07IRQ = 0xFF;
    OUT07IRQ = 0xFF;
    EXIF &= ~EXIF_USBINT;
    /* Back with RENUM set: the host enumerates the board again, now with our
     * descriptors, and the firmware answers its requests. */
    USBCS = USBCS_DISCOE | USBCS_RENUM;
    EUSB = 1;
    EA = 1;
}
