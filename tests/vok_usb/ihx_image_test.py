"""The firmware build tools: the image tool (fill, size limit, conflicting
records, the LJMP at byte 0, the generated C source) and the assembler equates
made from a protocol header. Usage: ihx_image_test.py PATH/ihx_image.py
(protocol_equates.py is taken from the same folder)."""
import importlib
import os
import sys
import tempfile
import unittest

# Both tools are imported from the folder of the image tool named on the command line.
tool_path = sys.argv.pop(1)
sys.dont_write_bytecode = True  # no cache folder in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(tool_path)))
ihx_image = importlib.import_module("ihx_image")
protocol_equates = importlib.import_module("protocol_equates")


def record(address, data, kind=0):
    raw = bytes([len(data), address >> 8, address & 0xFF, kind]) + bytes(data)
    return ":" + (raw + bytes([(-sum(raw)) & 0xFF])).hex().upper()


END = record(0, [], 1)


class ImageTool(unittest.TestCase):
    def test_image_is_filled_to_its_size(self):
        text = "\n".join([record(0, [0x02, 0x00, 0x10]), record(0x10, [0x80, 0xFE]), END])
        image, used = ihx_image.build_image(text, 4096, 0xAA)
        self.assertEqual(len(image), 4096)
        self.assertEqual(used, 5)
        self.assertEqual(image[:4], bytes([0x02, 0x00, 0x10, 0xAA]))
        self.assertEqual(image[0x10:0x13], bytes([0x80, 0xFE, 0xAA]))
        self.assertEqual(image[-1], 0xAA)

    def test_refused_inputs(self):
        cases = {
            "code past the end": [record(0, [2, 0, 0]), record(0x0FFF, [1, 2])],
            "no LJMP at 0": [record(0, [0x32])],
            "nothing at 0": [record(0x43, [2, 0, 0])],
            "records disagree": [record(0, [2, 0, 0]), record(0x43, [2, 1, 0]), record(0x43, [0x32])],
            "bad checksum": [record(0, [2, 0, 0])[:-2] + "00"],
            "not a record": ["0200"],
        }
        for what, lines in cases.items():
            with self.subTest(what):
                with self.assertRaises(ihx_image.ImageError):
                    ihx_image.build_image("\n".join(lines + [END]), 4096, 0xAA)

    def test_same_byte_twice_is_accepted(self):
        text = "\n".join([record(0, [2, 0, 0]), record(1, [0, 0]), END])
        image, _ = ihx_image.build_image(text, 4096, 0xAA)
        self.assertEqual(image[:3], bytes([2, 0, 0]))

    def test_c_source_defines_the_exported_array(self):
        source = ihx_image.c_source(bytes([2]) + bytes([0xAA]) * 17, "firmware")
        self.assertIn("VOK_EXPORT const unsigned char firmware[18] = {", source)
        self.assertIn("0x02, 0xAA,", source)
        self.assertEqual(source.count("0x"), 18)


class ProtocolEquates(unittest.TestCase):
    HEADER = """
#define PIN_A 0x01 /* PC0 */
#define PIN_B 0x04
#define BOTH (PIN_A | PIN_B)
#define SHIFTED BOTH << 4
#define COUNT 10u
#define COMMAND(code, low) (((code) << 4) | (low))
#define NAME 'J', 'T'
#define LIST(X) \\
    X(1) X(2)
#define UNKNOWN SOMETHING_ELSE
/* #define COMMENTED 3 */
"""

    def test_integer_defines_become_equates_and_the_rest_is_left_out(self):
        self.assertEqual(protocol_equates.equates(self.HEADER),
                         {"PIN_A": 1, "PIN_B": 4, "BOTH": 5, "SHIFTED": 0x50, "COUNT": 10})

    def test_output_is_sdas_syntax(self):
        with tempfile.TemporaryDirectory() as d:
            header, out = os.path.join(d, "p.h"), os.path.join(d, "p.inc")
            with open(header, "w") as f:
                f.write(self.HEADER)
            self.assertEqual(protocol_equates.main(["", header, out]), 0)
            with open(out) as f:
                lines = f.read().splitlines()
        self.assertTrue(lines[0].startswith(";"))
        self.assertEqual(lines[1:], ["PIN_A = 0x1", "PIN_B = 0x4", "BOTH = 0x5", "SHIFTED = 0x50", "COUNT = 0xA"])


if __name__ == "__main__":
    unittest.main()
