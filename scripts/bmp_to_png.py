#!/usr/bin/env python3
"""Converts an uncompressed .bmp (1/4/8-bit paletted, 24-bit, or 32-bit) to an RGB PNG.

Usage: bmp_to_png.py IN.bmp OUT.png

Bottom-up and top-down bitmaps are both read; 32-bit pixels may be plain BI_RGB or BI_BITFIELDS
with 8-bit masks. The fourth byte of 32-bit pixels is ignored (screen grabs leave it zero)."""
import struct
import sys
import zlib

BI_RGB, BI_BITFIELDS = 0, 3


def mask_shift(mask):
    """The shift that brings an 8-bit-wide colour mask down to the lowest byte."""
    if mask == 0 or mask >> ((mask & -mask).bit_length() - 1) != 0xFF:
        raise ValueError("unsupported colour mask 0x%08x" % mask)
    return (mask & -mask).bit_length() - 1


def read_bmp(data):
    """Returns (width, height, rows) with rows top to bottom, each a bytes of R, G, B triples."""
    if data[:2] != b"BM":
        raise ValueError("not a .bmp file")
    pixel_offset, = struct.unpack_from("<I", data, 10)
    header_size, = struct.unpack_from("<I", data, 14)
    if header_size < 40:
        raise ValueError("unsupported header (%d bytes)" % header_size)
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    colours_used, = struct.unpack_from("<I", data, 46)
    top_down = height < 0
    height = abs(height)

    if compression == BI_BITFIELDS and bits == 32:
        # The masks follow a 40-byte header; larger headers carry them inside.
        masks = struct.unpack_from("<III", data, 54)
        shifts = [mask_shift(m) for m in masks]
    elif compression == BI_RGB and bits in (1, 4, 8, 24, 32):
        shifts = [16, 8, 0]
    else:
        raise ValueError("unsupported format: %d bits, compression %d" % (bits, compression))

    palette = []
    if bits <= 8:
        entries = colours_used or (1 << bits)
        start = 14 + header_size
        for i in range(entries):
            b, g, r, _ = struct.unpack_from("<BBBB", data, start + 4 * i)
            palette.append(bytes((r, g, b)))

    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height):
        start = pixel_offset + y * stride
        raw = data[start:start + stride]
        if len(raw) < stride:
            raise ValueError("pixel data is cut short")
        if bits == 24:
            row = bytearray(width * 3)
            row[0::3] = raw[2:width * 3:3]
            row[1::3] = raw[1:width * 3:3]
            row[2::3] = raw[0:width * 3:3]
        elif bits == 32:
            words = struct.unpack_from("<%dI" % width, raw)
            row = bytearray()
            for w in words:
                row += bytes((w >> s) & 0xFF for s in shifts)
        else:
            per_byte = 8 // bits
            low = (1 << bits) - 1
            row = bytearray()
            for x in range(width):
                index = (raw[x // per_byte] >> (8 - bits - (x % per_byte) * bits)) & low
                row += palette[index]
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    return width, height, rows


def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def png_bytes(width, height, rows):
    """An 8-bit RGB PNG of the rows (top to bottom), each row unfiltered."""
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"".join(b"\x00" + row for row in rows), 9)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels)
            + chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: bmp_to_png.py IN.bmp OUT.png")
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        width, height, rows = read_bmp(data)
    except (ValueError, struct.error) as e:
        sys.exit("bmp_to_png.py: %s: %s" % (argv[1], e))
    with open(argv[2], "wb") as f:
        f.write(png_bytes(width, height, rows))


if __name__ == "__main__":
    main(sys.argv)
