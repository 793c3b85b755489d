#!/usr/bin/env python3
"""Draws the list-view marks of the picture view as PNG files (run once; the PNGs are committed).

MAIN_ACTION: the strip of nine 17 x 16 buttons separated by 1-pixel lines (9 x 18 + 1 by 18):
rotate counter-clockwise, rotate clockwise, half turn, mirror, private, deleted, album face,
categories, signature. The other five are the 17 x 17 state marks. Each shape is rendered at
4 x 4 sub-samples per pixel for smooth edges.
"""
import math, os, struct, zlib

SS = 4


class Canvas:
    def __init__(self, w, h, bg=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[list(bg) for _ in range(w)] for _ in range(h)]

    def blend(self, x, y, color, cover):
        if cover <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        a = color[3] / 255.0 * cover
        p = self.px[y][x]
        pa = p[3] / 255.0
        oa = a + pa * (1 - a)
        for i in range(3):
            p[i] = int(round((color[i] * a + p[i] * pa * (1 - a)) / oa)) if oa > 0 else 0
        p[3] = int(round(oa * 255))

    def shape(self, inside, color, box=None):
        """Fills every pixel by the share of its sub-samples for which inside(x, y) holds."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                n = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            n += 1
                self.blend(x, y, color, n / (SS * SS))

    def rect(self, x0, y0, x1, y1, color):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.blend(x, y, color, 1.0)

    def png(self, path):
        raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in self.px)
        def chunk(t, d):
            c = struct.pack(">I", len(d)) + t + d
            return c + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)
        data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(data)


# Shapes: functions of (x, y) in a coordinate frame centred on (cx, cy).
def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy or 1)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def line(ax, ay, bx, by, width):
    return lambda x, y: seg_dist(x, y, ax, ay, bx, by) <= width / 2


def polygon(points):
    def inside(x, y):
        c = False
        n = len(points)
        for i in range(n):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < (x2 - x1) * (y - y1) / (y2 - y1) + x1:
                c = not c
        return c
    return inside


def arc(cx, cy, r, width, a0, a1):
    """Arc from angle a0 to a1 (degrees, counter-clockwise on screen, 0 = right)."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > width / 2:
            return False
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        lo, hi = a0 % 360, a1 % 360
        return lo <= a <= hi if lo <= hi else a >= lo or a <= hi
    return inside


def arrow_head(tipx, tipy, angle, size):
    """Triangle whose tip points in the direction angle (degrees, screen y down)."""
    a = math.radians(angle)
    bx, by = tipx - size * math.cos(a), tipy - size * math.sin(a)
    nx, ny = -math.sin(a) * size * 0.6, math.cos(a) * size * 0.6
    return polygon([(tipx, tipy), (bx + nx, by + ny), (bx - nx, by - ny)])


def union(*fs):
    return lambda x, y: any(f(x, y) for f in fs)


def star(cx, cy, ro, ri):
    pts = []
    for i in range(10):
        r = ro if i % 2 == 0 else ri
        a = math.radians(-90 + i * 36)
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return polygon(pts)


def lock(cx, cy, s):
    body = polygon([(cx - 3.5 * s, cy - 0.5 * s), (cx + 3.5 * s, cy - 0.5 * s),
                    (cx + 3.5 * s, cy + 4.5 * s), (cx - 3.5 * s, cy + 4.5 * s)])
    shackle = union(arc(cx, cy - 2.5 * s, 2.2 * s, 1.4 * s, 0, 180),
                    line(cx - 2.2 * s, cy - 2.5 * s, cx - 2.2 * s, cy - 0.5 * s, 1.4 * s),
                    line(cx + 2.2 * s, cy - 2.5 * s, cx + 2.2 * s, cy - 0.5 * s, 1.4 * s))
    return union(body, shackle)


def cross(cx, cy, r, w):
    return union(line(cx - r, cy - r, cx + r, cy + r, w), line(cx - r, cy + r, cx + r, cy - r, w))


def tag(cx, cy, s):
    outer = polygon([(cx - 4.5 * s, cy - 4.5 * s), (cx + 0.5 * s, cy - 4.5 * s),
                     (cx + 5 * s, cy), (cx + 0.5 * s, cy + 4.5 * s), (cx - 4.5 * s, cy + 4.5 * s)])
    hole = lambda x, y: math.hypot(x - (cx - 2.2 * s), y - (cy - 2.2 * s)) < 1.1 * s
    return lambda x, y: outer(x, y) and not hole(x, y)


def pen(cx, cy, s):
    shaft = line(cx + 3.8 * s, cy - 3.8 * s, cx - 1.8 * s, cy + 1.8 * s, 2.6 * s)
    tip = polygon([(cx - 1.2 * s - 1.3 * s, cy + 1.2 * s - 1.3 * s),
                   (cx - 1.2 * s + 1.3 * s, cy + 1.2 * s + 1.3 * s), (cx - 4.5 * s, cy + 4.5 * s)])
    return union(shaft, tip)


def rotate_cw(cx, cy):
    return union(arc(cx, cy, 4.2, 1.6, 100, 360), arrow_head(cx - 0.2, cy - 4.2, 180, 3.6))


def rotate_ccw(cx, cy):
    return union(arc(cx, cy, 4.2, 1.6, 180, 80), arrow_head(cx + 0.2, cy - 4.2, 0, 3.6))


def rotate_half(cx, cy):
    return union(arc(cx, cy + 0.5, 4.0, 1.6, 0, 180), line(cx - 4, cy + 0.5, cx - 4, cy + 3, 1.6),
                 arrow_head(cx + 4, cy + 4.8, 90, 3.6))


def mirror(cx, cy):
    left = polygon([(cx - 1.3, cy - 4.5), (cx - 1.3, cy + 4.5), (cx - 6, cy + 4.5)])
    right = polygon([(cx + 1.3, cy - 4.5), (cx + 1.3, cy + 4.5), (cx + 6, cy + 4.5)])
    axis = lambda x, y: abs(x - cx) < 0.4 and int(y) % 2 == 0 and abs(y - cy) < 6
    return union(left, right, axis)


def category_lines(cx, cy):
    return union(*[line(cx - 4.5, cy + d, cx + 4.5, cy + d, 1.5) for d in (-3.5, 0, 3.5)])


here = os.path.dirname(os.path.abspath(__file__))
INK = (32, 32, 32, 255)
GLYPHS = [rotate_ccw, rotate_cw, rotate_half, mirror,
          lambda cx, cy: lock(cx, cy, 1.0),
          lambda cx, cy: cross(cx, cy, 3.8, 1.8),
          lambda cx, cy: star(cx, cy + 0.5, 5.6, 2.4),
          category_lines,
          lambda cx, cy: pen(cx, cy, 1.0)]

strip = Canvas(9 * 18 + 1, 18, (128, 128, 128, 255))
for i, g in enumerate(GLYPHS):
    x0 = i * 18 + 1
    strip.rect(x0, 1, x0 + 17, 17, (236, 236, 236, 255))
    strip.rect(x0, 1, x0 + 17, 2, (255, 255, 255, 255))
    strip.rect(x0, 1, x0 + 1, 17, (255, 255, 255, 255))
    strip.shape(g(x0 + 8.5, 9.0), INK, (x0, 1, x0 + 17, 17))
strip.png(os.path.join(here, "main_action.png"))

MARKS = {
    "main_delete": ((200, 30, 30, 255), lambda: cross(8.5, 8.5, 3.6, 2.0)),
    "main_private": ((214, 140, 0, 255), lambda: lock(8.5, 8.2, 1.0)),
    "main_category": ((30, 140, 60, 255), lambda: tag(8.5, 8.5, 0.95)),
    "main_sign": ((40, 80, 200, 255), lambda: pen(8.5, 8.5, 1.0)),
    "main_face": ((210, 0, 0, 255), lambda: star(8.5, 9.0, 6.0, 2.6)),
}
for name, (color, glyph) in MARKS.items():
    c = Canvas(17, 17)
    c.shape(lambda x, y: 0.5 <= x <= 16.5 and 0.5 <= y <= 16.5 and
            math.hypot(max(0, abs(x - 8.5) - 5), max(0, abs(y - 8.5) - 5)) <= 3, color)
    c.shape(glyph(), (255, 255, 255, 255))
    c.png(os.path.join(here, name + ".png"))
