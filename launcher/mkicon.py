#!/usr/bin/env python3
"""Draws instalar's icon (a disc with an arrow) in three sizes and writes them as one .ico file.

Images are 4 bits per pixel with the standard 16-colour palette, which every Windows version
since 3.1 can show.
"""
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREY, SILVER, WHITE, BLUE, CYAN, GREEN, DARK_GREEN = 0, 8, 7, 15, 4, 14, 10, 2
TRANSPARENT = None


def draw(size):
    """Returns rows (top first) of palette indices or TRANSPARENT."""
    c = (size - 1) / 2.0
    outer, hole = size * 0.47, size * 0.12
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            if d > outer or d < hole:
                px = TRANSPARENT
            elif d > outer - max(1.0, size / 24.0) or d < hole + max(1.0, size / 24.0):
                px = DARK_GREY
            elif (x - c) + (y - c) < -size * 0.18:
                px = WHITE
            elif d < size * 0.22:
                px = SILVER
            else:
                px = CYAN if (x + y) % 7 else SILVER
            row.append(px)
        rows.append(row)
    # An arrow pointing into the lower right, drawn over the disc: "start here".
    s = size / 32.0
    for y in range(size):
        for x in range(size):
            u, v = (x - size * 0.55) / s, (y - size * 0.55) / s
            shaft = 0 <= u <= 7 and -2 <= v <= 2
            head = 7 <= u <= 12 and abs(v) <= 12 - u
            if shaft or head:
                edge = not (0.9 <= u <= 6.1 and -1.1 <= v <= 1.1) and not (
                    7.9 <= u <= 11.0 and abs(v) <= 11 - u - 0.5)
                rows[y][x] = DARK_GREEN if edge else GREEN
    return rows


def image(size):
    rows = draw(size)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, px in enumerate(row):
            value = BLACK if px is TRANSPARENT else px
            line[x // 2] |= value << (4 if x % 2 == 0 else 0)
            if px is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def main(path):
    sizes = (32, 16, 48)
    images = [image(n) for n in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
