#!/usr/bin/env python3
"""Writes the default pictures of the wizard as 24-bit BMP files.

usage: pictures.py OUT_DIR

frame.bmp       128 x 256, shown at the left of the wizard frame: a deep
                blue-to-teal wash with soft diagonal light bands and a
                small stack of "files" with an arrow, drawn from simple
                shapes.
background.bmp  64 x 64 tile for the full-screen backdrop: a quiet blue
                weave that repeats without seams.
"""
import math
import os
import struct
import sys


def write_bmp(path, width, height, pixel):
    """pixel(x, y) -> (r, g, b) with y = 0 at the top."""
    row_bytes = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(row_bytes - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def clamp(v):
    return max(0, min(255, int(round(v))))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def frame_pixel(x, y):
    w, h = 128, 256
    top, bottom = (18, 52, 120), (20, 130, 150)
    c = mix(top, bottom, y / (h - 1))
    band = 0.5 + 0.5 * math.sin((x + y) / 18.0)
    c = mix(c, (255, 255, 255), 0.06 * band)
    # three sheets of paper, offset, with a shadow
    for i, (ox, oy) in enumerate(((34, 150), (42, 140), (50, 130))):
        if ox + 3 <= x < ox + 43 and oy + 3 <= y < oy + 55:
            c = mix(c, (0, 0, 0), 0.25)
        if ox <= x < ox + 40 and oy <= y < oy + 52:
            c = (236 - 8 * (2 - i), 240 - 8 * (2 - i), 246)
            if i == 2 and (y - oy) % 8 == 6 and 6 <= x - ox < 34 and y - oy > 10:
                c = (150, 170, 200)
    # an arrow pointing down onto the sheets
    cx = 70
    if 70 <= y < 100 and abs(x - cx) <= 5:
        c = (255, 200, 60)
    if 100 <= y < 116 and abs(x - cx) <= 15 - (y - 100):
        c = (255, 200, 60)
    return tuple(clamp(v) for v in c)


def background_pixel(x, y):
    t = 2 * math.pi / 64
    v = 0.5 + 0.25 * math.sin(x * t * 2) * math.cos(y * t) + 0.25 * math.sin((x + y) * t)
    return (clamp(10 + 20 * v), clamp(40 + 40 * v), clamp(110 + 70 * v))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "frame.bmp"), 128, 256, frame_pixel)
    write_bmp(os.path.join(out, "background.bmp"), 64, 64, background_pixel)


if __name__ == "__main__":
    main()
