#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

A red record dot in a light ring on a dark rounded square, at 32 x 32 and 16 x 16 pixels,
each with 256 colours (8 bits per pixel, its own palette) and a transparency mask.

    scripts/make-icon.py [OUTPUT]   (default: framework/win32/resources/Tarnwick.ico)

The output depends on nothing but this script: running it again gives the same bytes.
"""
import math
import os
import struct
import sys

SIZES = (32, 16)
SUPERSAMPLE = 4

BACK_TOP = (58, 64, 72)
BACK_BOTTOM = (30, 34, 40)
RING = (168, 176, 186)
DOT = (222, 44, 38)
DOT_LIGHT = (255, 130, 118)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def inside_rounded_square(x, y, margin, radius):
    lo, hi = margin, 1.0 - margin
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """The colour of the design at (x, y) in [0, 1]^2, or None outside the square."""
    if not inside_rounded_square(x, y, 0.03, 0.2):
        return None
    c = mix(BACK_TOP, BACK_BOTTOM, y)
    d = math.hypot(x - 0.5, y - 0.5)
    if abs(d - 0.36) <= 0.035:
        c = RING
    if d <= 0.27:
        # Lit from the upper left.
        light = max(0.0, 1.0 - math.hypot(x - 0.42, y - 0.40) / 0.22)
        c = mix(DOT, DOT_LIGHT, light * 0.8)
    return c


def render(n):
    """Rows top to bottom of (r, g, b) or None (transparent)."""
    rows = []
    step = 1.0 / (n * SUPERSAMPLE)
    for py in range(n):
        row = []
        for px in range(n):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = colour_at((px * SUPERSAMPLE + sx + 0.5) * step, (py * SUPERSAMPLE + sy + 0.5) * step)
                    if c is not None:
                        hits += 1
                        acc = [a + v for a, v in zip(acc, c)]
            if hits * 2 < SUPERSAMPLE * SUPERSAMPLE:
                row.append(None)
            else:
                row.append(tuple(int(round(a / hits)) for a in acc))
        rows.append(row)
    return rows


def palette_of(rows):
    """Up to 256 colours for the image (index 0 black, for the transparent pixels) and the
    index of each pixel."""
    for q in (1, 2, 4, 8, 16):
        quant = lambda c: tuple(min(255, (v + q // 2) // q * q) for v in c)
        colours = sorted({quant(c) for row in rows for c in row if c is not None})
        if len(colours) <= 255:
            break
    palette = [(0, 0, 0)] + colours
    index = {c: i + 1 for i, c in enumerate(colours)}
    pixels = [[0 if c is None else index[quant(c)] for c in row] for row in rows]
    return palette + [(0, 0, 0)] * (256 - len(palette)), pixels


def image_bytes(n):
    rows = render(n)
    palette, pixels = palette_of(rows)
    xor_stride = (n + 3) // 4 * 4
    and_stride = ((n + 7) // 8 + 3) // 4 * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(n - 1, -1, -1):  # bottom-up
        xor += bytes(pixels[y]) + bytes(xor_stride - n)
        bits = bytearray(and_stride)
        for x, c in enumerate(rows[y]):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 8, 0, len(xor) + len(mask), 0, 0, 0, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    return header + colours + bytes(xor) + bytes(mask)


def ico_bytes():
    images = [image_bytes(n) for n in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        # Width, height, colour count (0: 256), reserved, planes, bits per pixel, size, offset.
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'framework', 'win32', 'resources', 'Tarnwick.ico')
    with open(path, 'wb') as f:
        f.write(ico_bytes())
    print(path)


if __name__ == '__main__':
    main()
