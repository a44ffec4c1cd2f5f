#!/usr/bin/env python3
"""Converts a .bmp (such as the bundled host's picture of a dialog) to an RGB PNG.

Usage: bmp_to_png.py IN.bmp OUT.png

Needs Pillow (Debian: python3-pil). The fourth byte of 32-bit pixels is not read as alpha:
screen grabs leave it zero."""
import sys

from PIL import Image, UnidentifiedImageError


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: bmp_to_png.py IN.bmp OUT.png")
    try:
        with Image.open(argv[1], formats=["BMP"]) as picture:
            picture.convert("RGB").save(argv[2], "PNG", optimize=True)
    except (OSError, UnidentifiedImageError) as e:
        sys.exit("bmp_to_png.py: %s: %s" % (argv[1], e))


if __name__ == "__main__":
    main(sys.argv)
