"""Raster helpers for make_pictures.py: PNG output, colour arithmetic, signed distances, a stroke
alphabet, an RGBA canvas for icons, value noise and an opaque RGB image for the background."""

import argparse
import math
import struct
import zlib

# ---------------------------------------------------------------------------------------------
# PNG output


def write_png(path, width, height, rgba_rows):
    """rgba_rows: one bytes object of width * 4 bytes per row."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    previous = bytes(width * 4)
    for row in rgba_rows:
        # Up filtering suits gradients; Sub suits flat icons. Take the smaller of the two per row.
        up = bytes((a - b) & 0xFF for a, b in zip(row, previous))
        sub = bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 0xFF for i in range(len(row)))
        cost_up = sum(v if v < 128 else 256 - v for v in up)
        cost_sub = sum(v if v < 128 else 256 - v for v in sub)
        if cost_up <= cost_sub:
            raw += b"\x02" + up
        else:
            raw += b"\x01" + sub
        previous = row
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------
# Small helpers


def hex_colour(text):
    text = text.lstrip("#")
    if len(text) != 6:
        raise argparse.ArgumentTypeError("colour must be RRGGBB")
    return tuple(int(text[i : i + 2], 16) / 255.0 for i in (0, 2, 4))


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def smoothstep(e0, e1, x):
    t = clamp((x - e0) / (e1 - e0))
    return t * t * (3 - 2 * t)


def gradient(stops, t):
    """stops: list of (position, colour) in increasing position."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0))
    return stops[-1][1]


BAYER4 = [0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5]


def to_byte(v, x, y):
    # Ordered dither against banding in the long sky gradients.
    d = (BAYER4[(y & 3) * 4 + (x & 3)] + 0.5) / 16.0 - 0.5
    return int(clamp(v) * 255.0 + 0.5 + d * 0.9)


# ---------------------------------------------------------------------------------------------
# Signed distances (negative inside), in the units of the caller


def sd_circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def sd_box(x, y, x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_segment(x, y, ax, ay, bx, by):
    px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
    length2 = dx * dx + dy * dy
    h = clamp((px * dx + py * dy) / length2) if length2 > 0 else 0.0
    return math.hypot(px - dx * h, py - dy * h)


def sd_polygon(x, y, pts):
    d = float("inf")
    inside = False
    n = len(pts)
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        d = min(d, sd_segment(x, y, ax, ay, bx, by))
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return -d if inside else d


def arc(cx, cy, rx, ry, a0, a1, steps=24):
    return [
        (cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
         cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps)))
        for i in range(steps + 1)
    ]


# A stroke alphabet for the brand initial and the word mark: polylines in a box 1 wide, 1 high,
# y downwards.
LETTERS = {
    "A": [[(0, 1), (0.5, 0), (1, 1)], [(0.22, 0.64), (0.78, 0.64)]],
    "B": [[(0, 0), (0, 1)], [(0, 0)] + arc(0.52, 0.25, 0.4, 0.25, -90, 90) + [(0, 0.5)],
          [(0, 0.5)] + arc(0.55, 0.75, 0.45, 0.25, -90, 90) + [(0, 1)]],
    "C": [arc(0.55, 0.5, 0.55, 0.5, -40, -320)],
    "D": [[(0, 0), (0, 1)], [(0, 0), (0.4, 0)] + arc(0.4, 0.5, 0.6, 0.5, -90, 90) + [(0, 1)]],
    "E": [[(0.95, 0), (0, 0), (0, 1), (0.95, 1)], [(0, 0.5), (0.75, 0.5)]],
    "F": [[(0.95, 0), (0, 0), (0, 1)], [(0, 0.5), (0.75, 0.5)]],
    "G": [arc(0.55, 0.5, 0.55, 0.5, -40, -340) + [(1.0, 0.55), (0.6, 0.55)]],
    "H": [[(0, 0), (0, 1)], [(1, 0), (1, 1)], [(0, 0.5), (1, 0.5)]],
    "I": [[(0.5, 0), (0.5, 1)]],
    "J": [[(1, 0), (1, 0.68)] + arc(0.5, 0.68, 0.5, 0.32, 0, 180)],
    "K": [[(0, 0), (0, 1)], [(1, 0), (0, 0.62)], [(0.32, 0.42), (1, 1)]],
    "L": [[(0, 0), (0, 1), (0.9, 1)]],
    "M": [[(0, 1), (0, 0), (0.5, 0.62), (1, 0), (1, 1)]],
    "N": [[(0, 1), (0, 0), (1, 1), (1, 0)]],
    "O": [arc(0.5, 0.5, 0.5, 0.5, 0, 360, 48)],
    "P": [[(0, 1), (0, 0), (0.55, 0)] + arc(0.55, 0.27, 0.45, 0.27, -90, 90) + [(0, 0.54)]],
    "Q": [arc(0.5, 0.5, 0.5, 0.5, 0, 360, 48), [(0.62, 0.7), (1.02, 1.06)]],
    "R": [[(0, 1), (0, 0), (0.55, 0)] + arc(0.55, 0.27, 0.45, 0.27, -90, 90) + [(0, 0.54)],
          [(0.45, 0.54), (1, 1)]],
    "S": [arc(0.5, 0.255, 0.46, 0.245, -25, -270) + arc(0.5, 0.745, 0.5, 0.245, -90, 155)],
    "T": [[(0, 0), (1, 0)], [(0.5, 0), (0.5, 1)]],
    "U": [[(0, 0), (0, 0.62)] + arc(0.5, 0.62, 0.5, 0.38, 180, 0) + [(1, 0)]],
    "V": [[(0, 0), (0.5, 1), (1, 0)]],
    "W": [[(0, 0), (0.25, 1), (0.5, 0.38), (0.75, 1), (1, 0)]],
    "X": [[(0, 0), (1, 1)], [(1, 0), (0, 1)]],
    "Y": [[(0, 0), (0.5, 0.5), (1, 0)], [(0.5, 0.5), (0.5, 1)]],
    "Z": [[(0, 0), (1, 0), (0, 1), (1, 1)]],
}
LETTER_WIDTH = {"I": 0.0, "M": 1.1, "W": 1.3, "O": 1.3, "Q": 1.3}


def letter_segments(letter, x0, y0, width, height, serif=0.0):
    """serif: length of the small bars put across stroke ends on the letter's top and bottom line,
    in units of the letter's height."""
    segments = []
    for stroke in LETTERS.get(letter, LETTERS["O"]):
        pts = [(x0 + px * width, y0 + py * height) for px, py in stroke]
        segments += list(zip(pts, pts[1:]))
        if serif > 0:
            for (px, py), (qx, qy) in ((stroke[0], stroke[1]), (stroke[-1], stroke[-2])):
                if py in (0, 1) and px == qx or (py in (0, 1) and abs(qy - py) > 0.3):
                    sx, sy = x0 + px * width, y0 + py * height
                    half = serif * height / 2
                    segments.append(((sx - half, sy), (sx + half, sy)))
    return segments


def sd_strokes(x, y, segments, half_width):
    return min(sd_segment(x, y, ax, ay, bx, by) for (ax, ay), (bx, by) in segments) - half_width


# ---------------------------------------------------------------------------------------------
# Icons: a canvas of straight RGBA floats; shapes in units of the icon's size (0..1)


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def paint(self, sdf, colour, soften=1.0, box=(0.0, 0.0, 1.0, 1.0)):
        """Source-over fill of sdf < 0; colour is (r, g, b, a) or a function of (u, v).
        Four by four samples per pixel smooth the edges and the sharp corners."""
        size = float(self.width)
        x_lo, x_hi = int(box[0] * self.width), int(math.ceil(box[2] * self.width))
        y_lo, y_hi = int(box[1] * self.height), int(math.ceil(box[3] * self.height))
        for py in range(max(0, y_lo), min(self.height, y_hi)):
            for px in range(max(0, x_lo), min(self.width, x_hi)):
                u, v = (px + 0.5) / size, (py + 0.5) / size
                d = sdf(u, v) * size
                if d > 1.5 * soften:
                    continue
                if d < -1.5 * soften:
                    cover = 1.0
                elif soften > 1.0:
                    cover = clamp(0.5 - d / soften)
                else:
                    hits = 0
                    for sy in range(4):
                        for sx in range(4):
                            su = (px + (sx + 0.5) / 4) / size
                            sv = (py + (sy + 0.5) / 4) / size
                            hits += sdf(su, sv) < 0
                    cover = hits / 16.0
                if cover <= 0:
                    continue
                c = colour(u, v) if callable(colour) else colour
                self.blend(px, py, c[:3], c[3] * cover)

    def blend(self, x, y, rgb, alpha):
        p = self.px[y * self.width + x]
        out_a = alpha + p[3] * (1 - alpha)
        if out_a <= 0:
            return
        for i in range(3):
            p[i] = (rgb[i] * alpha + p[i] * p[3] * (1 - alpha)) / out_a
        p[3] = out_a

    def rows(self):
        for y in range(self.height):
            row = bytearray()
            for x in range(self.width):
                r, g, b, a = self.px[y * self.width + x]
                if a < 1.0 / 255:
                    row += b"\0\0\0\0"
                else:
                    row += bytes(int(clamp(c) * 255 + 0.5) for c in (r, g, b, a))
            yield bytes(row)


# ---------------------------------------------------------------------------------------------


class Noise1D:
    def __init__(self, rng, count=512):
        self.values = [rng.random() for _ in range(count)]

    def __call__(self, x):
        i = math.floor(x)
        f = x - i
        f = f * f * (3 - 2 * f)
        n = len(self.values)
        return self.values[i % n] * (1 - f) + self.values[(i + 1) % n] * f

    def fbm(self, x, octaves, ridged=False):
        total, amplitude, norm = 0.0, 1.0, 0.0
        for o in range(octaves):
            n = self(x * (2.0**o) + o * 17.3)
            if ridged:
                n = 1.0 - abs(2.0 * n - 1.0)
            total += n * amplitude
            norm += amplitude
            amplitude *= 0.5
        return total / norm


class Noise2D:
    def __init__(self, rng, size=64):
        self.size = size
        self.values = [rng.random() for _ in range(size * size)]

    def __call__(self, x, y):
        ix, iy = math.floor(x), math.floor(y)
        fx, fy = x - ix, y - iy
        fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
        s = self.size
        v = self.values
        a = v[(iy % s) * s + ix % s]
        b = v[(iy % s) * s + (ix + 1) % s]
        c = v[((iy + 1) % s) * s + ix % s]
        d = v[((iy + 1) % s) * s + (ix + 1) % s]
        return (a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy

    def fbm(self, x, y, octaves):
        total, amplitude, norm = 0.0, 1.0, 0.0
        for o in range(octaves):
            total += self(x * (2.0**o) + o * 5.1, y * (2.0**o) - o * 3.7) * amplitude
            norm += amplitude
            amplitude *= 0.5
        return total / norm


class Image:
    """Straight RGB floats, opaque."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.r = [0.0] * (width * height)
        self.g = [0.0] * (width * height)
        self.b = [0.0] * (width * height)

    def over(self, i, rgb, alpha):
        if alpha <= 0:
            return
        if alpha >= 1:
            self.r[i], self.g[i], self.b[i] = rgb
            return
        k = 1 - alpha
        self.r[i] = self.r[i] * k + rgb[0] * alpha
        self.g[i] = self.g[i] * k + rgb[1] * alpha
        self.b[i] = self.b[i] * k + rgb[2] * alpha

    def add(self, i, rgb, amount):
        self.r[i] += rgb[0] * amount
        self.g[i] += rgb[1] * amount
        self.b[i] += rgb[2] * amount

    def rows(self):
        w = self.width
        for y in range(self.height):
            row = bytearray(w * 4)
            base = y * w
            for x in range(w):
                i = base + x
                row[x * 4] = to_byte(self.r[i], x, y)
                row[x * 4 + 1] = to_byte(self.g[i], x + 1, y + 2)
                row[x * 4 + 2] = to_byte(self.b[i], x + 2, y + 1)
                row[x * 4 + 3] = 255
            yield bytes(row)
