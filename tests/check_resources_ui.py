#!/usr/bin/env python3
"""Checks the about dialog's resources in the built plug-in library, as the dialog manager reads
them: the extended dialog template field by field, the picture's bitmap header and the icon."""
import struct
import sys
import unittest

import pefile

from check_binary import resources

PLUGIN = None

GERMAN = 1031
ENGLISH_US = 1033

WS_POPUP, WS_VISIBLE, WS_CHILD = 0x80000000, 0x10000000, 0x40000000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_3DLOOK, DS_SETFONT, DS_MODALFRAME = 0x4, 0x40, 0x80
SS_LEFTNOWORDWRAP, SS_BITMAP, SS_REALSIZEIMAGE = 0xC, 0xE, 0x800
BS_DEFPUSHBUTTON = 0x1
WS_EX_TRANSPARENT = 0x20
BUTTON, STATIC = 0x80, 0x82  # atoms of the predefined classes

LINE = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFTNOWORDWRAP
# (id, class, style, extended style, (x, y, width, height), text) in creation order; an int text
# is a resource ordinal.
ABOUT_CONTROLS = [
    (206, STATIC, LINE, WS_EX_TRANSPARENT, (25, 81, 202, 9), ""),
    (204, STATIC, LINE, WS_EX_TRANSPARENT, (25, 93, 202, 9), "(c) QV Printer Plug-in Team"),
    (-1, STATIC, LINE, WS_EX_TRANSPARENT, (25, 105, 202, 9), "All rights reserved."),
    (1, BUTTON, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, WS_EX_TRANSPARENT,
     (101, 171, 50, 14), "OK"),
    (-1, STATIC, WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_REALSIZEIMAGE, 0, (0, 0, 251, 166), 107),
]


class Reader:
    """Reads a template front to back in its little-endian fields."""

    def __init__(self, data):
        self.data, self.offset = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.offset
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.offset:end].decode("utf-16-le")
        self.offset = end + 2
        return value

    def text_or_ordinal(self):
        if self.data[self.offset:self.offset + 2] == b"\xff\xff":
            return self.take("2H")[1]
        return self.text()

    def align(self):
        self.offset = (self.offset + 3) & ~3


def read_dialog_ex(data):
    """The DLGTEMPLATEEX and its items as a dict, with the bytes after the last item."""
    r = Reader(data)
    d = {}
    d["version"], d["signature"], d["help"], d["ex_style"], d["style"], count = r.take("HHIIIH")
    d["rect"] = r.take("4h")
    d["menu"], d["class"], d["title"] = r.text_or_ordinal(), r.text_or_ordinal(), r.text()
    d["font"] = r.take("HHBB") + (r.text(),)
    d["items"] = []
    for _ in range(count):
        r.align()
        _help, ex_style, style = r.take("III")
        rect = r.take("4h")
        control_id = r.take("i")
        control_class, text = r.text_or_ordinal(), r.text_or_ordinal()
        extra = r.take("H")
        r.offset += extra
        d["items"].append((control_id, control_class, style, ex_style, rect, text))
    d["left_over"] = data[r.offset:]
    return d


class AboutResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(PLUGIN)

    def only(self, type_name):
        found = list(resources(self.pe, pefile.RESOURCE_TYPE[type_name]))
        self.assertEqual(len(found), 1, [(n, lang) for n, lang, _ in found])
        return found[0]

    def test_dialog_template(self):
        name, lang, data = self.only("RT_DIALOG")
        self.assertEqual((name, lang), (105, ENGLISH_US))
        d = read_dialog_ex(data)
        self.assertEqual((d["version"], d["signature"], d["help"], d["ex_style"]), (1, 0xFFFF, 0, 0))
        self.assertEqual(hex(d["style"]),
                         hex(WS_POPUP | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK))
        self.assertEqual(d["rect"], (0, 0, 251, 194))
        self.assertEqual((d["menu"], d["class"], d["title"]), ("", "", ""))
        self.assertEqual(d["font"], (8, 0, 0, 1, "MS Sans Serif"))
        self.assertEqual(len(d["items"]), len(ABOUT_CONTROLS))
        for index, (got, want) in enumerate(zip(d["items"], ABOUT_CONTROLS)):
            self.assertEqual(got, want, "control %d" % (index + 1))
        self.assertIn(d["left_over"], (b"", b"\0\0"), "only padding after the last control")

    def test_picture_bitmap(self):
        name, lang, data = self.only("RT_BITMAP")
        self.assertEqual((name, lang), (107, GERMAN))
        (size, width, height, planes, bits, compression, image_size, x_ppm, y_ppm, used,
         important) = struct.unpack_from("<IiiHHIIiiII", data)
        self.assertEqual((size, width, height, planes, bits, compression),
                         (40, 377, 270, 1, 8, 0))
        self.assertEqual((x_ppm, y_ppm, used, important), (2834, 2834, 38, 38))
        self.assertIn(image_size, (0, 380 * 270))
        self.assertEqual(data[40:48], b"\0\0\0\0\xff\xff\xff\0", "entries 0 and 1: black, white")
        self.assertEqual(len(data), 40 + 38 * 4 + 380 * 270)

    def test_icon_group(self):
        name, lang, data = self.only("RT_GROUP_ICON")
        self.assertEqual((name, lang), (22001, GERMAN))
        reserved, kind, count = struct.unpack_from("<HHH", data)
        self.assertEqual((reserved, kind, count), (0, 1, 2))
        images = {image_id: image for image_id, _, image in resources(
            self.pe, pefile.RESOURCE_TYPE["RT_ICON"])}
        self.assertTrue(all(lang == GERMAN for _, lang, _ in resources(
            self.pe, pefile.RESOURCE_TYPE["RT_ICON"])))
        bit_counts = []
        for i in range(count):
            width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
                "<BBBBHHIH", data, 6 + 14 * i)
            self.assertEqual((width, height, planes), (32, 32, 1), "image %d" % (i + 1))
            self.assertEqual(colours, 16 if bits == 4 else 0, "image %d" % (i + 1))
            image = images[image_id]
            self.assertEqual(len(image), size, "image %d" % (i + 1))
            header = struct.unpack_from("<IiiHH", image)
            self.assertEqual(header, (40, 32, 64, 1, bits), "image %d: colour and mask" % (i + 1))
            bit_counts.append(bits)
        self.assertEqual(bit_counts, [4, 8])
        self.assertEqual(len(images), 2, "the library's only icon images")


if __name__ == "__main__":
    PLUGIN = sys.argv.pop(1)
    unittest.main(verbosity=1)
