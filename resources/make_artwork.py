#!/usr/bin/env python3
# Draws the about box picture (about.bmp) and the plug-in icon (plugin.ico): make_artwork.py OUTDIR
import os
import struct
import sys

# The about picture's colour table. The first 16 entries are also the 16-colour icon's palette,
# so every colour the emblem uses sits among them.
BLACK, WHITE, RULE_GREY, NAVY, BLUE, SKY, PALE_BLUE, DARK_GREY, MID_GREY, LIGHT_GREY = range(10)
USED_COLOURS = [
    (0, 0, 0),        # BLACK
    (255, 255, 255),  # WHITE
    (150, 152, 155),  # RULE_GREY
    (22, 45, 96),     # NAVY
    (38, 92, 168),    # BLUE
    (96, 150, 214),   # SKY
    (206, 224, 244),  # PALE_BLUE
    (64, 68, 76),     # DARK_GREY
    (118, 122, 130),  # MID_GREY
    (196, 200, 206),  # LIGHT_GREY
]
PALETTE_SIZE = 38
# The rest of the table is a ramp of neutral greys nothing draws with; none of them equals a
# colour above.
FILLER_GREYS = [(v, v, v) for v in range(8, 256, 9)][:PALETTE_SIZE - len(USED_COLOURS)]
PALETTE = USED_COLOURS + FILLER_GREYS
assert len(PALETTE) == PALETTE_SIZE and len(set(PALETTE)) == PALETTE_SIZE

# Marks the pixels of the emblem that belong to no shape (see-through in the icon).
CLEAR = 255

# A 5x7 pixel font; '#' is ink. Each glyph is as wide as its rows, so narrow glyphs stay narrow.
FONT = {
    "A": ".###. #...# #...# ##### #...# #...# #...#",
    "B": "####. #...# #...# ####. #...# #...# ####.",
    "C": ".###. #...# #.... #.... #.... #...# .###.",
    "D": "####. #...# #...# #...# #...# #...# ####.",
    "E": "##### #.... #.... ####. #.... #.... #####",
    "F": "##### #.... #.... ####. #.... #.... #....",
    "G": ".###. #...# #.... #.### #...# #...# .####",
    "H": "#...# #...# #...# ##### #...# #...# #...#",
    "I": "### .#. .#. .#. .#. .#. ###",
    "J": "..### ...#. ...#. ...#. ...#. #..#. .##..",
    "K": "#...# #..#. #.#.. ##... #.#.. #..#. #...#",
    "L": "#.... #.... #.... #.... #.... #.... #####",
    "M": "#...# ##.## #.#.# #.#.# #...# #...# #...#",
    "N": "#...# #...# ##..# #.#.# #..## #...# #...#",
    "O": ".###. #...# #...# #...# #...# #...# .###.",
    "P": "####. #...# #...# ####. #.... #.... #....",
    "Q": ".###. #...# #...# #...# #.#.# #..#. .##.#",
    "R": "####. #...# #...# ####. #.#.. #..#. #...#",
    "S": ".#### #.... #.... .###. ....# ....# ####.",
    "T": "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",
    "U": "#...# #...# #...# #...# #...# #...# .###.",
    "V": "#...# #...# #...# #...# #...# .#.#. ..#..",
    "W": "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",
    "X": "#...# #...# .#.#. ..#.. .#.#. #...# #...#",
    "Y": "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#..",
    "Z": "##### ....# ...#. ..#.. .#... #.... #####",
    "0": ".###. #...# #..## #.#.# ##..# #...# .###.",
    "1": "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###.",
    "2": ".###. #...# ....# ...#. ..#.. .#... #####",
    "3": "####. ....# ....# .###. ....# ....# ####.",
    "4": "...#. ..##. .#.#. #..#. ##### ...#. ...#.",
    "5": "##### #.... ####. ....# ....# #...# .###.",
    "6": "..##. .#... #.... ####. #...# #...# .###.",
    "7": "##### ....# ...#. ..#.. .#... .#... .#...",
    "8": ".###. #...# #...# .###. #...# #...# .###.",
    "9": ".###. #...# #...# .#### ....# ...#. .##..",
    "-": "... ... ... ### ... ... ...",
    ".": ". . . . . . #",
    " ": "... ... ... ... ... ... ...",
}
FONT_HEIGHT = 7


# --- Drawing helpers. A canvas is a list of rows (bytearrays of palette indices), row 0 on top;
# all coordinates are inclusive.

def new_canvas(width, height, colour):
    return [bytearray([colour]) * width for _ in range(height)]


def fill_rect(canvas, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        canvas[y][x0:x1 + 1] = bytes([colour]) * (x1 - x0 + 1)


def hline(canvas, x0, x1, y, colour):
    fill_rect(canvas, x0, y, x1, y, colour)


def vline(canvas, x, y0, y1, colour):
    fill_rect(canvas, x, y0, x, y1, colour)


def frame(canvas, x0, y0, x1, y1, colour):
    hline(canvas, x0, x1, y0, colour)
    hline(canvas, x0, x1, y1, colour)
    vline(canvas, x0, y0, y1, colour)
    vline(canvas, x1, y0, y1, colour)


def text_width(text, scale):
    widths = [len(FONT[ch].split()[0]) for ch in text]
    return (sum(widths) + len(widths) - 1) * scale


def draw_text(canvas, x, y, text, scale, colour):
    """Draws text with its top-left corner at (x, y), each font pixel scale x scale big."""
    for ch in text:
        rows = FONT[ch].split()
        for gy, row in enumerate(rows):
            for gx, cell in enumerate(row):
                if cell == "#":
                    fill_rect(canvas, x + gx * scale, y + gy * scale,
                              x + gx * scale + scale - 1, y + gy * scale + scale - 1, colour)
        x += (len(rows[0]) + 1) * scale


def blit_scaled(canvas, x, y, picture, scale):
    """Copies picture onto canvas at (x, y), each pixel scale x scale big, skipping CLEAR."""
    for py, row in enumerate(picture):
        for px, colour in enumerate(row):
            if colour != CLEAR:
                fill_rect(canvas, x + px * scale, y + py * scale,
                          x + px * scale + scale - 1, y + py * scale + scale - 1, colour)


# --- The pictures.

EMBLEM_SIZE = 32


def draw_emblem():
    """The emblem, 32x32: a printer with a sheet waiting at the back and one coming out."""
    e = new_canvas(EMBLEM_SIZE, EMBLEM_SIZE, CLEAR)
    # Sheet waiting in the feed tray, with a few lines of text.
    fill_rect(e, 8, 0, 23, 11, WHITE)
    frame(e, 8, 0, 23, 11, DARK_GREY)
    hline(e, 11, 20, 3, SKY)
    hline(e, 11, 18, 5, SKY)
    hline(e, 11, 20, 7, SKY)
    # Body with rounded corners, a highlight along the lid and a shadow along the base.
    fill_rect(e, 0, 10, 31, 25, BLUE)
    frame(e, 0, 10, 31, 25, NAVY)
    hline(e, 1, 30, 11, SKY)
    hline(e, 1, 30, 24, NAVY)
    for x, y in ((0, 10), (31, 10), (0, 25), (31, 25)):
        e[y][x] = CLEAR
    # Control panel: a display and a lit button.
    fill_rect(e, 3, 14, 10, 16, PALE_BLUE)
    frame(e, 3, 14, 10, 16, NAVY)
    fill_rect(e, 26, 14, 28, 16, LIGHT_GREY)
    e[15][27] = SKY
    # Output slot and the printed sheet coming out of it.
    fill_rect(e, 5, 19, 26, 21, NAVY)
    hline(e, 5, 26, 22, MID_GREY)
    fill_rect(e, 7, 21, 24, 31, WHITE)
    vline(e, 7, 21, 31, DARK_GREY)
    vline(e, 24, 21, 31, DARK_GREY)
    hline(e, 7, 24, 31, DARK_GREY)
    hline(e, 10, 21, 25, BLUE)
    hline(e, 10, 19, 27, MID_GREY)
    hline(e, 10, 21, 29, MID_GREY)
    return e


ABOUT_WIDTH, ABOUT_HEIGHT = 377, 270
LOGO_LEFT, LOGO_TOP, LOGO_RIGHT, LOGO_BOTTOM = 36, 33, 279, 102
RULE_LEFT, RULE_RIGHT = 36, 339
RULE_ROWS = (124, 189, 256)


def draw_about(emblem):
    """The about box picture: the logo (emblem, name and a bar beneath) and three thin rules."""
    c = new_canvas(ABOUT_WIDTH, ABOUT_HEIGHT, WHITE)
    blit_scaled(c, LOGO_LEFT, LOGO_TOP, emblem, 2)
    name, subtitle = "QV PRINTER", "PRINTER SELECTION PLUG-IN"
    draw_text(c, LOGO_RIGHT + 1 - text_width(name, 3), LOGO_TOP + 12, name, 3, NAVY)
    draw_text(c, LOGO_RIGHT + 1 - text_width(subtitle, 1), LOGO_TOP + 42, subtitle, 1, MID_GREY)
    fill_rect(c, LOGO_LEFT, LOGO_BOTTOM - 3, LOGO_RIGHT, LOGO_BOTTOM - 2, BLUE)
    fill_rect(c, LOGO_LEFT, LOGO_BOTTOM - 1, LOGO_RIGHT, LOGO_BOTTOM, SKY)
    for y in RULE_ROWS:
        hline(c, RULE_LEFT, RULE_RIGHT, y, RULE_GREY)
    return c


# --- File formats.

def row_stride(width, bits):
    return (width * bits + 31) // 32 * 4


def pack_row(row, bits):
    """Packs one row of palette indices (or mask bits) MSB first and pads it to 4 bytes."""
    out = bytearray(row_stride(len(row), bits))
    per_byte = 8 // bits
    for i, value in enumerate(row):
        out[i // per_byte] |= value << (8 - bits - (i % per_byte) * bits)
    return bytes(out)


def info_header(width, height, bits, image_size, ppm, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, ppm, ppm,
                       colours_used, colours_used)


def colour_table(palette, entries):
    padded = palette + [(0, 0, 0)] * (entries - len(palette))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in padded[:entries])


def bmp_bytes(canvas, palette):
    height, width = len(canvas), len(canvas[0])
    pixels = b"".join(pack_row(row, 8) for row in reversed(canvas))
    dib = (info_header(width, height, 8, len(pixels), 2834, len(palette))
           + colour_table(palette, len(palette)))
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(dib) + len(pixels), 0, 0, 14 + len(dib))
    return file_header + dib + pixels


def icon_image(emblem, bits):
    """One icon image: header (double height for colour plus mask), palette, colours, mask."""
    entries = 1 << bits
    colours = [[BLACK if v == CLEAR else v for v in row] for row in emblem]
    mask = [[1 if v == CLEAR else 0 for v in row] for row in emblem]
    xor = b"".join(pack_row(row, bits) for row in reversed(colours))
    and_ = b"".join(pack_row(row, 1) for row in reversed(mask))
    size = len(emblem)
    return (info_header(size, size * 2, bits, len(xor) + len(and_), 0, 0)
            + colour_table(PALETTE, entries) + xor + and_)


def ico_bytes(emblem):
    size = len(emblem)
    images = [(16, 4, icon_image(emblem, 4)), (0, 8, icon_image(emblem, 8))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for colour_count, bits, data in images:
        out += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: make_artwork.py OUTDIR")
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    emblem = draw_emblem()
    with open(os.path.join(out_dir, "about.bmp"), "wb") as f:
        f.write(bmp_bytes(draw_about(emblem), PALETTE))
    with open(os.path.join(out_dir, "plugin.ico"), "wb") as f:
        f.write(ico_bytes(emblem))


if __name__ == "__main__":
    main(sys.argv)
