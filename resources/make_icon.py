#!/usr/bin/env python3
"""Draws the program's icon: a yellow box (the colours of the progress console)
holding a black "K", crossed out in red at the lower right. Writes
uninstKIVO.ico with 16x16, 32x32 and 48x48 images, 32-bit with alpha.

    python3 resources/make_icon.py resources/uninstKIVO.ico
"""
import struct
import sys

YELLOW = (0x80, 0xFF, 0xFF, 0xFF)  # BGRA
BLACK = (0x00, 0x00, 0x00, 0xFF)
RED = (0x40, 0x40, 0xFF, 0xFF)
EDGE = (0x00, 0x80, 0xA0, 0xFF)
CLEAR = (0, 0, 0, 0)


def draw(n):
    s = n / 32.0
    px = [[CLEAR] * n for _ in range(n)]

    def inside(x, y, x0, y0, x1, y1):
        return x0 * s <= x + 0.5 < x1 * s and y0 * s <= y + 0.5 < y1 * s

    for y in range(n):
        for x in range(n):
            if inside(x, y, 2, 2, 30, 30):
                px[y][x] = YELLOW
                if not inside(x, y, 3, 3, 29, 29):
                    px[y][x] = EDGE
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            # The K: a stem and two arms.
            if 8 <= fx < 12 and 7 <= fy < 25:
                px[y][x] = BLACK
            if 7 <= fy < 25 and abs((fx - 12) - abs(fy - 16) * 0.9) < 2.0 and fx >= 11:
                px[y][x] = BLACK
            # The red cross at the lower right.
            if 17 <= fx < 30 and 17 <= fy < 30 and (abs(fx - fy) < 1.8 or abs(fx + fy - 47) < 1.8):
                px[y][x] = RED
    return px


def image(n):
    px = draw(n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes(px[y][x]) for y in reversed(range(n)) for x in range(n))
    row = ((n + 31) // 32) * 4
    andmask = b""
    for y in reversed(range(n)):
        line = bytearray(row)
        for x in range(n):
            if px[y][x][3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        andmask += bytes(line)
    return header + xor + andmask


def main(path):
    sizes = [16, 32, 48]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "uninstKIVO.ico")
