/* The start-up code clears and initialises xdata with MOVX @Ri, whose high
 * address byte comes from MPAGE on this chip, not from P2 as on other 8051s.
 * Linked into every image as an object, not from a library, so that it takes
 * the place of the compiler's own definition. */
__sfr __at(0x92) _XPAGE;
