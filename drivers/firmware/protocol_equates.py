#!/usr/bin/env python3
"""Assembler equates from a protocol header.

Usage: protocol_equates.py HEADER OUT

Every object-like #define of HEADER whose value is an integer expression (of
numbers, names defined before it, | & ^ << >> + - * ~ and parentheses) becomes
`NAME = 0x..` in OUT, for sdas8051's .include. Other defines are left out.
"""
import re
import sys

DEFINE = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)(?!\()\s+(.+?)\s*$")
EXPRESSION = re.compile(r"^[\w\s|&^<>+\-*~()]+$")


def equates(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    values = {}
    for line in text.splitlines():
        m = DEFINE.match(line)
        if not m or not EXPRESSION.match(m.group(2)):
            continue
        expression = re.sub(r"\b(\d+)[uUlL]+\b", r"\1", m.group(2))
        try:
            value = eval(expression, {"__builtins__": {}}, dict(values))
        except (NameError, SyntaxError, TypeError):
            continue
        if isinstance(value, int):
            values[m.group(1)] = value
    return values


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1]) as f:
        values = equates(f.read())
    with open(argv[2], "w") as out:
        out.write(f"; Made from {argv[1].rsplit('/', 1)[-1]}: do not edit.\n")
        for name, value in values.items():
            out.write(f"{name} = 0x{value & 0xFFFF:X}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
