#!/usr/bin/env python3
"""Draws the launcher's pictures: the main screen's background, the four button icons and the
window icon, as 8-bit RGBA PNG files. Python 3 standard library only; the output is the same on
every run with the same options, so the committed PNG files can be checked against it.

Pictures written (resource number, file, size):
    102  background.png  1062 x 589  dusk sky, moon, mountain ranges, a castle; calm lower band
    103  community.png     32 x 32   chat bubble (community page button)
    104  settings.png     100 x 100  gear (settings panel button)
    106  icon.png          32 x 32   window icon: dusk emblem with the brand initial
    107  news.png          48 x 48   newspaper (news panel button)
    111  support.png       32 x 32   support agent with headset (support page button)

Usage:
    python3 resources/make_pictures.py [options]

Options (colours are six hexadecimal digits, RRGGBB):
    --out DIR            folder to write into (default: the folder of this script)
    --only NAME          draw one picture only: background, community, settings, icon, news, support
    --initial LETTER     brand initial on the window icon, A-Z (default: O)
    --title TEXT         word mark across the top of the background, A-Z and spaces; "" for none
                         (default: OSTREVAN)
    --accent RRGGBB      gold of the icons, the word mark and the castle windows (default: FFD24A)
    --sky-top RRGGBB     sky colour at the top of the background (default: 0A0C22)
    --sky-mid RRGGBB     sky colour half-way down (default: 2E2260)
    --horizon RRGGBB     glow of the dusk at the horizon (default: F09A5A)
    --mountain RRGGBB    colour of the nearest mountain range (default: 1C1230)
    --seed N             shape of the mountain ranges, clouds and star field (default: 7)

Rebranding: run the script with new options from the repository root, look at the PNG files,
commit them; the build embeds whatever PNG files lie in this folder.
"""

import argparse
import math
import os
import random
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


def icon_look(canvas, shape, details, accent, outline=0.045, shadow=True):
    """The common look of the launcher's icons: a soft shadow, a dark outline for contrast against
    the artwork, a gold body lit from above, and dark details on top."""
    light = mix(accent, (1.0, 1.0, 0.92), 0.45)
    deep = mix(accent, (0.75, 0.35, 0.0), 0.45)
    if shadow:
        canvas.paint(lambda u, v: shape(u - 0.02, v - 0.04) - outline, (0, 0, 0, 0.45), soften=2.5)
    canvas.paint(lambda u, v: shape(u, v) - outline, (0.10, 0.06, 0.02, 0.92))
    canvas.paint(shape, lambda u, v: (*gradient([(0.1, light), (0.55, accent), (0.95, deep)], v), 1.0))
    if details:
        canvas.paint(details, (0.16, 0.09, 0.03, 1.0))


def draw_community(accent):
    c = Canvas(32, 32)

    def bubble(u, v):
        body = sd_box(u, v, 0.09, 0.13, 0.91, 0.71, 0.2)
        tail = sd_polygon(u, v, [(0.24, 0.62), (0.46, 0.66), (0.17, 0.9)])
        return min(body, tail)

    def dots(u, v):
        return min(sd_circle(u, v, cx, 0.42, 0.072) for cx in (0.31, 0.5, 0.69))

    icon_look(c, bubble, dots, accent, outline=0.05)
    return c


def draw_settings(accent):
    c = Canvas(100, 100)
    teeth = 8

    def gear(u, v):
        x, y = u - 0.5, v - 0.5
        r = math.hypot(x, y)
        a = math.atan2(y, x)
        # Fold the angle into one tooth's sector and measure against an upright tooth there.
        sector = 2 * math.pi / teeth
        a = (a + sector / 2) % sector - sector / 2
        tx, ty = r * math.cos(a), r * math.sin(a)
        tooth = sd_box(tx, ty, 0.25, -0.075, 0.455, 0.075, 0.025)
        body = r - 0.335
        hole = 0.13 - r
        return max(min(body, tooth), hole)

    def ring(u, v):
        r = math.hypot(u - 0.5, v - 0.5)
        return abs(r - 0.24) - 0.018

    icon_look(c, gear, ring, accent, outline=0.03)
    return c


def draw_news(accent):
    c = Canvas(48, 48)

    def paper(u, v):
        sheet = sd_box(u, v, 0.2, 0.15, 0.91, 0.85, 0.06)
        roll = sd_box(u, v, 0.07, 0.33, 0.27, 0.85, 0.06)
        return min(sheet, roll)

    def print_(u, v):
        parts = [
            sd_box(u, v, 0.3, 0.24, 0.82, 0.35, 0.02),  # headline
            sd_box(u, v, 0.3, 0.43, 0.52, 0.61, 0.02),  # picture
            sd_box(u, v, 0.58, 0.44, 0.82, 0.48, 0.02),
            sd_box(u, v, 0.58, 0.55, 0.82, 0.59, 0.02),
            sd_box(u, v, 0.3, 0.67, 0.82, 0.71, 0.02),
            sd_box(u, v, 0.3, 0.76, 0.7, 0.8, 0.02),
            sd_box(u, v, 0.195, 0.33, 0.215, 0.85, 0.0),  # fold between roll and sheet
        ]
        return min(parts)

    icon_look(c, paper, print_, accent, outline=0.04)
    return c


def draw_support(accent):
    c = Canvas(32, 32)

    def person(u, v):
        head = sd_circle(u, v, 0.5, 0.4, 0.185)
        body = max(sd_box(u, v, 0.15, 0.7, 0.85, 1.2, 0.3), v - 0.95)
        return min(head, body)

    def headset(u, v):
        band = max(abs(sd_circle(u, v, 0.5, 0.4, 0.27)) - 0.035, v - 0.4)
        left = sd_box(u, v, 0.17, 0.32, 0.29, 0.53, 0.05)
        right = sd_box(u, v, 0.71, 0.32, 0.83, 0.53, 0.05)
        boom = sd_segment(u, v, 0.76, 0.5, 0.58, 0.64) - 0.032
        mic = sd_circle(u, v, 0.57, 0.64, 0.05)
        return min(band, left, right, boom, mic)

    # The headset is a second body in its own outline so that it reads apart from the head.
    icon_look(c, person, None, accent, outline=0.045)
    icon_look(c, headset, None, mix(accent, (1, 1, 1), 0.55), outline=0.04, shadow=False)
    return c


def draw_icon(accent, sky_top, sky_mid, horizon, mountain, initial):
    c = Canvas(32, 32)

    def tile(u, v):
        return sd_box(u, v, 0.03, 0.03, 0.97, 0.97, 0.2)

    def sky(u, v):
        col = gradient([(0.0, sky_top), (0.45, sky_mid), (0.8, mix(sky_mid, horizon, 0.7))], v)
        return (*col, 1.0)

    def hills(u, v):
        ridge = 0.74 - 0.12 * math.exp(-((u - 0.3) / 0.16) ** 2) - 0.08 * math.exp(-((u - 0.75) / 0.2) ** 2)
        return max(ridge - v, tile(u, v))

    letter = letter_segments(initial, 0.5 - 0.21, 0.2, 0.42, 0.5)
    if initial in ("I",):
        letter = letter_segments(initial, 0.29, 0.2, 0.42, 0.5)

    c.paint(tile, sky)
    c.paint(hills, (*mountain, 1.0))
    c.paint(lambda u, v: sd_strokes(u, v, letter, 0.085), (0.05, 0.03, 0.08, 0.7), soften=2.0)
    c.paint(lambda u, v: sd_strokes(u, v, letter, 0.05),
            lambda u, v: (*gradient([(0.2, mix(accent, (1, 1, 1), 0.45)), (0.7, accent)], v), 1.0))
    c.paint(lambda u, v: abs(tile(u, v) + 0.02) - 0.018, (*accent, 0.9))
    return c


# ---------------------------------------------------------------------------------------------
# Background


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


def draw_background(opts):
    W, H = 1062, 589
    rng = random.Random(opts.seed)
    img = Image(W, H)
    horizon_y = 0.66 * H
    dusk_x = 0.64 * W
    sky_top, sky_mid, glow = opts.sky_top, opts.sky_mid, opts.horizon
    sky_low = mix(mix(sky_mid, glow, 0.45), (0.55, 0.2, 0.35), 0.35)
    stops = [(0.0, sky_top), (0.42, sky_mid), (0.74, sky_low), (0.93, mix(glow, sky_low, 0.25)), (1.0, glow)]

    # Sky, warmer where the sun went down.
    for y in range(H):
        t = y / horizon_y
        base = gradient(stops, t)
        vert = math.exp(-(((y - horizon_y) / (0.3 * H)) ** 2))
        for x in range(W):
            i = y * W + x
            warm = vert * math.exp(-(((x - dusk_x) / (0.28 * W)) ** 2))
            img.r[i] = base[0] + glow[0] * 0.35 * warm
            img.g[i] = base[1] + glow[1] * 0.25 * warm
            img.b[i] = base[2] + glow[2] * 0.12 * warm

    # Stars, fading out towards the glow.
    for _ in range(340):
        sx, sy = rng.random() * W, (rng.random() ** 1.5) * horizon_y * 0.8
        strength = rng.random() ** 3 * (1 - sy / (horizon_y * 0.8)) ** 1.2
        radius = 0.6 + 1.1 * rng.random() ** 4
        tint = mix((1.0, 0.95, 0.85), (0.75, 0.85, 1.0), rng.random())
        for py in range(int(sy - 4), int(sy + 5)):
            for px in range(int(sx - 4), int(sx + 5)):
                if 0 <= px < W and 0 <= py < H:
                    d = math.hypot(px + 0.5 - sx, py + 0.5 - sy)
                    core = clamp(radius + 0.5 - d)
                    halo = math.exp(-d * d / (radius * 2.2)) * 0.35
                    img.add(py * W + px, tint, (core + halo) * strength * 0.95)

    # Moon with its halo.
    mx, my, mr = 0.3 * W, 0.25 * H, 40.0
    moon_light = (1.0, 0.95, 0.86)
    craters = [(rng.uniform(-0.6, 0.6), rng.uniform(-0.6, 0.6), rng.uniform(0.1, 0.28)) for _ in range(9)]
    for py in range(0, int(my + 260)):
        for px in range(max(0, int(mx - 300)), min(W, int(mx + 300))):
            d = math.hypot(px + 0.5 - mx, py + 0.5 - my)
            i = py * W + px
            if d > mr - 1:
                halo = 0.38 * math.exp(-(d - mr) / 22.0) + 0.16 * math.exp(-(d - mr) / 110.0)
                img.add(i, (0.95, 0.8, 0.78), halo)
            if d < mr + 1:
                nx, ny = (px + 0.5 - mx) / mr, (py + 0.5 - my) / mr
                limb = math.sqrt(max(0.0, 1 - min(1.0, nx * nx + ny * ny)))
                shade = 0.78 + 0.22 * limb
                for cx, cy, cr in craters:
                    cd = math.hypot(nx - cx, ny - cy)
                    shade -= 0.07 * smoothstep(cr, cr * 0.6, cd)
                # A cool shadow on the lower left gives the disc a little volume.
                shade -= 0.12 * smoothstep(-0.2, 1.0, -nx * 0.6 + ny * 0.8)
                img.over(i, tuple(c * shade for c in moon_light), clamp(mr + 0.5 - d))

    # Long thin clouds, lit from below by the dusk.
    cloud_noise = Noise2D(rng)
    for band_y, band_h, density, lit in ((0.2 * H, 34.0, 0.55, 0.25), (0.47 * H, 26.0, 0.7, 0.8)):
        for py in range(int(band_y - band_h * 2), int(band_y + band_h * 2)):
            fall = math.exp(-(((py - band_y) / band_h) ** 2))
            for px in range(W):
                n = cloud_noise.fbm(px / 140.0, py / 18.0, 4)
                a = clamp((n - (1 - density)) * 2.4) * fall
                if a <= 0.01:
                    continue
                warm = math.exp(-(((px - dusk_x) / (0.35 * W)) ** 2)) * lit
                colour = mix((0.16, 0.11, 0.26), mix(glow, (0.85, 0.45, 0.5), 0.4), warm)
                img.over(py * W + px, colour, a * 0.75)

    # Mountain ranges, far to near; haze between them gives depth.
    mountain = opts.mountain
    haze = mix(sky_low, glow, 0.35)
    layers = [
        # base, height, roughness scale, colour, rim light
        (0.64 * H, 0.2 * H, 190.0, mix(mountain, haze, 0.62), 0.18),
        (0.71 * H, 0.2 * H, 150.0, mix(mountain, haze, 0.38), 0.14),
        (0.78 * H, 0.22 * H, 120.0, mix(mountain, haze, 0.16), 0.1),
    ]
    ridges = []
    for number, (base, height, scale, colour, rim) in enumerate(layers):
        noise = Noise1D(rng)
        ridge = []
        for x in range(W):
            n = noise.fbm(x / scale + number * 40, 5, ridged=True)
            ridge.append(base - height * (n**1.7) * 1.25)
        if number == len(layers) - 1:
            # Level a shoulder of the nearest range for the castle to stand on.
            span = range(int(0.6 * W), int(0.8 * W))
            castle_x = min(span, key=lambda x: ridge[x])
            plateau = ridge[castle_x] + 0.05 * H
            for x in range(W):
                dx = max(0.0, abs(x - castle_x) - 44.0)
                rocks = 14.0 * noise.fbm(x / 22.0 + 300, 4, ridged=True) * min(1.0, dx / 30.0)
                ridge[x] = min(ridge[x], plateau + 0.06 * dx**1.5 - rocks)
        ridges.append(ridge)
        for x in range(W):
            top = ridge[x]
            for y in range(max(0, int(top) - 1), H):
                cover = clamp(y + 0.5 - top)
                depth = clamp((y - top) / (H - top))
                shade = mix(colour, mix(colour, (0, 0, 0), 0.35), depth)
                i = y * W + x
                img.over(i, shade, cover)
                if y - top < 2.5:
                    warm = math.exp(-(((x - dusk_x) / (0.3 * W)) ** 2))
                    img.add(i, glow, rim * (1 - clamp((y - top) / 2.5)) * (0.4 + warm) * cover)
        # Mist pooling in the valleys in front of this range.
        mist_top = base - height * 0.35
        for y in range(int(mist_top), min(H, int(base + 0.06 * H))):
            f = math.sin(math.pi * clamp((y - mist_top) / (base + 0.06 * H - mist_top))) * 0.22
            for x in range(W):
                m = f * (0.55 + 0.45 * cloud_noise(x / 90.0 + number * 9, y / 14.0))
                img.over(y * W + x, haze, m)

    # A castle on the nearest range, with lit windows.
    draw_castle(img, castle_x, plateau + 3, mix(layers[-1][3], (0, 0, 0), 0.1), opts.accent)

    # The calm foreground band where the status text goes.
    fore_top = 0.8 * H
    near = mix(mountain, (0, 0, 0), 0.55)
    low = Noise1D(rng)
    for x in range(W):
        top = fore_top - 10 * low.fbm(x / 160.0, 3) - 6 * math.sin(x / 230.0)
        for y in range(int(top) - 1, H):
            cover = clamp(y + 0.5 - top)
            t = clamp((y - top) / (H - top))
            img.over(y * W + x, mix(near, (0.02, 0.015, 0.04), t ** 0.7), cover)

    # Pines along the edge of the foreground, thicker towards the sides.
    for _ in range(150):
        x = rng.random() * W
        side = abs(x - W / 2) / (W / 2)
        if rng.random() > 0.2 + 0.8 * side:
            continue
        draw_pine(img, x, fore_top + 4 - 8 * rng.random(), 10 + 26 * rng.random() * (0.4 + side), near)

    # Word mark.
    if opts.title:
        draw_title(img, opts.title, opts.accent)

    # Vignette.
    for y in range(H):
        dy = (y - H * 0.45) / (H * 0.62)
        for x in range(W):
            dx = (x - W * 0.5) / (W * 0.56)
            k = 1 - 0.6 * clamp(dx * dx + dy * dy) ** 1.6
            i = y * W + x
            img.r[i] *= k
            img.g[i] *= k
            img.b[i] *= k
    return img


def draw_castle(img, cx, ground, colour, accent):
    W = img.width
    towers = [  # centre offset, half width, height, roof height
        (-34, 5, 34, 12), (-18, 7, 52, 16), (0, 9, 74, 22), (19, 6, 44, 14), (33, 5, 28, 10)
    ]
    shapes = [lambda x, y: sd_box(x, y, cx - 40, ground - 22, cx + 38, ground + 30)]
    for off, hw, h, roof in towers:
        tx = cx + off
        shapes.append(lambda x, y, tx=tx, hw=hw, h=h: sd_box(x, y, tx - hw, ground - h, tx + hw, ground + 30))
        shapes.append(lambda x, y, tx=tx, hw=hw, h=h, roof=roof: sd_polygon(
            x, y, [(tx - hw - 2, ground - h + 0.5), (tx, ground - h - roof), (tx + hw + 2, ground - h + 0.5)]))
    # Battlements along the wall.
    for k in range(-38, 38, 6):
        shapes.append(lambda x, y, k=k: sd_box(x, y, cx + k, ground - 26, cx + k + 3, ground - 21))
    windows = [(-18, 40), (0, 58), (0, 44), (19, 32), (-34, 22), (6, 14)]
    x0, x1 = int(cx - 50), int(cx + 50)
    y0, y1 = int(ground - 110), int(ground + 8)
    for py in range(y0, y1):
        for px in range(x0, x1):
            if not (0 <= px < W and 0 <= py < img.height):
                continue
            hits = 0
            for sy in range(3):
                for sx in range(3):
                    x, y = px + (sx + 0.5) / 3, py + (sy + 0.5) / 3
                    hits += any(s(x, y) < 0 for s in shapes)
            img.over(py * W + px, colour, hits / 9.0)
    for off, height in windows:
        wx, wy = cx + off, ground - height
        for py in range(int(wy - 8), int(wy + 9)):
            for px in range(int(wx - 8), int(wx + 9)):
                d = sd_box(px + 0.5, py + 0.5, wx - 1.0, wy - 2.0, wx + 1.0, wy + 2.0)
                i = py * W + px
                img.add(i, (1.0, 0.6, 0.2), 0.22 * math.exp(-max(d, 0) / 2.5))
                if d < 0.5:
                    img.over(i, mix(accent, (1.0, 0.75, 0.35), 0.5), clamp(0.5 - d))


def draw_pine(img, x, ground, height, colour):
    W, H = img.width, img.height
    width = height * 0.32
    tiers = [(0.0, 0.45), (0.25, 0.75), (0.5, 1.0)]
    pts = []
    for top, bottom in tiers:
        pts.append([(x, ground - height * (1 - top)),
                    (x - width * bottom, ground - height * (1 - bottom) + height * 0.08),
                    (x + width * bottom, ground - height * (1 - bottom) + height * 0.08)])
    for py in range(int(ground - height - 1), int(ground + 3)):
        for px in range(int(x - width - 2), int(x + width + 3)):
            if not (0 <= px < W and 0 <= py < H):
                continue
            hits = 0
            for sy in range(3):
                for sx in range(3):
                    sxp, syp = px + (sx + 0.5) / 3, py + (sy + 0.5) / 3
                    trunk = abs(sxp - x) < max(0.6, width * 0.08) and ground - height * 0.2 < syp < ground + 2
                    hits += trunk or any(sd_polygon(sxp, syp, t) < 0 for t in pts)
            img.over(py * W + px, colour, hits / 9.0)


def draw_title(img, title, accent):
    W = img.width
    height, spacing = 38.0, 20.0
    widths = [0.0 if ch == " " else 0.62 * height * LETTER_WIDTH.get(ch, 1.0) for ch in title]
    total = sum(widths) + spacing * (len(title) - 1) + sum(height * 0.5 for ch in title if ch == " ")
    x = (W - total) / 2
    top = 36.0
    segments = []
    for ch, w in zip(title, widths):
        if ch == " ":
            x += height * 0.5 + spacing
            continue
        if ch == "I":
            segments += letter_segments(ch, x - 0.5 * 0.62 * height, top, 0.62 * height, height, 0.3)
        else:
            segments += letter_segments(ch, x, top, w, height, 0.3)
        x += w + spacing
    light = mix(accent, (1, 1, 1), 0.5)
    deep = mix(accent, (0.8, 0.4, 0.05), 0.35)
    x0, x1 = int((W - total) / 2 - 12), int((W + total) / 2 + 12)
    for py in range(int(top - 14), int(top + height + 14)):
        for px in range(max(0, x0), min(W, x1)):
            x, y = px + 0.5, py + 0.5
            d = min(sd_segment(x, y, ax, ay, bx, by) for (ax, ay), (bx, by) in segments)
            i = py * W + px
            img.add(i, (1.0, 0.7, 0.3), 0.16 * math.exp(-d / 6.0))
            img.over(i, (0.03, 0.02, 0.05), 0.55 * clamp(4.4 - d))
            t = clamp((y - top) / height)
            img.over(i, gradient([(0.0, light), (0.6, accent), (1.0, deep)], t), clamp(2.9 - d))


# ---------------------------------------------------------------------------------------------


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Draw the launcher's pictures.")
    parser.add_argument("--out", default=here)
    parser.add_argument("--only", choices=["background", "community", "settings", "icon", "news", "support"])
    parser.add_argument("--initial", default="O")
    parser.add_argument("--title", default="OSTREVAN")
    parser.add_argument("--accent", type=hex_colour, default=hex_colour("FFD24A"))
    parser.add_argument("--sky-top", type=hex_colour, default=hex_colour("0A0C22"))
    parser.add_argument("--sky-mid", type=hex_colour, default=hex_colour("2E2260"))
    parser.add_argument("--horizon", type=hex_colour, default=hex_colour("F09A5A"))
    parser.add_argument("--mountain", type=hex_colour, default=hex_colour("1C1230"))
    parser.add_argument("--seed", type=int, default=7)
    opts = parser.parse_args()
    opts.initial = opts.initial.upper()[:1]
    opts.title = opts.title.upper()
    if opts.initial not in LETTERS:
        parser.error("--initial must be a letter A-Z")
    if any(ch != " " and ch not in LETTERS for ch in opts.title):
        parser.error("--title may hold only letters A-Z and spaces")

    pictures = {
        "community": lambda: draw_community(opts.accent),
        "settings": lambda: draw_settings(opts.accent),
        "news": lambda: draw_news(opts.accent),
        "support": lambda: draw_support(opts.accent),
        "icon": lambda: draw_icon(opts.accent, opts.sky_top, opts.sky_mid, opts.horizon, opts.mountain,
                                  opts.initial),
        "background": lambda: draw_background(opts),
    }
    os.makedirs(opts.out, exist_ok=True)
    for name, draw in pictures.items():
        if opts.only and name != opts.only:
            continue
        picture = draw()
        path = os.path.join(opts.out, name + ".png")
        write_png(path, picture.width, picture.height, picture.rows())
        print(f"{path}: {picture.width} x {picture.height}")


if __name__ == "__main__":
    main()
