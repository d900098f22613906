#!/usr/bin/env python3
"""Draws Tessel's main icon: a screen whose work area (light) holds a window
(orange) that an arrow has just pulled back inside. Writes src/resources/tessel.ico."""
import struct
import sys

SIZES = (16, 32, 48)
FRAME = (0x2B, 0x3A, 0x55, 255)
SCREEN = (0xDD, 0xEB, 0xF7, 255)
BAR = (0x5B, 0x6B, 0x85, 255)
WINDOW = (0xF2, 0x8C, 0x28, 255)
TITLE = (0xB8, 0x5A, 0x0C, 255)
ARROW = (0x1E, 0x8E, 0x3E, 255)
CLEAR = (0, 0, 0, 0)


def pixel(n, x, y):
    u, v = x / n, y / n  # 0..1, origin top-left
    if 0.44 <= u <= 0.56 and 0.80 <= v <= 0.88:
        return FRAME  # stand
    if 0.30 <= u <= 0.70 and 0.88 <= v <= 0.94:
        return FRAME
    if not (0.04 <= u <= 0.96 and 0.10 <= v <= 0.80):
        return CLEAR
    if not (0.10 <= u <= 0.90 and 0.16 <= v <= 0.74):
        return FRAME
    if v >= 0.66:
        return BAR  # the taskbar the work area leaves out
    if 0.40 <= u <= 0.84 and 0.26 <= v <= 0.60:
        return TITLE if v <= 0.34 else WINDOW
    # an arrow pointing left, into the screen
    if 0.16 <= u <= 0.36 and abs(v - 0.43) <= 0.035:
        return ARROW
    if 0.14 <= u <= 0.26 and abs(v - 0.43) <= (0.26 - u) * 1.0:
        return ARROW
    return SCREEN


def image(n):
    rows = []
    for y in reversed(range(n)):  # DIBs are stored bottom-up
        rows.append(b"".join(bytes((b, g, r, a)) for (r, g, b, a) in (pixel(n, x + 0.5, y + 0.5) for x in range(n))))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    and_mask = bytes(mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    images = [image(n) for n in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/resources/tessel.ico")
