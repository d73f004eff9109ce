/* Endpoint-0 requests. With RENUM set the core hands every request except
 * SET_ADDRESS (and the 0xA0 download) to the firmware through SUDAV. */
#include "usbdev.h"

volatile __data unsigned char usb_configuration;

#define RT_DIR_IN 0x80
#define RT_TYPE_MASK 0x60
#define RT_TYPE_STANDARD 0x00
#define RT_RECIPIENT_MASK 0x1F
#define RT_DEVICE 0x00
#define RT_INTERFACE 0x01
#define RT_ENDPOINT 0x02

#define REQ_GET_STATUS 0
#define REQ_CLEAR_FEATURE 1
#define REQ_SET_FEATURE 3
#define REQ_GET_DESCRIPTOR 6
#define REQ_GET_CONFIGURATION 8
#define REQ_SET_CONFIGURATION 9
#define REQ_GET_INTERFACE 10
#define REQ_SET_INTERFACE 11

#define DT_DEVICE 1
#define DT_CONFIGURATION 2
#define DT_STRING 3

#define FEATURE_ENDPOINT_HALT 0

/* Control/status register of the endpoint named by an endpoint address
 * (bit 7 = IN), or 0 for endpoint 0 and numbers above 7. */
static volatile __xdata unsigned char *endpoint_cs(unsigned char address)
{
    unsigned char n = address & 0x0F;
    if (n == 0 || n > 7)
        return 0;
    if (address & 0x80)
        return (volatile __xdata unsigned char *)(EP_IN_CS_ADDR(n));
    return (volatile __xdata unsigned char *)(EP_OUT_CS_ADDR(n));
}

/* Sends a descriptor from RAM; the core sends at most wLength bytes of it
 * in 64-byte packets and ends the status stage by itself. */
static void send_descriptor(__code const unsigned char *d)
{
    unsigned int a = (unsigned int)d;
    EP0CS = EP0CS_HSNAK;
    SUDPTRH = a >> 8;
    SUDPTRL = a & 0xFF;
}

/* Answers the data stage from IN0BUF. */
static void send_bytes(unsigned char count)
{
    IN0BC = count;
    EP0CS = EP0CS_HSNAK;
}

/* Returns 1 when the request was answered by sending data. */
static unsigned char get_descriptor(void)
{
    unsigned char type = SETUPDAT[3];
    unsigned char index = SETUPDAT[2];
    if (type == DT_DEVICE) {
        send_descriptor(fw_device_descriptor);
        return 1;
    }
    if (type == DT_CONFIGURATION && index == 0) {
        send_descriptor(fw_config_descriptor);
        return 1;
    }
    /* The language ID in wIndex does not select anything: one language. */
    if (type == DT_STRING && index < fw_string_count) {
        send_descriptor(fw_strings[index]);
        return 1;
    }
    return 0;
}

static unsigned char standard_request(void)
{
    unsigned char type = SETUPDAT[0];
    unsigned char recipient = type & RT_RECIPIENT_MASK;
    volatile __xdata unsigned char *cs;
    unsigned char toggle;

    switch (SETUPDAT[1]) {
    case REQ_GET_DESCRIPTOR:
        return get_descriptor();
    case REQ_GET_STATUS:
        IN0BUF[0] = 0;
        IN0BUF[1] = 0;
        if (recipient == RT_ENDPOINT) {
            cs = endpoint_cs(SETUPDAT[4]);
            if (cs)
                IN0BUF[0] = *cs & EPCS_STALL;
            else if ((SETUPDAT[4] & 0x7F) != 0)
                return 0;
        } else if (recipient != RT_DEVICE && recipient != RT_INTERFACE) {
            return 0;
        }
        send_bytes(2);
        return 1;
    case REQ_CLEAR_FEATURE:
    case REQ_SET_FEATURE:
        if (recipient == RT_DEVICE)
            break; /* remote wake-up: nothing to keep */
        if (recipient != RT_ENDPOINT || SETUPDAT[2] != FEATURE_ENDPOINT_HALT)
            return 0;
        cs = endpoint_cs(SETUPDAT[4]);
        if (!cs)
            break;
        if (SETUPDAT[1] == REQ_SET_FEATURE) {
            *cs |= EPCS_STALL;
        } else {
            *cs &= ~EPCS_STALL;
            /* A cleared halt restarts the endpoint's data toggle at DATA0:
             * select the endpoint, then reset its toggle. */
            toggle = (SETUPDAT[4] & 0x07) | ((SETUPDAT[4] & 0x80) ? TOGCTL_IO : 0);
            TOGCTL = toggle;
            TOGCTL = toggle | TOGCTL_R;
        }
        break;
    case REQ_GET_CONFIGURATION:
        IN0BUF[0] = usb_configuration;
        send_bytes(1);
        return 1;
    case REQ_SET_CONFIGURATION:
        if (SETUPDAT[2] > 1)
            return 0;
        usb_configuration = SETUPDAT[2];
        break;
    case REQ_GET_INTERFACE:
        IN0BUF[0] = 0;
        send_bytes(1);
        return 1;
    case REQ_SET_INTERFACE:
        if (SETUPDAT[2] != 0)
            return 0;
        break;
    default:
        return 0;
    }
    EP0CS = EP0CS_HSNAK;
    return 1;
}

void usb_setup(void)
{
    if ((SETUPDAT[0] & RT_TYPE_MASK) != RT_TYPE_STANDARD || !standard_request())
        EP0CS = EP0CS_STALL | EP0CS_HSNAK;
}
