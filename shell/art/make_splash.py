#!/usr/bin/env python3
"""Draws remover's splash picture: an 8-bit Windows bitmap with the product's name.

    python3 shell/art/make_splash.py OUT.bmp     (run by the build)

The scene is drawn at four times the size, box-filtered down (smooth edges) and reduced to 256
colours by median cut. Letters come from a 5 x 7 grid font drawn as round strokes between
neighbouring grid points. Only the standard library is used; the output is deterministic.
"""
import math
import struct
import sys

WIDTH, HEIGHT = 440, 240
SS = 4  # supersampling factor

FONT = {
    'P': ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    'D': ["###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."],
    'H': ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    'V': ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    'a': [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    'c': [".....", ".....", ".###.", "#....", "#....", "#...#", ".###."],
    'd': ["....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####"],
    'e': [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    'i': ["..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."],
    'l': [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    'm': [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    'n': [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
    'o': [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    'r': [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    's': [".....", ".....", ".####", "#....", ".###.", "....#", "####."],
    't': [".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."],
    'u': [".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"],
    'y': [".....", ".....", "#...#", "#...#", ".####", "....#", ".###."],
    'ó': ["...#.", "..#..", ".###.", "#...#", "#...#", "#...#", ".###."],
    'á': ["...#.", "..#..", ".###.", "....#", ".####", "#...#", ".####"],
    'ñ': [".#.#.", "#.#..", "#.##.", "##..#", "#...#", "#...#", "#...#"],
    '1': ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    '0': [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    '.': [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    '!': ["..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#.."],
    '¡': ["..#..", ".....", "..#..", "..#..", "..#..", "..#..", "..#.."],
    ' ': ["....."] * 7,
}


class Canvas:
    """RGB canvas at supersampled resolution; colours are (r, g, b) tuples of 0..255."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0, 0, 0)] * w for _ in range(h)]

    def blend(self, x, y, colour, alpha):
        if 0 <= x < self.w and 0 <= y < self.h:
            if alpha >= 1.0:
                self.px[y][x] = colour
            else:
                r, g, b = self.px[y][x]
                self.px[y][x] = (r + (colour[0] - r) * alpha,
                                 g + (colour[1] - g) * alpha,
                                 b + (colour[2] - b) * alpha)

    def fill(self, inside, box, colour, alpha=1.0):
        """Paints every pixel of box (x0, y0, x1, y1) whose centre satisfies inside(x, y)."""
        x0, y0, x1, y1 = (int(math.floor(v)) for v in box)
        for y in range(max(0, y0), min(self.h, y1 + 1)):
            for x in range(max(0, x0), min(self.w, x1 + 1)):
                if inside(x + 0.5, y + 0.5):
                    self.blend(x, y, colour, alpha)

    def vertical_gradient(self, top, bottom):
        for y in range(self.h):
            t = y / (self.h - 1)
            c = tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3))
            self.px[y] = [c] * self.w

    def disc(self, cx, cy, r, colour, alpha=1.0):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r,
                  (cx - r, cy - r, cx + r, cy + r), colour, alpha)

    def ring(self, cx, cy, rx, ry, width, colour, alpha=1.0):
        def inside(x, y):
            d = math.hypot((x - cx) / rx, (y - cy) / ry) if rx and ry else 9
            return abs(d - 1.0) * min(rx, ry) <= width / 2
        self.fill(inside, (cx - rx - width, cy - ry - width, cx + rx + width, cy + ry + width),
                  colour, alpha)

    def capsule(self, x0, y0, x1, y1, r, colour, alpha=1.0):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy

        def inside(x, y):
            t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            px, py = x0 + t * dx, y0 + t * dy
            return (x - px) ** 2 + (y - py) ** 2 <= r * r
        self.fill(inside, (min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r),
                  colour, alpha)

    def round_rect(self, x0, y0, x1, y1, radius, colour, alpha=1.0):
        def inside(x, y):
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
        self.fill(inside, (x0, y0, x1, y1), colour, alpha)

    def triangle(self, a, b, c, colour, alpha=1.0):
        def side(p, q, x, y):
            return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

        def inside(x, y):
            s1, s2, s3 = side(a, b, x, y), side(b, c, x, y), side(c, a, x, y)
            return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
        xs, ys = (a[0], b[0], c[0]), (a[1], b[1], c[1])
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), colour, alpha)


def glyph_strokes(ch):
    """Segments between the set points of a glyph: orthogonal neighbours always, diagonal ones
    only where no orthogonal path already turns the corner (keeps strokes thin)."""
    rows = FONT[ch]
    on = {(x, y) for y, row in enumerate(rows) for x, c in enumerate(row) if c == '#'}
    segs = []
    for (x, y) in sorted(on):
        segs.append(((x, y), (x, y)))
        for dx, dy in ((1, 0), (0, 1)):
            if (x + dx, y + dy) in on:
                segs.append(((x, y), (x + dx, y + dy)))
        for dx in (1, -1):
            if (x + dx, y + 1) in on and (x + dx, y) not in on and (x, y + 1) not in on:
                segs.append(((x, y), (x + dx, y + 1)))
    return segs


def text_width(text, scale):
    return len(text) * 6 * scale - scale


def draw_text(cv, text, x, y, scale, colour, weight=0.42, alpha=1.0):
    """Text with its top-left grid point at x, y (output pixels); one grid step is scale pixels."""
    s = scale * SS
    r = weight * s
    for i, ch in enumerate(text):
        ox = (x + i * 6 * scale) * SS + s / 2
        oy = y * SS + s / 2
        for (ax, ay), (bx, by) in glyph_strokes(ch):
            cv.capsule(ox + ax * s, oy + ay * s, ox + bx * s, oy + by * s, r, colour, alpha)


def draw_bubble(cv, x0, y0, x1, y1, tail, fill, shadow):
    S = SS
    cv.round_rect((x0 + 3) * S, (y0 + 3) * S, (x1 + 3) * S, (y1 + 3) * S, 9 * S, shadow, 0.35)
    cv.triangle(((tail[0][0] + 3) * S, (tail[0][1] + 3) * S),
                ((tail[1][0] + 3) * S, (tail[1][1] + 3) * S),
                ((tail[2][0] + 3) * S, (tail[2][1] + 3) * S), shadow, 0.35)
    cv.round_rect(x0 * S, y0 * S, x1 * S, y1 * S, 9 * S, fill)
    cv.triangle(*[(px * S, py * S) for px, py in tail], fill)


def draw_globe(cv, cx, cy, r):
    S = SS
    cv.disc((cx + 2) * S, (cy + 3) * S, r * S, (5, 20, 40), 0.35)
    cv.disc(cx * S, cy * S, r * S, (32, 120, 200))
    # land: a few soft blobs clipped to the sphere
    for bx, by, br in ((-12, -9, 6), (-9, -3, 5), (-6, 4, 4), (-5, 11, 3), (7, -12, 4),
                       (10, -6, 4), (9, 3, 6), (11, 10, 4)):
        px, py = cx + bx, cy + by

        def inside(x, y, px=px, py=py, br=br):
            return ((x - px * S) ** 2 + (y - py * S) ** 2 <= (br * S) ** 2 and
                    (x - cx * S) ** 2 + (y - cy * S) ** 2 <= (r * S - S) ** 2)
        cv.fill(inside, ((px - br) * S, (py - br) * S, (px + br) * S, (py + br) * S),
                (70, 170, 90))
    for k in (-2, -1, 0, 1, 2):  # parallels and meridians
        ry = r * math.cos(math.asin(k / 3.0))
        cv.ring(cx * S, (cy + k * r / 3.0) * S, ry * S, 0.12 * ry * S + 1, 0.9 * S,
                (230, 240, 255), 0.35)
        cv.ring(cx * S, cy * S, abs(k) * r / 3.0 * S + 1, r * S, 0.9 * S, (230, 240, 255), 0.35)
    cv.ring(cx * S, cy * S, r * S, r * S, 1.6 * S, (200, 230, 255), 0.9)
    cv.disc((cx - r * 0.35) * S, (cy - r * 0.4) * S, r * 0.28 * S, (255, 255, 255), 0.25)


def draw_scene():
    cv = Canvas(WIDTH * SS, HEIGHT * SS)
    cv.vertical_gradient((14, 30, 92), (20, 118, 140))
    S = SS
    # soft light circles behind everything
    for cx, cy, r, a in ((60, 40, 70, 0.10), (400, 210, 90, 0.08), (330, 30, 40, 0.10),
                         (150, 230, 50, 0.07)):
        cv.disc(cx * S, cy * S, r * S, (255, 255, 255), a)
    # a darker band behind the title
    cv.fill(lambda x, y: True, (0, 88 * S, WIDTH * S - 1, 150 * S), (6, 14, 50), 0.35)
    cv.fill(lambda x, y: True, (0, 88 * S, WIDTH * S - 1, 88 * S + S - 1), (120, 200, 255), 0.6)
    cv.fill(lambda x, y: True, (0, 150 * S, WIDTH * S - 1, 150 * S + S - 1), (120, 200, 255), 0.6)

    # speech bubbles: a greeting in two languages
    draw_bubble(cv, 250, 18, 330, 52, ((262, 50), (276, 50), (256, 66)), (255, 255, 255),
                (0, 0, 0))
    draw_text(cv, "¡Hola!", 259, 28, 2, (20, 50, 130))
    draw_bubble(cv, 342, 34, 420, 68, ((398, 66), (410, 66), (416, 82)), (255, 222, 90),
                (0, 0, 0))
    draw_text(cv, "Hello", 352, 44, 2, (120, 50, 10))

    draw_globe(cv, 58, 52, 30)

    # title with a drop shadow and a light rim
    title = "Parlomatic"
    scale = 6
    tx = (WIDTH - text_width(title, scale)) // 2
    ty = 97
    draw_text(cv, title, tx + 3, ty + 3, scale, (0, 0, 20), 0.46, 0.55)
    draw_text(cv, title, tx, ty, scale, (150, 210, 255), 0.50)
    draw_text(cv, title, tx, ty, scale, (255, 255, 255), 0.38)

    sub = "Desinstalación"
    tx = (WIDTH - text_width(sub, 3)) // 2
    draw_text(cv, sub, tx + 2, 166, 3, (0, 0, 20), 0.45, 0.5)
    draw_text(cv, sub, tx, 164, 3, (255, 214, 74), 0.45)

    ver = "Versión 1.0"
    tx = WIDTH - text_width(ver, 1) - 10
    draw_text(cv, ver, tx, HEIGHT - 16, 1, (200, 230, 240), 0.5)
    # thin frame just inside the edge
    for inset in (2,):
        i = inset * S
        cv.fill(lambda x, y: True, (i, i, WIDTH * S - i - 1, i + S - 1), (255, 255, 255), 0.25)
        cv.fill(lambda x, y: True, (i, HEIGHT * S - i - S, WIDTH * S - i - 1, HEIGHT * S - i - 1),
                (0, 0, 0), 0.3)
    return cv


def downsample(cv):
    out = []
    n = SS * SS
    for y in range(HEIGHT):
        rows = cv.px[y * SS:(y + 1) * SS]
        line = []
        for x in range(WIDTH):
            r = g = b = 0.0
            for row in rows:
                for c in row[x * SS:(x + 1) * SS]:
                    r += c[0]
                    g += c[1]
                    b += c[2]
            line.append((int(r / n + 0.5), int(g / n + 0.5), int(b / n + 0.5)))
        out.append(line)
    return out


def median_cut(colours, count):
    """colours: {rgb: pixel count}. Returns up to count representative colours."""
    boxes = [list(colours.items())]
    while len(boxes) < count:
        best, best_range, axis = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for a in range(3):
                vals = [c[0][a] for c in box]
                rng = max(vals) - min(vals)
                if rng > best_range:
                    best, best_range, axis = i, rng, a
        if best is None or best_range == 0:
            break
        box = sorted(boxes.pop(best), key=lambda c: c[0][axis])
        total = sum(w for _, w in box)
        acc, cut = 0, 1
        for k, (_, w) in enumerate(box):
            acc += w
            if acc >= total / 2:
                cut = max(1, min(len(box) - 1, k + 1))
                break
        boxes += [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(w for _, w in box)
        palette.append(tuple(int(sum(c[a] * w for c, w in box) / total + 0.5) for a in range(3)))
    return palette


def quantize(img):
    counts = {}
    for line in img:
        for c in line:
            counts[c] = counts.get(c, 0) + 1
    palette = median_cut(counts, 256)
    index = {}
    for c in counts:
        index[c] = min(range(len(palette)),
                       key=lambda i: sum((c[a] - palette[i][a]) ** 2 for a in range(3)))
    return palette, [[index[c] for c in line] for line in img]


def write_bmp(path, palette, rows):
    stride = (WIDTH + 3) & ~3
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    table += b'\0' * (1024 - len(table))
    pixels = b''.join(bytes(line) + b'\0' * (stride - WIDTH) for line in reversed(rows))
    offset = 14 + 40 + 1024
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + table + pixels)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_splash.py OUT.bmp")
    palette, rows = quantize(downsample(draw_scene()))
    write_bmp(sys.argv[1], palette, rows)


if __name__ == '__main__':
    main()
