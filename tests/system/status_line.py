"""The launcher's main screen as a player sees it: places on it, pictures of the window's client
area (kept in $LAUNCHER_SCREENSHOTS when set), waiting for a picture, whether START GAME is shown,
and reading the status line, for texts that only the screen shows. Positions are client pixels of
the 1140 x 670 window.

The status line is "STATUS:" in gold, then the status text in white, centred on the width of both
texts joined without a space. That width is what Dear ImGui measures: the sum of the glyphs'
advances at the text font's pixel height, each rounded to a whole pixel, without kerning. It is
computed here from the font file the launcher takes (fontconfig's match for "Arial:bold") and
compared with where ink lies on the screen, to two pixels at each end. So the check tells texts
apart by their width: a status whose width differs by more than about four pixels (two narrow
characters) fails it; two texts of the same width pass alike. No picture is compared byte for byte.
"""

import functools
import math
import os
import struct
import subprocess
import tempfile
import time

import harness

# Client-pixel places on the main screen (widget positions are 5 pixels right and below these).
START_BUTTON = (1005, 622)
START_BUTTON_AREA = (915, 605, 180, 35)
START_BUTTON_WHITE = 0.01  # share of near-white pixels in the area above which the button shows
NEWS_ICON = (25, 214)
SETTINGS_ICON = (25, 264)

TEXT_FONT_PIXELS = 14.0
# Client pixels of the status row (the window's contents sit 5 pixels up and left of its
# drawing positions: the line drawn at y = 570 has its ink between 566 and 580).
STATUS_ROWS = (563, 583)
STATUS_CENTRE = 565
ITEM_SPACING = 8
LABEL = "STATUS:"
VERSION_ROWS = (633, 653)
VERSION_LEFT = 25
VERSION_LABEL = "GAME VERSION:"


@functools.lru_cache(maxsize=None)
def text_font():
    result = subprocess.run(["fc-match", "-f", "%{file}", "Arial:bold"], capture_output=True, text=True,
                            timeout=10)
    return result.stdout.strip()


@functools.lru_cache(maxsize=None)
def _metrics(path):
    """(pixels per font unit, advance of each code point) from the font's hhea, hmtx and cmap."""
    with open(path, "rb") as f:
        data = f.read()
    tables = {}
    for index in range(struct.unpack(">H", data[4:6])[0]):
        tag, _, offset, _ = struct.unpack(">4sIII", data[12 + 16 * index:28 + 16 * index])
        tables[tag] = offset
    hhea = tables[b"hhea"]
    ascent, descent = struct.unpack(">hh", data[hhea + 4:hhea + 8])
    metric_count = struct.unpack(">H", data[hhea + 34:hhea + 36])[0]
    hmtx = tables[b"hmtx"]
    advances = [struct.unpack(">H", data[hmtx + 4 * i:hmtx + 4 * i + 2])[0] for i in range(metric_count)]

    cmap = tables[b"cmap"]
    glyph_of = {}
    for index in range(struct.unpack(">H", data[cmap + 2:cmap + 4])[0]):
        platform, encoding, offset = struct.unpack(">HHI", data[cmap + 4 + 8 * index:cmap + 12 + 8 * index])
        table = cmap + offset
        if (platform, encoding) != (3, 1) or struct.unpack(">H", data[table:table + 2])[0] != 4:
            continue
        segments = struct.unpack(">H", data[table + 6:table + 8])[0] // 2
        ends_at = table + 14
        starts_at = ends_at + 2 * segments + 2
        deltas_at = starts_at + 2 * segments
        ranges_at = deltas_at + 2 * segments
        for s in range(segments):
            end, start = (struct.unpack(">H", data[at + 2 * s:at + 2 * s + 2])[0] for at in (ends_at, starts_at))
            delta = struct.unpack(">h", data[deltas_at + 2 * s:deltas_at + 2 * s + 2])[0]
            range_offset = struct.unpack(">H", data[ranges_at + 2 * s:ranges_at + 2 * s + 2])[0]
            for code in range(start, min(end, 0x7E) + 1):
                if range_offset == 0:
                    glyph = (code + delta) & 0xFFFF
                else:
                    at = ranges_at + 2 * s + range_offset + 2 * (code - start)
                    glyph = struct.unpack(">H", data[at:at + 2])[0]
                    glyph = (glyph + delta) & 0xFFFF if glyph else 0
                glyph_of[code] = glyph
        break
    scale = TEXT_FONT_PIXELS / (ascent - descent)
    return scale, {code: advances[min(glyph, metric_count - 1)] for code, glyph in glyph_of.items()}


def text_width(text):
    """The width Dear ImGui gives `text` (printable ASCII) in the launcher's text font, whose
    glyph advances are snapped to whole pixels."""
    scale, advances = _metrics(text_font())
    return sum(math.floor(advances[ord(c)] * scale + 0.5) for c in text)


def expected_status_extent(status):
    """(left, right) client pixels of the status line showing `status`."""
    width = math.floor(text_width(LABEL + status) + 0.99999)
    left = STATUS_CENTRE - width / 2
    return left, left + width + ITEM_SPACING


def is_ink(pixel):
    """Gold or white text on the dark lower part of the background."""
    red, green, blue = pixel
    return min(pixel) > 140 or (red > 150 and green > 110 and red - blue > 90)


def ink_extent(picture, rows=STATUS_ROWS, left=150, right=900):
    """(first, last) x of text ink in the given rows, or None."""
    xs = [x for x in range(left, right)
          if any(is_ink(picture.pixel(x, y)) for y in range(rows[0], rows[1]))]
    return (xs[0], xs[-1]) if xs else None


def shows_status(picture, status, tolerance=2):
    """Whether the status line in `picture` spans where the line with `status` would."""
    found = ink_extent(picture)
    if found is None:
        return False
    left, right = expected_status_extent(status)
    # Ink starts a pixel or so right of the pen (left side bearing) and ends before the last
    # advance does (right side bearing).
    return abs(found[0] - (left + 0.5)) <= tolerance and abs(found[1] - (right - 2)) <= tolerance


def shows_version(picture, version, tolerance=2):
    """Whether the version line ("GAME VERSION:" in gold, then the version in white, from x = 25)
    ends where it would with `version`."""
    found = ink_extent(picture, VERSION_ROWS, 0, 400)
    if found is None:
        return False
    right = VERSION_LEFT + text_width(VERSION_LABEL)
    if version:
        right += ITEM_SPACING + text_width(version)
    return abs(found[0] - (VERSION_LEFT + 1)) <= tolerance and abs(found[1] - (right - 2)) <= tolerance


# ---------------------------------------------------------------------------------------------
# Pictures of the window

def client_picture(window):
    """The window's client area, cut from a picture of the whole screen (what a player sees); a
    window partly off the screen gives only its part on the screen."""
    x, y, width, height = harness.window_geometry(window)
    screen = harness.screenshot("root")
    left, top = max(x, 0), max(y, 0)
    right, bottom = min(x + width, screen.width), min(y + height, screen.height)
    return screen.crop(left, top, right - left, bottom - top)


def keep(picture, name):
    """Saves the picture as NAME.png in $LAUNCHER_SCREENSHOTS, when that is set."""
    folder = os.environ.get("LAUNCHER_SCREENSHOTS")
    if folder:
        os.makedirs(folder, exist_ok=True)
        picture.save_png(os.path.join(folder, name + ".png"))


def wait_for_picture(test, window, condition, what, timeout=20.0, name=None):
    """Takes pictures of the window until `condition(picture)` holds and returns that picture
    (kept as `name` when given). Otherwise fails `test` naming `what`, with the last picture saved
    in $LAUNCHER_SCREENSHOTS (or the temporary folder) as TEST_failed.png."""
    deadline = time.monotonic() + timeout
    while True:
        picture = client_picture(window)
        if condition(picture):
            if name:
                keep(picture, name)
            return picture
        if time.monotonic() > deadline:
            saved = os.path.join(os.environ.get("LAUNCHER_SCREENSHOTS") or tempfile.gettempdir(),
                                 "%s_failed.png" % test.id().split(".")[-1])
            os.makedirs(os.path.dirname(saved), exist_ok=True)
            picture.save_png(saved)
            test.fail("the window never showed %s (status line ink at %s; picture: %s)"
                      % (what, ink_extent(picture), saved))
        time.sleep(0.2)


def start_button_white(picture):
    """Share of the START GAME button's area that is near-white (its text)."""
    return picture.crop(*START_BUTTON_AREA).fraction_near((255, 255, 255), 40)


def start_button_shown(picture):
    return start_button_white(picture) > START_BUTTON_WHITE
