"""The firmware image tool: fill, size limit, conflicting records, the LJMP at
byte 0, and the generated C source. Usage: ihx_image_test.py PATH/ihx_image.py"""
import importlib.util
import sys
import unittest

module_source = importlib.util.spec_from_file_location("ihx_image", sys.argv.pop(1))
ihx_image = importlib.util.module_from_spec(module_source)
module_source.loader.exec_module(ihx_image)


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


if __name__ == "__main__":
    unittest.main()
