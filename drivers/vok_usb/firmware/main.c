/* Firmware of the AN2135SC JTAG / slave-serial board.
 *
 * EP1 OUT carries commands (port C, external memory, bus timing); EP2 OUT
 * carries clock bytes that go out on the data bus, one FWR strobe each;
 * EP4 OUT does the same and answers the port C pins read after every strobe on
 * EP2 IN. The endpoints are polled by the loop in strobe.asm; the USB
 * interrupt only answers endpoint-0 requests. */
#include "../vok_usb_protocol.h"
#include "usbdev.h"

/* strobe.asm */
void fw_poll_loop(void);

static __data unsigned char answer[EP_BUF_SIZE];

static void wait_in2_free(void)
{
    while (IN2CS & EPCS_BUSY)
        ;
}

/* Sends count zero bytes on EP2 IN, 64 to a packet, the rest last. */
static void send_zeros(unsigned long count)
{
    unsigned char i;
    wait_in2_free();
    for (i = 0; i < EP_BUF_SIZE; i++)
        IN2BUF[i] = 0;
    while (count >= EP_BUF_SIZE) {
        IN2BC = EP_BUF_SIZE;
        count -= EP_BUF_SIZE;
        wait_in2_free();
    }
    if (count)
        IN2BC = (unsigned char)count;
}

/* Runs the commands of the packet in OUT1BUF, then sends the answers they
 * produced as one packet on EP2 IN. A command cut off by the end of the
 * packet is dropped. */
void fw_run_commands(void)
{
    unsigned char length = OUT1BC;
    unsigned char at = 0;
    unsigned char answers = 0;
    unsigned long zeros = 0;

    while (at < length) {
        unsigned char cmd = OUT1BUF[at];
        unsigned char size;
        switch (cmd >> 4) {
        case VOK_USB_CMD_PORT_ENABLE:
        case VOK_USB_CMD_PORT_WRITE:
        case VOK_USB_CMD_BUS_TIMING:
            size = 2;
            break;
        case VOK_USB_CMD_XDATA_WRITE:
        case VOK_USB_CMD_ZEROS:
            size = 4;
            break;
        case VOK_USB_CMD_XDATA_READ:
            size = 3;
            break;
        default:
            size = 1;
            break;
        }
        if ((unsigned char)(length - at) < size)
            break;
        switch (cmd >> 4) {
        case VOK_USB_CMD_PORT_ENABLE:
            OEC = OUT1BUF[at + 1];
            break;
        case VOK_USB_CMD_PORT_WRITE:
            OUTC = OUT1BUF[at + 1];
            break;
        case VOK_USB_CMD_PORT_READ:
            answer[answers++] = PINSC;
            break;
        case VOK_USB_CMD_XDATA_WRITE:
            *(volatile __xdata unsigned char *)(OUT1BUF[at + 1] | (OUT1BUF[at + 2] << 8)) =
                OUT1BUF[at + 3];
            break;
        case VOK_USB_CMD_XDATA_READ:
            answer[answers++] =
                *(volatile __xdata unsigned char *)(OUT1BUF[at + 1] | (OUT1BUF[at + 2] << 8));
            break;
        case VOK_USB_CMD_ZEROS:
            zeros += ((unsigned long)((OUT1BUF[at + 3] << 8) | OUT1BUF[at + 2]) << 6) |
                     (OUT1BUF[at + 1] & 0x3F);
            break;
        case VOK_USB_CMD_BUS_TIMING:
            CKCON = (CKCON & ~CKCON_STRETCH_MASK) | ((cmd & 0x0F) ? 1 : 0);
            FASTXFR = OUT1BUF[at + 1] | FASTXFR_FBLK;
            break;
        }
        at += size;
    }
    OUT1BC = 0; /* the packet is used up: take the next one */

    if (answers) {
        unsigned char i;
        wait_in2_free();
        for (i = 0; i < answers; i++)
            IN2BUF[i] = answer[i];
        IN2BC = answers;
    }
    if (zeros)
        send_zeros(zeros);
}

/* Arms every OUT endpoint: those without a use are drained by the poll loop. */
void fw_bus_reset(void)
{
    OUT1BC = 0;
    OUT2BC = 0;
    OUT3BC = 0;
    OUT4BC = 0;
    OUT5BC = 0;
    OUT6BC = 0;
    OUT7BC = 0;
}

void main(void)
{
    CKCON &= ~CKCON_STRETCH_MASK; /* MOVX in 2 cycles */
    PORTACFG = PORTACFG_FWR | PORTACFG_FRD;
    PORTBCFG = 0;
    PORTCCFG = 0;
    ISOCTL = ISOCTL_ISODISAB;
    FASTXFR = FASTXFR_FBLK;
    usb_start(0, 0xFF); /* no pairs; every endpoint valid */
    fw_poll_loop();
}
