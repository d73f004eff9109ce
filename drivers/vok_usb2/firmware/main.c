/* Firmware of the SPI board: JTAG through serial port 0.
 *
 * PC1 = TCK, PA5 = TDI, PC2 = TMS are outputs, PC0 = TDO and PC3 = target
 * supply are inputs. EP2 OUT and EP4 OUT bytes are shifted through serial port
 * 0 in its synchronous mode, TDI following its clock (EP4's TDO bytes answered
 * on EP2 IN); EP6 OUT bytes set the pins one clock cycle each and are answered
 * with port C. The endpoints are polled by the loop in shift.asm; the USB
 * interrupt only answers endpoint-0 requests. */
#include "usbdev.h"

/* shift.asm */
void fw_poll_loop(void);

#define TCK 0x02 /* PC1 */
#define TMS 0x04 /* PC2 */
#define TDI 0x20 /* PA5 */

static void arm_out_endpoints(void)
{
    OUT1BC = 0;
    OUT2BC = 0;
    OUT4BC = 0;
    OUT6BC = 0;
}

void fw_bus_reset(void)
{
    arm_out_endpoints();
}

void main(void)
{
    CKCON &= ~CKCON_STRETCH_MASK; /* MOVX in 2 cycles: the shift loop counts on it */
    PORTACFG = 0;                 /* PA5 a plain pin, not the FRD strobe */
    PORTBCFG = 0;
    PORTCCFG = 0;                 /* PC0/PC1 go to the serial port only per packet */
    OUTC = TCK;                   /* TCK high (the serial clock's idle level), TMS low */
    OEC = TCK | TMS;
    OUTA = 0;
    OEA = TDI;
    SCON0 = 0;                    /* mode 0 at CLK24/12, receiver off */
    ISOCTL = ISOCTL_ISODISAB;
    /* EP2 OUT double-buffered (with EP3's buffer): the next packet arrives
     * while this one shifts, so the host never waits for the re-arm. */
    USBPAIR = 0x08;
    FASTXFR = 0;
    IN07VAL = 0x57;               /* EP0, EP1, EP2, EP4, EP6 */
    OUT07VAL = 0x57;
    USBBAV = 0;
    IN07IEN = 0;
    OUT07IEN = 0;
    USBIEN = USBIRQ_SUDAV | USBIRQ_URES;
    arm_out_endpoints();

    usb_renumerate();
    EUSB = 1;
    EA = 1;
    fw_poll_loop();
}
