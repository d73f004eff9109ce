/* A firmware that renumerates with its own descriptors, answers its set-up
 * requests (descriptors through SUDPTR), echoes bulk packets from EP2 OUT to EP2
 * IN, and drops whatever arrives on EP4 OUT. Set-up requests come through the USB
 * interrupt (INT2, autovectored off); the bulk endpoints are polled. */
#include "an2131.h"

__code const unsigned char device_desc[18] = {18, 1, 0x10, 0x01, 0xFF, 0xFF, 0xFF, 64,
                                             0x47, 0x05, 0x31, 0x21, 0x09, 0x00, 1, 2, 0, 1};
__code const unsigned char config_desc[39] = {
    9, 2, 39, 0, 1, 1, 0, 0x80, 50,
    9, 4, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0,
    7, 5, 0x02, 2, 64, 0, 0,
    7, 5, 0x82, 2, 64, 0, 0,
    7, 5, 0x04, 2, 64, 0, 0};
__code const unsigned char lang_desc[4] = {4, 3, 0x09, 0x04};
__code const unsigned char vendor_desc[16] = {16, 3, 'V', 0, 'O', 0, 'K', 0, 'T', 0, 'E', 0, 'S', 0, 'T', 0};
__code const unsigned char product_desc[10] = {10, 3, 'E', 0, 'C', 0, 'H', 0, 'O', 0};

static void send(const unsigned char __code *d) {
    EP0CS = EP0CS_HSNAK; /* the handshake first, then the pointer starts the send */
    SUDPTRH = (unsigned int)d >> 8;
    SUDPTRL = (unsigned int)d & 0xFF;
}

static void setup_request(void) {
    unsigned char type = SETUPDAT[0], request = SETUPDAT[1];
    if (type == 0x80 && request == 6) {
        unsigned char kind = SETUPDAT[3], index = SETUPDAT[2];
        if (kind == 1) return send(device_desc);
        if (kind == 2) return send(config_desc);
        if (kind == 3 && index == 0) return send(lang_desc);
        if (kind == 3 && index == 1) return send(vendor_desc);
        if (kind == 3 && index == 2) return send(product_desc);
    } else if (type == 0x80 && request == 0) {
        IN0BUF[0] = 0;
        IN0BUF[1] = 0;
        IN0BC = 2;
        EP0CS = EP0CS_HSNAK;
        return;
    } else if ((type == 0x00 && request == 9) || (type == 0x01 && request == 11)) {
        EP0CS = EP0CS_HSNAK;
        return;
    }
    EP0CS = EP0CS_STALL | EP0CS_HSNAK;
}

void usb_isr(void) __interrupt(8) {
    EXIF &= ~EXIF_USBINT;
    if (USBIRQ & USBIRQ_SUDAV) {
        USBIRQ = USBIRQ_SUDAV; /* write 1 to clear only this request */
        setup_request();
    }
    if (USBIRQ & USBIRQ_URES) {
        USBIRQ = USBIRQ_URES;
        OUT2BC = 0; /* a bus reset unarms the OUT endpoints */
        OUT4BC = 0;
    }
}

void main(void) {
    unsigned int i;
    CKCON &= ~CKCON_STRETCH_MASK;
    IN07VAL = 0x05;
    OUT07VAL = 0x15;
    USBCS = USBCS_DISCON | USBCS_RENUM;
    for (i = 0; i < 20000; i++)
        ;
    USBIRQ = 0xFF;
    IN07IRQ = 0xFF;
    OUT07IRQ = 0xFF;
    OUT2BC = 0;
    OUT4BC = 0;
    USBIEN = USBIRQ_SUDAV | USBIRQ_URES;
    EUSB = 1;
    EA = 1;
    USBCS = USBCS_DISCOE | USBCS_RENUM;
    for (;;) {
        if (!(OUT4CS & EPCS_BUSY)) OUT4BC = 0;
        if ((OUT07IRQ & 0x04) && !(IN2CS & EPCS_BUSY)) {
            unsigned char n = OUT2BC, k;
            OUT07IRQ = 0x04;
            for (k = 0; k < n; k++) IN2BUF[k] = OUT2BUF[k];
            IN2BC = n;
            OUT2BC = 0;
        }
    }
}
