#!/usr/bin/env python3
"""Every USB descriptor of a firmware image starts at an even address.

Arguments: pairs of MAP BIN (the linker's map and the 4096-byte image). The
device and configuration descriptors are found by their symbols, the string
descriptors through the pointer table fw_strings (two bytes each, low first)
and its length fw_string_count.
"""
import re
import sys


def symbols(map_text):
    found = {}
    for m in re.finditer(r"^C:\s+([0-9A-Fa-f]{8})\s+(_\w+)", map_text, re.M):
        found[m.group(2)] = int(m.group(1), 16)
    return found


def descriptor_addresses(map_text, image):
    sym = symbols(map_text)
    at = {"device": sym["_fw_device_descriptor"], "configuration": sym["_fw_config_descriptor"]}
    table, count = sym["_fw_strings"], image[sym["_fw_string_count"]]
    for i in range(count):
        at[f"string {i}"] = image[table + 2 * i] | image[table + 2 * i + 1] << 8
    return at


def main(argv):
    failures = []
    for map_path, bin_path in zip(argv[1::2], argv[2::2]):
        with open(map_path) as f, open(bin_path, "rb") as g:
            at = descriptor_addresses(f.read(), g.read())
        if len(at) < 5:
            failures.append(f"{bin_path}: only {len(at)} descriptors found")
        for name, address in at.items():
            print(f"{bin_path.rsplit('/', 1)[-1]}: {name} at 0x{address:04X}")
            if address % 2:
                failures.append(f"{bin_path}: {name} at odd address 0x{address:04X}")
    for f in failures:
        print("FAIL", f)
    return 1 if failures or len(argv) < 3 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
