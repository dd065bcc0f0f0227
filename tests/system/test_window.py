"""The launcher's window on a real X server: where it sits, what the main screen shows in each
phase, the progress bar, clicks on its buttons and panels, and the ways the window ends.

Pixels are probed with tolerances, never compared byte for byte; positions are client pixels of
the 1140 x 670 window. Screenshots of failed checks are kept in $LAUNCHER_SCREENSHOTS when set
(otherwise in the temporary folder).
"""

import configparser
import contextlib
import ctypes
import math
import os
import subprocess
import threading
import time
import unittest
import zipfile

import harness
from harness import READY_SCRIPT, LauncherTestCase, wait_until
from status_line import (NEWS_ICON, SETTINGS_ICON, START_BUTTON, START_BUTTON_AREA, START_BUTTON_WHITE,
                         STATUS_CENTRE, client_picture, ink_extent, keep, start_button_shown, start_button_white,
                         text_width, wait_for_picture)

TITLE = harness.BRAND_NAME
LIMIT = 20.0

# Client-pixel places on the main screen (widget positions are 5 pixels right and below these).
PROGRESS_Y = 620
PROGRESS_LEFT, PROGRESS_RIGHT = 270, 870
CLOSE_BUTTON = (1105, 25)
PANEL_AREA = (895, 55, 230, 480)
# The line under the bar: bytes, speed, time left; centred like the status line.
DOWNLOAD_LINE_ROWS = (628, 648)


# ---------------------------------------------------------------------------------------------
# Screen helpers (the main screen's shared ones are in status_line.py)

def is_green(pixel):
    red, green, blue = pixel
    return green > 200 and red < 80 and blue < 80


def green_run(picture):
    """Where the progress fill lies on its line: (first, last) green x, or None."""
    xs = [x for x in range(PROGRESS_LEFT - 20, PROGRESS_RIGHT + 20) if is_green(picture.pixel(x, PROGRESS_Y))]
    return (xs[0], xs[-1]) if xs else None


def download_line_extent(picture):
    return ink_extent(picture, DOWNLOAD_LINE_ROWS, 250, 900)


def expected_download_line_extent(line):
    """(first, last) x of ink of the line under the bar showing `line`."""
    width = text_width(line)
    left = math.floor(STATUS_CENTRE + 5 - width / 2) - 5
    return left + 1, left + width - 2


def gold_tinted_top_edge(picture):
    """The half-transparent gold outline leaves its top row clearly redder than blue."""
    red, _, blue = picture.crop(20, 0, 1100, 1).mean_color()
    return red - blue > 60


def area(picture, box):
    return picture.crop(*box)


def send_close_request(window):
    """What a window manager sends for the close command: WM_PROTOCOLS / WM_DELETE_WINDOW."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                    ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = x11.XOpenDisplay(None)
    if not display:
        raise RuntimeError("cannot open the X display")
    try:
        event = Event()
        event.client.type = 33  # ClientMessage
        event.client.window = window
        event.client.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.client.format = 32
        event.client.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


@contextlib.contextmanager
def screen_of_size(width, height):
    """An X server of its own with one screen of the given size, as $DISPLAY for the block."""
    for number in range(160, 220):
        if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        display = ":%d" % number
        server = subprocess.Popen(["Xvfb", display, "-screen", "0", "%dx%dx24" % (width, height),
                                   "-nolisten", "tcp", "-noreset"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, start_new_session=True,
                                  preexec_fn=harness._die_with_parent)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and server.poll() is None:
            if os.path.exists("/tmp/.X11-unix/X%d" % number) and harness._display_answers(display):
                break
            time.sleep(0.1)
        if server.poll() is not None or not harness._display_answers(display):
            harness._stop_process(server)
            continue
        previous = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = display
        try:
            yield display
        finally:
            if previous is None:
                del os.environ["DISPLAY"]
            else:
                os.environ["DISPLAY"] = previous
            harness._stop_process(server)
        return
    raise RuntimeError("no free X display number from :160 to :219")


class WindowTestCase(LauncherTestCase):
    def open_window(self, script=None, extra_env=None):
        """Starts the server and the launcher; returns (server, launcher, window id)."""
        server = self.start_server(script or READY_SCRIPT)
        launcher = self.start_launcher(extra_env)
        window = harness.wait_for_window(TITLE, timeout=LIMIT)
        launcher.wait_for_first_frame(LIMIT)
        return server, launcher, window

    def open_ready_window(self):
        server, launcher, window = self.open_window()
        wait_for_picture(self, window, start_button_shown, "the START GAME button")
        return server, launcher, window

    def click(self, window, point):
        harness.click(window, *point)


# ---------------------------------------------------------------------------------------------

class WindowPlacement(WindowTestCase):
    def check_placement(self, width, height, expected):
        with screen_of_size(width, height):
            _, launcher, window = self.open_window()
            self.assertEqual(harness.window_geometry(window), expected + (1140, 670))
            picture = wait_for_picture(self, window, gold_tinted_top_edge, "the gold outline along the top")
            self.assertEqual((picture.width, picture.height), (1140, 670))
            launcher.kill()

    def test_centred_on_a_1920x1080_screen(self):
        self.check_placement(1920, 1080, (390, 205))

    def test_centred_on_a_1366x768_screen_with_the_width_halved_first(self):
        self.check_placement(1366, 768, (113, 49))


class PhasesOnScreen(WindowTestCase):
    def test_start_button_and_panels_only_once_ready(self):
        gate = threading.Event()
        script = {"on_hello": [{"send": "accept", "text": "true"},
                               {"send": "news", "items": ["Same text", "Same text"]},
                               lambda connection: gate.wait(LIMIT),
                               {"send": "patch", "versions": []}],
                  "on_integrity_request": [{"send": "integrity", "entries": [], "skipped": ""}]}
        _, launcher, window = self.open_window(script)
        time.sleep(0.5)
        waiting = client_picture(window)
        # Before the ready phase the icons do nothing and no panel opens.
        self.click(window, NEWS_ICON)
        time.sleep(0.5)
        still_waiting = client_picture(window)
        self.assertLess(area(still_waiting, PANEL_AREA).difference(area(waiting, PANEL_AREA)), 0.01)
        gate.set()

        ready = wait_for_picture(self, window, lambda p: area(p, START_BUTTON_AREA).difference(
            area(waiting, START_BUTTON_AREA)) > 0.3, "the START GAME button after the ready phase")
        keep(ready, "ready")
        self.assertLess(area(ready, PANEL_AREA).difference(area(waiting, PANEL_AREA)), 0.05,
                        "a panel shows before any icon was clicked")

        self.click(window, NEWS_ICON)
        news = wait_for_picture(self, window, lambda p: area(p, PANEL_AREA).difference(area(ready, PANEL_AREA)) > 0.1,
                                "the news panel")
        keep(news, "news")
        # Two news items with the same text are two boxes: the second box's text row is drawn.
        self.click(window, SETTINGS_ICON)
        settings = wait_for_picture(self, window, lambda p: area(p, PANEL_AREA).difference(area(news, PANEL_AREA)) > 0.1,
                                    "the settings panel in place of the news panel")
        keep(settings, "settings")
        self.click(window, NEWS_ICON)
        wait_for_picture(self, window, lambda p: area(p, PANEL_AREA).difference(area(news, PANEL_AREA)) < 0.02,
                         "the news panel again")
        self.assertTrue(launcher.running())


def beyond_latin1_as_questions(text):
    """The text as a font without its script draws it: "?" for each character beyond Latin-1."""
    return "".join(c if ord(c) < 0x100 else "?" for c in text)


class NewsInOtherScripts(WindowTestCase):
    # Short enough for one line either way, so each item and its "?" twin lie out the same.
    TEXTS = ["Привет, мир: новое", "静かな荒野のシーズン"]
    BOX_LEFT, FIRST_BOX_TOP, BOX_STEP = 901, 96, 43  # one-line boxes: 34 high, then 9 apart

    @classmethod
    def box(cls, picture, index):
        return picture.crop(cls.BOX_LEFT, cls.FIRST_BOX_TOP + index * cls.BOX_STEP, 218, 32)

    def test_cyrillic_and_japanese_news_are_drawn_with_their_own_glyphs(self):
        items = [item for text in self.TEXTS for item in (text, beyond_latin1_as_questions(text))]
        script = {"on_hello": [{"send": "accept", "text": "true"}, {"send": "news", "items": items},
                               {"send": "patch", "versions": []}],
                  "on_integrity_request": [{"send": "integrity", "entries": [], "skipped": ""}]}
        _, launcher, window = self.open_window(script)
        ready = wait_for_picture(self, window, start_button_shown, "the START GAME button")
        self.click(window, NEWS_ICON)
        news = wait_for_picture(self, window, lambda p: area(p, PANEL_AREA).difference(area(ready, PANEL_AREA)) > 0.1,
                                "the news panel", name="news_scripts")
        for index, text in enumerate(self.TEXTS):
            self.check_pair(self, news, index, text)
        self.assertTrue(launcher.running())

    @classmethod
    def check_pair(cls, test, picture, index, text):
        """Boxes 2 * index and 2 * index + 1 hold `text` and its "?" twin, drawn as glyphs."""
        drawn, questions = cls.box(picture, 2 * index), cls.box(picture, 2 * index + 1)
        ink = questions.fraction_near((255, 255, 255), 90)
        test.assertTrue(0.01 < ink < 0.08, "the box of %r holds %.3f ink: no text, or blocks" % (text, ink))
        test.assertGreater(drawn.difference(questions, 40), 0.03, "%r is drawn as question marks" % text)


def game_client_running():
    """Whether any process on this machine is named like the game client (the update's guard
    would then ask to close it before patching)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid, encoding="utf-8", errors="replace") as f:
                if f.read().strip().lower() == "halcyra.exe":
                    return True
        except OSError:
            continue
    return False


class ProgressBar(WindowTestCase):
    PATCH = "patches/1001.zip"
    NEW_LAUNCHER = "patches/Launcher/" + harness.LAUNCHER_NAME

    def test_finished_download_fills_the_bar_to_its_end(self):
        if game_client_running():
            self.skipTest("a game client runs on this machine; the patch would wait for it to close")
        self.serve_file(self.PATCH, harness.zip_bytes({"data/a.txt": b"x" * 200000}, zipfile.ZIP_STORED))
        # No answer to the file list: the launcher stays in the patch phase with its last progress.
        script = {"on_hello": [{"send": "accept", "text": "true"}, {"send": "patch", "versions": ["1001"]}]}
        _, _, window = self.open_window(script)
        picture = wait_for_picture(self, window, lambda p: (green_run(p) or (0, 0))[1] >= PROGRESS_RIGHT - 3,
                                   "a full progress bar")
        first, last = green_run(picture)
        self.assertLessEqual(abs(first - PROGRESS_LEFT), 3)
        self.assertLessEqual(abs(last - PROGRESS_RIGHT), 3)
        self.assertLess(start_button_white(picture), START_BUTTON_WHITE, "the START GAME button shows while patching")
        self.assertIsNone(download_line_extent(picture), "the line under the bar stays after the download")

    def stalled_self_update(self, total, first_chunk):
        """The launcher downloading its newer copy, whose body stops after `first_chunk` bytes."""
        script = {"on_hello": [{"send": "accept", "text": "false"}],
                  "http": {"throttle": {"chunk_bytes": first_chunk, "chunk_delay_ms": 120000}}}
        self.serve_file(self.NEW_LAUNCHER, b"z" * total)
        server, _, window = self.open_window(script)
        server.wait_for_http(self.NEW_LAUNCHER, timeout=LIMIT)
        return window

    def test_half_downloaded_file_fills_half_the_bar(self):
        window = self.stalled_self_update(400000, 200000)
        wait_for_picture(self, window, lambda p: green_run(p) is not None, "a progress fill")
        time.sleep(1.0)
        picture = client_picture(window)
        first, last = green_run(picture)
        self.assertLessEqual(abs(first - PROGRESS_LEFT), 3)
        self.assertLessEqual(abs(last - (PROGRESS_LEFT + 300)), 3)
        self.assertLess(start_button_white(picture), START_BUTTON_WHITE)
        # Under the bar: the bytes so far of the whole, and no speed while nothing moves.
        keep(picture, "download_line_stalled")
        line = download_line_extent(picture)
        self.assertIsNotNone(line, "no line under the progress bar")
        for found, expected in zip(line, expected_download_line_extent("196 KB of 391 KB  -  stalled")):
            self.assertLessEqual(abs(found - expected), 3, "the line spans %s" % (line,))

    def test_nothing_downloaded_yet_shows_only_the_track(self):
        window = self.stalled_self_update(400000, 1)
        time.sleep(2.0)
        picture = client_picture(window)
        keep(picture, "progress_0")
        self.assertIsNone(green_run(picture))
        # The track is there: its row is lighter than the rows just above it.
        track = picture.crop(PROGRESS_LEFT, PROGRESS_Y - 1, 600, 3).mean_color()
        above = picture.crop(PROGRESS_LEFT, PROGRESS_Y - 14, 600, 3).mean_color()
        self.assertGreater(sum(track), sum(above) + 60)


def ini_file(install, relative):
    parser = configparser.ConfigParser(strict=False, interpolation=None)
    parser.optionxform = str
    parser.read_string(install.read(relative).decode("utf-8", errors="replace"))
    return {section: dict(parser[section]) for section in parser.sections()}


class SettingsPanel(WindowTestCase):
    """Clicks on the panel's controls write the game's files at once (positions measured with the
    launcher's own font and style)."""

    def open_settings(self):
        _, launcher, window = self.open_ready_window()
        self.click(window, SETTINGS_ICON)
        time.sleep(0.5)
        return launcher, window

    def wait_for_file(self, relative):
        wait_until(lambda: self.install.exists(relative), "%s to be written" % relative, LIMIT)

    def test_newer_layout_checkboxes_and_quality_write_their_keys(self):
        launcher, window = self.open_settings()
        self.click(window, (915, 285))  # HideEffects
        self.click(window, (915, 309))  # ShiftJump
        self.wait_for_file("config.ini")
        time.sleep(0.3)
        self.assertEqual(ini_file(self.install, "config.ini")["Character"], {"HideEffect": "1", "ShiftJump": "1"})
        self.click(window, (1000, 421))  # the quality list
        time.sleep(0.5)  # the list sizes itself over its first frames
        self.click(window, (950, 464))   # "High", the second entry
        self.wait_for_file("ini/GameSetup.ini")
        time.sleep(0.3)
        self.assertEqual(ini_file(self.install, "ini/GameSetup.ini")["GameMode"],
                         {"HighTimes": "1", "GameModeRecord": "1"})
        self.assertTrue(launcher.running())

    def test_older_layout_hides_refresh_rate_and_writes_all_three_effect_files(self):
        self.install.write("ini/GameSetup.ini", "[ScreenMode]\r\nScrWidth=1024\r\nScrHeight=768\r\n")
        # An older installation has both renderer folders; profile writes make no folders.
        os.makedirs(self.install.path("Env_DX8"))
        os.makedirs(self.install.path("Env_DX9"))
        launcher, window = self.open_settings()
        self.click(window, (915, 215))  # HideEffects, right under "EXTRA.." without the FPS slider
        for relative in ("Settings.ini", "Env_DX8/Settings.ini", "Env_DX9/Settings.ini"):
            self.wait_for_file(relative)
        time.sleep(0.3)
        for relative in ("Settings.ini", "Env_DX8/Settings.ini", "Env_DX9/Settings.ini"):
            self.assertEqual(ini_file(self.install, relative)["Screen"], {"HideEffect": "1"}, relative)
        self.click(window, (1000, 303))  # the quality list
        time.sleep(0.5)
        self.click(window, (950, 365))   # "Low", the third entry
        # Two profile writes, the counter first: a read between them sees only the counter.
        wait_until(lambda: {"LowTimes", "GameModeRecord"} <= ini_file(self.install, "ini/GameSetup.ini")
                   .get("GameMode", {}).keys(), "the quality pick to be written", LIMIT)
        game_mode = ini_file(self.install, "ini/GameSetup.ini")["GameMode"]
        self.assertEqual((game_mode["LowTimes"], game_mode["GameModeRecord"]), ("1", "2"))
        self.assertFalse(self.install.exists("config.ini"))
        self.assertTrue(launcher.running())


class Endings(WindowTestCase):
    def test_close_button_ends_with_1(self):
        _, launcher, window = self.open_ready_window()
        self.click(window, CLOSE_BUTTON)
        self.assertEqual(launcher.wait(LIMIT), 1)

    def test_start_game_starts_the_client_and_ends_with_0(self):
        record = self.install.path("started.txt")
        self.install.write("Halcyra.exe", "#!/bin/sh\necho \"$@\" >> '%s'\n" % record)
        os.chmod(self.install.path("Halcyra.exe"), 0o755)
        _, launcher, window = self.open_ready_window()
        self.click(window, START_BUTTON)
        self.assertEqual(launcher.wait(LIMIT), 0)
        wait_until(lambda: self.install.exists("started.txt"), "the client's record started.txt", 5)
        self.assertEqual(self.install.read("started.txt"), b"quietmoor\n")

    def test_close_request_from_the_window_manager_ends_with_0(self):
        _, launcher, window = self.open_ready_window()
        send_close_request(window)
        self.assertEqual(launcher.wait(LIMIT), 0)

    def test_alt_alone_does_nothing_and_alt_f4_ends_with_0(self):
        _, launcher, window = self.open_ready_window()
        harness.key("alt", window)
        self.assertTrue(launcher.stays_running(1.0))
        harness.key("alt+F4", window)
        self.assertEqual(launcher.wait(LIMIT), 0)


if __name__ == "__main__":
    unittest.main()
