/* Renumeration and the millisecond delay. */
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

void usb_renumerate(void)
{
    /* DISCOE clear floats the pull-up pin: the host sees a detach. */
    USBCS = USBCS_DISCON | USBCS_RENUM;
    delay_ms(RENUM_DISCONNECT_MS);
    /* Requests that arrived before the detach belong to the old device. */
    USBIRQ = 0xFF;
    IN07IRQ = 0xFF;
    OUT07IRQ = 0xFF;
    EXIF &= ~EXIF_USBINT;
    USBCS = USBCS_DISCOE | USBCS_RENUM;
}
