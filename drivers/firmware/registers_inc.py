#!/usr/bin/env python3
"""Writes the assembler's register equates from the chip's register list.

Every entry becomes NAME = value. A one-byte register in the external data
space also gets NAME_L, its low byte: the assembly reaches the registers with
MOVX @Ri and MPAGE = REG_PAGE. A single-bit mask also gets NAME_BIT, its bit
number, for JB and JNB on a register read into A."""
import argparse
import re
import sys

ENTRY = re.compile(r'^\s*AN2131_(SFR|SBIT|XREG|XBUF|BIT|CONST)\((\w+),\s*(\w+)')


def equates(text):
    lines, pages = [], set()
    for line in text.splitlines():
        m = ENTRY.match(line)
        if not m:
            continue
        kind, name, value = m.group(1), m.group(2), int(m.group(3), 0)
        lines.append(f'{name} = 0x{value:02X}')
        if kind == 'XREG':
            pages.add(value >> 8)
            lines.append(f'{name}_L = 0x{value & 0xFF:02X}')
        elif kind == 'BIT' and value and value & (value - 1) == 0:
            lines.append(f'{name}_BIT = {value.bit_length() - 1}')
    if len(pages) != 1:
        sys.exit(f'registers on more than one page: {sorted(hex(p) for p in pages)}')
    lines.append(f'REG_PAGE = 0x{pages.pop():02X}')
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument('registers', help='the register list (.def)')
    ap.add_argument('output', help='the equates (.inc) to write')
    args = ap.parse_args()
    with open(args.registers) as f:
        lines = equates(f.read())
    with open(args.output, 'w') as f:
        f.write('; AN2131 registers, written from an2131_registers.def by the build.\n')
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
