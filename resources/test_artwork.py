#!/usr/bin/env python3
"""Checks the files make_artwork.py draws, by reading the bytes back with struct alone, and the
.bmp to .png converter, whose PNG is read back with Pillow."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_ARTWORK = os.path.join(HERE, "make_artwork.py")
BMP_TO_PNG = os.path.join(HERE, os.pardir, "scripts", "bmp_to_png.py")

WIDTH, HEIGHT, STRIDE = 377, 270, 380
WHITE, BLACK, RULE_GREY = (255, 255, 255), (0, 0, 0), (150, 152, 155)
LOGO_COLUMNS, LOGO_ROWS = range(36, 280), range(33, 103)
RULE_COLUMNS, RULE_ROWS = range(36, 340), (124, 189, 256)


def run(*args):
    subprocess.run([sys.executable, *args], check=True)


def draw(out_dir):
    run(MAKE_ARTWORK, out_dir)
    with open(os.path.join(out_dir, "about.bmp"), "rb") as f:
        bmp = f.read()
    with open(os.path.join(out_dir, "plugin.ico"), "rb") as f:
        ico = f.read()
    return bmp, ico


def info_header(data, offset):
    names = ("size width height planes bits compression image_size x_ppm y_ppm "
             "clr_used clr_important").split()
    return dict(zip(names, struct.unpack_from("<IiiHHIIiiII", data, offset)))


def colour_table(data, offset, entries):
    """RGBQUADs as (r, g, b, reserved)."""
    quads = struct.unpack_from("<%dB" % (4 * entries), data, offset)
    return [(quads[i + 2], quads[i + 1], quads[i], quads[i + 3]) for i in range(0, len(quads), 4)]


def unpack_rows(data, offset, width, height, bits):
    """Rows of a bottom-up bitmap as lists of values, top row first."""
    stride = (width * bits + 31) // 32 * 4
    per_byte, low = 8 // bits, (1 << bits) - 1
    rows = []
    for y in range(height):
        raw = data[offset + y * stride:offset + (y + 1) * stride]
        rows.append([(raw[x // per_byte] >> (8 - bits - (x % per_byte) * bits)) & low
                     for x in range(width)])
    return rows[::-1]


def about_pixels(bmp):
    """The about picture as rows of (r, g, b), top row first."""
    header = info_header(bmp, 14)
    palette = [quad[:3] for quad in colour_table(bmp, 54, header["clr_used"])]
    offset, = struct.unpack_from("<I", bmp, 10)
    rows = unpack_rows(bmp, offset, header["width"], header["height"], 8)
    return [[palette[i] for i in row] for row in rows]


def icon_images(ico):
    """(directory entry, image bytes) for each image of an .ico file."""
    _, _, count = struct.unpack_from("<HHH", ico, 0)
    images = []
    for i in range(count):
        entry = dict(zip("width height colour_count reserved planes bits size offset".split(),
                         struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)))
        images.append((entry, ico[entry["offset"]:entry["offset"] + entry["size"]]))
    return images


def png_rgb_rows(path):
    """Rows of (r, g, b) of an RGB PNG file, top row first."""
    with Image.open(path, formats=["PNG"]) as png:
        if png.mode != "RGB":
            raise AssertionError("the PNG is %s, not RGB" % png.mode)
        pixels = list(png.getdata())
        return [pixels[y * png.width:(y + 1) * png.width] for y in range(png.height)]


class AboutPictureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.bmp, cls.ico = draw(os.path.join(cls.tmp.name, "first"))
        cls.pixels = about_pixels(cls.bmp)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_headers(self):
        magic, file_size, reserved1, reserved2, offset = struct.unpack_from("<2sIHHI", self.bmp, 0)
        self.assertEqual((magic, reserved1, reserved2), (b"BM", 0, 0))
        self.assertEqual(file_size, len(self.bmp))
        self.assertEqual(offset, 14 + 40 + 38 * 4)
        self.assertEqual(len(self.bmp), offset + STRIDE * HEIGHT)
        self.assertEqual(info_header(self.bmp, 14), {
            "size": 40, "width": WIDTH, "height": HEIGHT, "planes": 1, "bits": 8,
            "compression": 0, "image_size": STRIDE * HEIGHT, "x_ppm": 2834, "y_ppm": 2834,
            "clr_used": 38, "clr_important": 38})

    def test_colour_table(self):
        table = colour_table(self.bmp, 54, 38)
        self.assertEqual(table[0], BLACK + (0,))
        self.assertEqual(table[1], WHITE + (0,))
        self.assertIn(RULE_GREY + (0,), table)
        self.assertTrue(all(quad[3] == 0 for quad in table))
        self.assertEqual(len(set(table)), 38, "colour table has repeated entries")

    def test_rules(self):
        for y in RULE_ROWS:
            with self.subTest(row=y):
                row = self.pixels[y]
                self.assertEqual(set(row[RULE_COLUMNS.start:RULE_COLUMNS.stop]), {RULE_GREY})
                self.assertEqual(row[RULE_COLUMNS.start - 1], WHITE)
                self.assertEqual(row[RULE_COLUMNS.stop], WHITE)

    def test_ink_only_in_logo_box_and_on_rules(self):
        logo_ink = []
        for y, row in enumerate(self.pixels):
            for x, colour in enumerate(row):
                if colour == WHITE:
                    continue
                if y in LOGO_ROWS and x in LOGO_COLUMNS:
                    logo_ink.append((x, y))
                else:
                    self.assertTrue(y in RULE_ROWS and x in RULE_COLUMNS,
                                    "stray %r at column %d, row %d" % (colour, x, y))
        self.assertGreater(len(logo_ink), 1000, "the logo box is (nearly) blank")
        # The logo fills its box rather than sitting in one corner of it.
        xs, ys = [x for x, _ in logo_ink], [y for _, y in logo_ink]
        self.assertGreaterEqual(max(xs) - min(xs) + 1, 0.9 * len(LOGO_COLUMNS))
        self.assertGreaterEqual(max(ys) - min(ys) + 1, 0.9 * len(LOGO_ROWS))

    def test_icon(self):
        reserved, kind, count = struct.unpack_from("<HHH", self.ico, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 2))
        images = icon_images(self.ico)
        self.assertEqual(images[0][0]["offset"], 6 + 16 * 2)
        self.assertEqual(images[1][0]["offset"], images[0][0]["offset"] + images[0][0]["size"])
        self.assertEqual(len(self.ico), images[1][0]["offset"] + images[1][0]["size"])
        pictures = []
        for (entry, data), bits, colour_count in zip(images, (4, 8), (16, 0)):
            with self.subTest(bits=bits):
                self.assertEqual(entry, dict(entry, width=32, height=32, colour_count=colour_count,
                                             reserved=0, planes=1, bits=bits))
                header = info_header(data, 0)
                self.assertEqual((header["size"], header["width"], header["height"],
                                  header["planes"], header["bits"], header["compression"]),
                                 (40, 32, 64, 1, bits, 0))
                entries = header["clr_used"] or 1 << bits
                self.assertEqual(entries, 1 << bits)
                xor_size, and_size = 32 * 32 * bits // 8, 32 * 4
                self.assertEqual(entry["size"], 40 + 4 * entries + xor_size + and_size)
                palette = [quad[:3] for quad in colour_table(data, 40, entries)]
                colours = unpack_rows(data, 40 + 4 * entries, 32, 32, bits)
                mask = unpack_rows(data, 40 + 4 * entries + xor_size, 32, 32, 1)
                # See-through around the emblem: the corner is clear, the middle is not, and clear
                # pixels are black so the screen shows through unchanged.
                self.assertEqual((mask[0][0], mask[16][16]), (1, 0))
                for y in range(32):
                    for x in range(32):
                        if mask[y][x]:
                            self.assertEqual(palette[colours[y][x]], BLACK)
                pictures.append([[None if m else palette[c] for c, m in zip(crow, mrow)]
                                 for crow, mrow in zip(colours, mask)])
        if len(pictures) == 2:  # else a subtest above has already failed
            self.assertEqual(pictures[0], pictures[1], "the icon images show different pictures")

    def test_same_bytes_every_run(self):
        self.assertEqual(draw(os.path.join(self.tmp.name, "second")), (self.bmp, self.ico))

    def test_converts_to_png(self):
        bmp_path = os.path.join(self.tmp.name, "first", "about.bmp")
        png_path = os.path.join(self.tmp.name, "about.png")
        run(BMP_TO_PNG, bmp_path, png_path)
        self.assertEqual(png_rgb_rows(png_path), self.pixels)


def bmp_file(width, height, bits, rows, top_down):
    """A 24- or 32-bit BI_RGB .bmp of rows of (r, g, b), top row first."""
    stride = (width * bits + 31) // 32 * 4
    stored = rows if top_down else rows[::-1]
    pixels = b""
    for row in stored:
        line = b"".join(bytes((b, g, r)) + (b"\x00" if bits == 32 else b"") for r, g, b in row)
        pixels += line.ljust(stride, b"\x00")
    header = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                         len(pixels), 0, 0, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54) + header + pixels


class ScreenshotConversionTest(unittest.TestCase):
    def test_true_colour_bitmaps(self):
        # Three columns so 24-bit rows need padding; distinct channels so swaps show.
        rows = [[(255, 0, 0), (0, 255, 0), (0, 0, 255)],
                [(1, 2, 3), (250, 128, 7), (255, 255, 255)]]
        with tempfile.TemporaryDirectory() as tmp:
            for bits in (24, 32):
                for top_down in (False, True):
                    with self.subTest(bits=bits, top_down=top_down):
                        bmp_path = os.path.join(tmp, "in.bmp")
                        png_path = os.path.join(tmp, "out.png")
                        with open(bmp_path, "wb") as f:
                            f.write(bmp_file(3, 2, bits, rows, top_down))
                        run(BMP_TO_PNG, bmp_path, png_path)
                        self.assertEqual(png_rgb_rows(png_path), rows)


if __name__ == "__main__":
    unittest.main()
