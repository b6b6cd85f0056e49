#!/usr/bin/env python3
"""Writes quorel.ico: one 32 x 32 image in 16 colours (a disc with a green check mark).

Run it again after a change; its output is deterministic and checked in beside it.
"""
import math
import struct
import sys

SIZE = 32
# The standard 16-colour palette (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, GREY, SILVER, LIME, AQUA, WHITE = 0, 2, 8, 7, 10, 14, 15
CLEAR = None


def segment_distance(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def pixel(x, y):
    cx, cy = x + 0.5, y + 0.5
    # The check mark, over everything.
    d = min(segment_distance(cx, cy, (12.5, 20.5), (17.5, 26.5)),
            segment_distance(cx, cy, (17.5, 26.5), (29.5, 11.5)))
    if d < 1.6:
        return LIME
    if d < 2.8:
        return GREEN
    # The disc: a rim, a shiny surface with one aqua sheen, and the centre hole.
    r = math.hypot(cx - 14.5, cy - 14.5)
    if r > 13.5:
        return CLEAR
    if r > 12.5:
        return GREY
    if r < 2.5:
        return CLEAR
    if r < 3.5:
        return GREY
    if r < 5.5:
        return SILVER
    angle = math.atan2(cy - 14.5, cx - 14.5)
    if -2.6 < angle < -1.9:
        return AQUA
    if 0.5 < angle < 1.1:
        return WHITE
    return SILVER


def main(path):
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not CLEAR else BLACK
            lo = row[x + 1] if row[x + 1] is not CLEAR else BLACK
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is CLEAR else 0)
        mask += struct.pack('>I', bits)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0,
                         16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, 'wb') as out:
        out.write(directory + entry + image)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'quorel.ico')
