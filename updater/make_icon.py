#!/usr/bin/env python3
"""Draws an icon file (.ico) from a 16 x 16 character picture: one character a
pixel, '.' transparent, 'k' dark, 'b' blue, 'w' white; lines starting with '#'
are comments. The icon holds the picture at 16 x 16 and doubled to 32 x 32,
32-bit colour with alpha.

Usage: tools/make_icon.py PICTURE.txt OUT.ico
"""
import struct
import sys

COLOURS = {'.': (0, 0, 0, 0), 'k': (32, 32, 48, 255), 'b': (200, 110, 30, 255), 'w': (255, 255, 255, 255)}  # BGRA


def image(rows, scale):
    size = 16 * scale
    pixels = bytearray()
    for y in range(size - 1, -1, -1):  # bottom-up
        for x in range(size):
            pixels += bytes(COLOURS[rows[y // scale][x // scale]])
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # the alpha channel decides
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return size, header + pixels + mask


def main():
    rows = [line.rstrip('\n') for line in open(sys.argv[1]) if line.strip() and not line.startswith('#')]
    assert len(rows) == 16 and all(len(r) == 16 for r in rows), 'a 16 x 16 picture'
    images = [image(rows, 1), image(rows, 2)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    open(sys.argv[2], 'wb').write(out)


if __name__ == '__main__':
    main()
