/* Registers of the EZ-USB AN2131 for SDCC, from the chip's register list: SFRs
 * and their bits, then the memory-mapped USB and port registers. Bit masks and
 * sizes are enumeration constants. */
#ifndef AN2131_H
#define AN2131_H

#define AN2131_SFR(name, addr) __sfr __at(addr) name;
#define AN2131_SBIT(name, addr) __sbit __at(addr) name;
#define AN2131_XREG(name, addr) volatile __xdata __at(addr) unsigned char name;
#define AN2131_XBUF(name, addr, size) volatile __xdata __at(addr) unsigned char name[size];
#define AN2131_BIT(name, mask) enum { name = mask };
#define AN2131_CONST(name, value) enum { name = value };
#include "an2131_registers.def"

/* Control/status register of endpoint n, direction IN or OUT. */
#define EP_IN_CS_ADDR(n) (EP_IN_CS_BASE + 2 * (n))
#define EP_OUT_CS_ADDR(n) (EP_OUT_CS_BASE + 2 * (n))

#endif
