/* Command packets on EP1 OUT and their replies on EP2 IN. */
#include "usbdev.h"

static __xdata unsigned char replies[EP_BUF_SIZE];
static __data unsigned char reply_count;

void fw_reply(unsigned char value)
{
    if (reply_count < EP_BUF_SIZE)
        replies[reply_count++] = value;
}

void fw_wait_in2_free(void)
{
    while (IN2CS & EPCS_BUSY)
        ;
}

void fw_command_packet(void)
{
    unsigned char length = OUT1BC;
    unsigned char at = 0;
    unsigned char i;
    reply_count = 0;
    while (at < length) {
        unsigned char command = OUT1BUF[at];
        unsigned char next = at + 1 + fw_parameter_bytes(command);
        if (next > length)
            break;
        fw_command(command, &OUT1BUF[at + 1]);
        at = next;
    }
    OUT1BC = 0; /* the packet is used up: take the next one */
    if (reply_count != 0) {
        fw_wait_in2_free();
        for (i = 0; i < reply_count; ++i)
            IN2BUF[i] = replies[i];
        IN2BC = reply_count;
    }
}
