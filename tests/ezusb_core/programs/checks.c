/* A small firmware for the core's tests: long multiply, division, signed
 * division, xdata stores and three timer-0 interrupts, then a jump to itself.
 * Its results land in xdata at 0x1000. */
__sfr __at(0x92) _XPAGE;
__sfr __at(0x89) TMOD;
__sfr __at(0xA8) IE;
__sbit __at(0x8C) TR0;

__xdata __at(0x1000) unsigned char out[8];
volatile unsigned char ticks;

void timer0(void) __interrupt(1) {
    if (++ticks == 3) TR0 = 0;
}

void main(void) {
    unsigned long p = 1;
    unsigned char i;
    signed char s = -100;
    unsigned char d = 200;
    for (i = 1; i < 10; ++i) p *= i;
    out[0] = p;
    out[1] = p >> 8;
    out[2] = p >> 16;
    out[3] = p >> 24;
    out[4] = d / 7;
    out[5] = d % 7;
    out[6] = s / 3;
    TMOD = 0x02;
    IE = 0x82;
    TR0 = 1;
    while (ticks < 3)
        ;
    out[7] = ticks;
    while (1)
        ;
}
