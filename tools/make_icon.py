#!/usr/bin/env python3
"""Draws the project's icon, an envelope with a green tick, as quorvel.ico
with 16 x 16 and 32 x 32 images (32-bit colour with an AND mask)."""
import struct
import sys


def draw(size):
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    s = size / 16.0
    top, bottom, left, right = int(3 * s), int(12 * s), int(1 * s), int(14 * s)
    paper, edge, flap = (250, 246, 232, 255), (70, 80, 110, 255), (200, 196, 180, 255)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            border = y in (top, bottom) or x in (left, right)
            px[y][x] = edge if border else paper
    mid = (left + right) / 2.0
    depth = (bottom - top) * 0.55
    for x in range(left, right + 1):
        y = int(round(top + depth * (1 - abs(x - mid) / (mid - left))))
        for yy in range(top + 1, y):
            if px[yy][x] == paper:
                px[yy][x] = flap
        px[y][x] = edge
    green = (30, 150, 60, 255)
    tick = [(9, 11), (10, 12), (11, 13), (12, 12), (13, 11), (14, 10), (15, 9)]
    for tx, ty in tick:
        for dx in range(max(1, int(s))):
            for dy in range(int(2 * s)):
                x, y = int(tx * s) + dx - int(s), int(ty * s) + dy - int(2 * s) + 1
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = green
    return px


def image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(struct.pack("BBBB", b, g, r, a) for row in reversed(px) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(px):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + colour + mask


def main(path):
    images = [image(16), image(32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
