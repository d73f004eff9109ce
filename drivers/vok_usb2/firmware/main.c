/* Firmware of the SPI board: JTAG through serial port 0.
 *
 * TCK, TDI and TMS are outputs, TDO and the target supply inputs. EP2 OUT and
 * EP4 OUT bytes are shifted through serial port 0 in its synchronous mode, TDI
 * following its clock; EP6 OUT bytes are bit cycles. The endpoints are polled
 * by the loop in shift.asm; the USB interrupt only answers endpoint-0
 * requests. */
#include "../vok_usb2_protocol.h"
#include "usbdev.h"

/* shift.asm */
void fw_poll_loop(void);

/* EP2 OUT double-buffered (with EP3's buffer): the next packet arrives while
 * this one shifts, so the host never waits for the re-arm. */
#define PAIR_EP2_OUT 0x08
#define VALID_ENDPOINTS 0x57 /* EP0, EP1, EP2, EP4, EP6 */

void fw_bus_reset(void)
{
    OUT1BC = 0;
    OUT2BC = 0;
    OUT4BC = 0;
    OUT6BC = 0;
}

void main(void)
{
    CKCON &= ~CKCON_STRETCH_MASK; /* MOVX in 2 cycles: the shift loop counts on it */
    PORTACFG = 0;                 /* PA5 a plain pin, not the FRD strobe */
    PORTBCFG = 0;
    PORTCCFG = 0;                 /* PC0/PC1 go to the serial port only per packet */
    /* TCK high (the serial clock's idle level), TMS low */
    OUTC = VOK_USB2_PIN_TCK;
    OEC = VOK_USB2_PIN_TCK | VOK_USB2_PIN_TMS;
    OUTA = 0;
    OEA = VOK_USB2_PIN_TDI;
    SCON0 = 0;                    /* mode 0 at CLK24/12, receiver off */
    ISOCTL = ISOCTL_ISODISAB;
    FASTXFR = 0;
    usb_start(PAIR_EP2_OUT, VALID_ENDPOINTS);
    fw_poll_loop();
}
