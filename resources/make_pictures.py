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

The drawing code lives beside this script: raster.py (PNG output, shapes, noise) and
background.py (the background picture).

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
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from background import draw_background  # noqa: E402
from raster import (LETTERS, Canvas, gradient, hex_colour, letter_segments, mix, sd_box,  # noqa: E402
                    sd_circle, sd_polygon, sd_segment, sd_strokes, write_png)

# ---------------------------------------------------------------------------------------------
# Icons: shapes in units of the icon's size (0..1)


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
