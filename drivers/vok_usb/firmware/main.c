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

/* Zero bytes asked for by the packet being carried out, sent after its replies. */
static __data unsigned long zeros;

/* Sends count zero bytes on EP2 IN, 64 to a packet, the rest last. */
static void send_zeros(unsigned long count)
{
    unsigned char i;
    fw_wait_in2_free();
    for (i = 0; i < EP_BUF_SIZE; i++)
        IN2BUF[i] = 0;
    while (count >= EP_BUF_SIZE) {
        IN2BC = EP_BUF_SIZE;
        count -= EP_BUF_SIZE;
        fw_wait_in2_free();
    }
    if (count)
        IN2BC = (unsigned char)count;
}

unsigned char fw_parameter_bytes(unsigned char command)
{
    switch (command >> 4) {
    case VOK_USB_CMD_PORT_ENABLE:
    case VOK_USB_CMD_PORT_WRITE:
    case VOK_USB_CMD_BUS_TIMING:
        return 1;
    case VOK_USB_CMD_XDATA_WRITE:
    case VOK_USB_CMD_ZEROS:
        return 3;
    case VOK_USB_CMD_XDATA_READ:
        return 2;
    default:
        return 0;
    }
}

void fw_command(unsigned char command, __xdata unsigned char *p)
{
    switch (command >> 4) {
    case VOK_USB_CMD_PORT_ENABLE:
        OEC = p[0];
        break;
    case VOK_USB_CMD_PORT_WRITE:
        OUTC = p[0];
        break;
    case VOK_USB_CMD_PORT_READ:
        fw_reply(PINSC);
        break;
    case VOK_USB_CMD_XDATA_WRITE:
        *(volatile __xdata unsigned char *)(p[0] | (p[1] << 8)) = p[2];
        break;
    case VOK_USB_CMD_XDATA_READ:
        fw_reply(*(volatile __xdata unsigned char *)(p[0] | (p[1] << 8)));
        break;
    case VOK_USB_CMD_ZEROS:
        zeros += ((unsigned long)((p[2] << 8) | p[1]) << 6) | (p[0] & 0x3F);
        break;
    case VOK_USB_CMD_BUS_TIMING:
        CKCON = (CKCON & ~CKCON_STRETCH_MASK) | ((command & 0x0F) ? 1 : 0);
        FASTXFR = p[0] | FASTXFR_FBLK;
        break;
    }
}

/* Called by the poll loop for a packet on EP1 OUT. */
void fw_run_commands(void)
{
    zeros = 0;
    fw_command_packet();
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
