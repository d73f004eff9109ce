#!/usr/bin/env python3
"""The USB descriptors of our firmware images: each starts at an even address
and holds, byte for byte, what its board must tell the host.

Arguments: pairs of MAP BIN (the linker's map and the 4096-byte image). The
device and configuration descriptors are found by their symbols, the string
descriptors through the pointer table fw_strings (two bytes each, low first)
and its length fw_string_count. The board is known by the image's file name.
"""
import re
import sys

EVERY_ENDPOINT = [1, 2, 3, 4, 5, 6, 7, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87]
# Image file name: strings 1 and 2 (what the driver checks), endpoint addresses.
BOARDS = {
    "firmware.bin": ("JTAG", "V009", EVERY_ENDPOINT),
    "ez_spi.bin": ("USB_SPI", "V010", [1, 2, 4, 6, 0x81, 0x82, 0x84, 0x86]),
    "fw_bin.bin": ("GPFW", "V11P", EVERY_ENDPOINT),
}
DEVICE = bytes([18, 1, 0x00, 0x01, 0, 0, 0, 64, 0x47, 0x05, 0x31, 0x21, 0x01, 0x00, 1, 2, 0, 1])


def string_descriptor(text):
    return bytes([2 + 2 * len(text), 3]) + text.encode("utf-16-le")


def expected(board):
    manufacturer, product, endpoints = BOARDS[board]
    total = 18 + 7 * len(endpoints)
    config = bytes([9, 2, total, 0, 1, 1, 0, 0xA0, 250, 9, 4, 0, 0, len(endpoints), 0xFF, 0, 0, 0])
    for address in endpoints:
        interrupt = address == 0x81  # EP1 IN, polled every frame
        config += bytes([7, 5, address, 3 if interrupt else 2, 64, 0, 1 if interrupt else 0])
    return {"device": DEVICE, "configuration": config, "string 0": bytes([4, 3, 0x09, 0x04]),
            "string 1": string_descriptor(manufacturer), "string 2": string_descriptor(product)}


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


def check(bin_name, at, image):
    failures = []
    want = expected(bin_name)
    if sorted(at) != sorted(want):
        failures.append(f"{bin_name}: descriptors {sorted(at)}, want {sorted(want)}")
    for name, address in at.items():
        print(f"{bin_name}: {name} at 0x{address:04X}")
        if address % 2:
            failures.append(f"{bin_name}: {name} at odd address 0x{address:04X}")
        if name in want:
            # A descriptor's length is its first byte (the configuration's
            # total in bytes 2-3).
            length = image[address + 2] if name == "configuration" else image[address]
            got = image[address:address + length]
            if got != want[name]:
                failures.append(f"{bin_name}: {name} is {got.hex(' ')}, want {want[name].hex(' ')}")
    return failures


def main(argv):
    failures = []
    for map_path, bin_path in zip(argv[1::2], argv[2::2]):
        with open(map_path) as f, open(bin_path, "rb") as g:
            map_text, image = f.read(), g.read()
        failures += check(bin_path.rsplit("/", 1)[-1], descriptor_addresses(map_text, image), image)
    for f in failures:
        print("FAIL", f)
    return 1 if failures or len(argv) != 1 + 2 * len(BOARDS) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
