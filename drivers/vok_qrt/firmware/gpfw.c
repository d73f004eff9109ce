/* General-purpose firmware of the USB-QRT board: moves port C by the commands
 * of vok_qrt_protocol.h on EP1 OUT and by block shifts on EP2 OUT, and answers
 * port reads on EP2 IN.
 *
 * Endpoint packets are polled by the main loop; only SETUP requests and bus
 * resets interrupt. A block shift clocks every byte received on EP2 OUT as one
 * TCK cycle until its announced packets have arrived. */
#include "../vok_qrt_protocol.h"
#include "usbdev.h"

#define PAIR_EP2_IN_OUT 0x09
/* IN and OUT endpoints 1, 2, 4, 5, 6, 7 (EP3 is EP2's second buffer); bit 0 is EP0. */
#define VALID_ENDPOINTS 0xF7

/* Block shift state, shared with block_run: full 64-byte packets still due and
 * the length of the short packet that ends the block. Zero at start: the
 * start-up code clears the internal RAM. */
__data unsigned int block_full;
__data unsigned char block_short;

void port_clock(unsigned char value);
void block_run(void);

#define OUT1_RECEIVED() (!(OUT1CS & EPCS_BUSY))
#define OUT2_RECEIVED() (!(OUT2CS & EPCS_BUSY))
#define BLOCK_ACTIVE() (block_full != 0 || block_short != 0)

void fw_bus_reset(void)
{
    OUT1BC = 0;
    OUT2BC = 0;
}

static void start_block(__xdata unsigned char *counts)
{
    block_short = counts[0] & VOK_QRT_COUNT_SHORT_MASK;
    block_full = counts[1] | ((unsigned int)counts[2] << 8);
}

/* Counted packets on EP2 IN in place of a block shift; their content is whatever
 * the buffer holds. */
static void send_counted(__xdata unsigned char *counts)
{
    unsigned int full = counts[1] | ((unsigned int)counts[2] << 8);
    for (; full != 0; --full) {
        fw_wait_in2_free();
        IN2BC = EP_BUF_SIZE;
    }
    fw_wait_in2_free();
    IN2BC = counts[0] & VOK_QRT_COUNT_SHORT_MASK;
}

unsigned char fw_parameter_bytes(unsigned char command)
{
    switch (command >> 4) {
    case VOK_QRT_CMD_PORT_LOW_SKIP:
    case VOK_QRT_CMD_SETUP_PORTS:
    case VOK_QRT_CMD_SET_PORT:
    case VOK_QRT_CMD_CLOCK:
    case VOK_QRT_CMD_TIMING:
        return 1;
    case VOK_QRT_CMD_PORT_LOW_BLOCK:
    case VOK_QRT_CMD_PORT_LOW_COUNTED:
    case VOK_QRT_CMD_BLOCK:
        return 3;
    default:
        return 0;
    }
}

void fw_command(unsigned char command, __xdata unsigned char *p)
{
    unsigned char low = command & 0x0F;
    switch (command >> 4) {
    case VOK_QRT_CMD_ENABLE_LOW:
        OEC = low;
        break;
    case VOK_QRT_CMD_PORT_LOW:
    case VOK_QRT_CMD_PORT_LOW_SKIP:
        OUTC = low;
        break;
    case VOK_QRT_CMD_READ_PINS:
    case VOK_QRT_CMD_READ_PORT:
        fw_reply(PINSC);
        break;
    case VOK_QRT_CMD_PORT_LOW_ZERO:
        OUTC = low;
        fw_reply(0);
        break;
    case VOK_QRT_CMD_PORT_LOW_BLOCK:
        OUTC = low;
        start_block(p);
        break;
    case VOK_QRT_CMD_PORT_LOW_COUNTED:
        OUTC = low;
        send_counted(p);
        break;
    case VOK_QRT_CMD_SETUP_PORTS:
        OUTC = VOK_QRT_PORT_TCK;
        OEC = p[0];
        OEB = 0;
        break;
    case VOK_QRT_CMD_SET_PORT:
        OUTC = p[0] | VOK_QRT_PORT_TCK;
        break;
    case VOK_QRT_CMD_CLOCK:
        port_clock(p[0]);
        break;
    case VOK_QRT_CMD_BLOCK:
        start_block(p);
        break;
    case VOK_QRT_CMD_TIMING:
        CKCON = low ? 1 : 0;
        FASTXFR = p[0] | FASTXFR_FBLK;
        break;
    default: /* 0x7, 0xD, 0xE */
        break;
    }
}

void main(void)
{
    CKCON = 0;
    CPUCS = CPUCS_CLK24OE;
    PORTACFG = PORTACFG_FWR | PORTACFG_FRD;
    PORTBCFG = 0;
    PORTCCFG = 0;
    OEB = 0;
    OEC = 0;
    FASTXFR = FASTXFR_FBLK;
    usb_start(PAIR_EP2_IN_OUT, VALID_ENDPOINTS);
    for (;;) {
        if (BLOCK_ACTIVE()) {
            block_run();
            /* A command that arrived with nothing left on EP2 means the host has
             * moved on: EP2 data sent before it would be visible by now. */
            if (BLOCK_ACTIVE() && OUT1_RECEIVED() && !OUT2_RECEIVED())
                fw_command_packet();
        } else {
            /* Block data without a command before it is discarded; a command seen
             * after the data arrived came before it and may start its block. */
            if (OUT2_RECEIVED() && !OUT1_RECEIVED())
                OUT2BC = 0;
            if (OUT1_RECEIVED())
                fw_command_packet();
        }
    }
}
