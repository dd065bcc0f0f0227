"""Helpers for tests that run the real launcher binary against the development server.

- a display: $DISPLAY when it answers, otherwise an Xvfb of our own (1920x1080x24) that ends
  with the test process;
- waiting until a condition holds, with a time limit;
- X helpers: finding windows by title, slow key chords and clicks, screenshots and pixel probes;
- a fresh installation folder holding a copy of the launcher named OstrevanLauncher;
- the launcher process, with its output captured, its own process group, a time limit on every
  wait, and a kill of the whole group at teardown so nothing is left behind;
- answering SDL message boxes.

The launcher binary comes from $LAUNCHER_BINARY (set by tests/CMakeLists.txt); the ports and
base URL it was built with are read from $LAUNCHER_BUILD_DIR/CMakeCache.txt when present. The
launcher built with a release key comes from $LAUNCHER_SIGNED_BINARY, its private key lies beside
it (release-key.pem), and the release tool is $LAUNCHER_RELEASE_TOOL.
"""

import atexit
import ctypes
import hashlib
import http.client
import http.server
import io
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools"))

import dev_server  # noqa: E402  (found through the path above)

LAUNCHER_NAME = "OstrevanLauncher"
BRAND_NAME = "Ostrevan"
KEY_PAUSE = 0.05
SANITIZER_MARKERS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                     "runtime error:")
FIRST_FRAME = re.compile(r"interface: first frame presented at monotonic ([0-9.]+) ms")
# A game server's script that brings the launcher straight to the ready phase: accepted, two news
# items, no patches and an empty file list.
READY_SCRIPT = {
    "on_hello": [{"send": "accept", "text": "true"},
                 {"send": "news", "items": ["First news of the season", "Second news"]},
                 {"send": "patch", "versions": []}],
    "on_integrity_request": [{"send": "integrity", "entries": [], "skipped": ""}],
}


# ---------------------------------------------------------------------------------------------
# Build settings

def launcher_binary():
    return os.environ.get("LAUNCHER_BINARY", "")


def signed_release_setup():
    """(signed launcher, its private key, release tool), or None when they were not built."""
    binary, tool = os.environ.get("LAUNCHER_SIGNED_BINARY", ""), os.environ.get("LAUNCHER_RELEASE_TOOL", "")
    key = os.path.join(os.path.dirname(binary), "release-key.pem")
    return (binary, key, tool) if all(os.path.isfile(p) for p in (binary, key, tool)) else None


RELEASE_NOTE_HEAD = b"\x11\0\0\0\x04\0\0\0\x01\0\0\0ostrevan-release\0\0\0\0"
VERSION_SIGNATURE = b"\xbd\x04\xef\xfe"


def with_release(program, release):
    """The program's bytes with another launcher release: the ELF note's number, or the first two
    words of a Windows version resource's file version."""
    at = program.find(RELEASE_NOTE_HEAD)
    if at >= 0:
        at += len(RELEASE_NOTE_HEAD)
        return program[:at] + struct.pack("<I", release) + program[at + 4:]
    at = program.rfind(VERSION_SIGNATURE)  # the resource, after code that may hold the constant
    if at < 0:
        raise ValueError("no launcher release in this program")
    at += 8  # signature, structure version, then dwFileVersionMS
    return program[:at] + struct.pack("<I", release) + program[at + 4:]


def _cache_value(name):
    build = os.environ.get("LAUNCHER_BUILD_DIR")
    if not build:
        return None
    try:
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                if line.startswith(name + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return None


def game_port():
    return int(_cache_value("LAUNCHER_SERVER_PORT") or dev_server.DEFAULT_GAME_PORT)


def http_port():
    url = _cache_value("LAUNCHER_UPDATE_URL") or ""
    match = re.match(r"http://127\.0\.0\.1:(\d+)/", url)
    return int(match.group(1)) if match else dev_server.DEFAULT_HTTP_PORT


def _die_with_parent():
    """Child set-up: the child gets SIGKILL when this test process ends, however it ends."""
    try:
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except OSError:
        pass


# ---------------------------------------------------------------------------------------------
# Waiting

class WaitTimeout(AssertionError, TimeoutError):
    """A wait that gave up: a TimeoutError, and an AssertionError so that unittest counts it as a
    failed check rather than an error."""


def wait_until(predicate, what, timeout=20.0, pause=0.05):
    """Calls `predicate` every `pause` seconds until it returns something true, and returns that.
    Raises WaitTimeout ("gave up waiting for `what`") once `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise WaitTimeout("gave up waiting for %s" % what)
        time.sleep(pause)


# ---------------------------------------------------------------------------------------------
# Display

_xvfb = None


def _display_answers(display):
    try:
        return subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def ensure_display():
    """Makes $DISPLAY name a working X display and returns it."""
    global _xvfb
    current = os.environ.get("DISPLAY")
    if _xvfb is not None or (current and _display_answers(current)):
        return current
    for number in range(95, 160):
        if os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        display = ":%d" % number
        # -noreset: otherwise the server resets each time its last client leaves (xdpyinfo below,
        # a finished launcher), and a launcher connecting during the reset finds no display.
        process = subprocess.Popen(["Xvfb", display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                                    "-noreset"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True, preexec_fn=_die_with_parent)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and process.poll() is None:
            if os.path.exists("/tmp/.X11-unix/X%d" % number) and _display_answers(display):
                _xvfb = process
                os.environ["DISPLAY"] = display
                atexit.register(stop_display)
                return display
            time.sleep(0.1)
        _stop_process(process)  # lost a race for this number, or too slow: try the next
    raise RuntimeError("could not start Xvfb on any display from :95 to :159")


def stop_display():
    global _xvfb
    if _xvfb is not None:
        _stop_process(_xvfb)
        _xvfb = None


def _stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=5)


# ---------------------------------------------------------------------------------------------
# Windows and input

def _x(*args, timeout=10):
    # xdotool cannot read SDL's UTF-8 titles under a UTF-8 locale.
    env = dict(os.environ, LC_ALL="C")
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                          timeout=timeout)


def window_titles():
    """Every named window as (id, title), from the whole tree."""
    # xdotool's name search cannot read the titles of SDL's message boxes at all (their WM_NAME
    # has an odd encoding atom), so windows are found through xwininfo.
    result = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True,
                            errors="replace", timeout=10)
    return [(int(m.group(1), 16), m.group(2))
            for m in re.finditer(r'^\s*(0x[0-9a-f]+) "(.*)":', result.stdout, re.MULTILINE)]


def is_viewable(window):
    result = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True,
                            errors="replace", timeout=10)
    return "IsViewable" in result.stdout


def find_windows(title, visible_only=True):
    """Ids of the windows whose title is exactly `title` (mapped ones only, by default)."""
    return [w for w, name in window_titles() if name == title and (not visible_only or is_viewable(w))]


def wait_for_window(title, timeout=20.0, visible_only=True):
    try:
        return wait_until(lambda: find_windows(title, visible_only), "a window titled %r" % title,
                          timeout, pause=0.1)[0]
    except WaitTimeout:
        raise TimeoutError("no window titled %r within %.0f s; windows: %s"
                           % (title, timeout, window_titles())) from None


def wait_for_window_gone(window, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if window not in [w for w, _ in window_titles()]:
            return True
        time.sleep(0.1)
    return False


def window_geometry(window):
    """(x, y, width, height) of a window on the screen."""
    values = dict(line.split("=", 1) for line in _x("getwindowgeometry", "--shell", str(window))
                  .stdout.split() if "=" in line)
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def focus(window):
    _x("windowactivate", str(window))  # needs a window manager; harmless without one
    _x("windowfocus", str(window))
    time.sleep(KEY_PAUSE)


def key(chord, window=None):
    """Presses a key chord slowly (down, pause, up): fast chords can be lost by the interface."""
    if window is not None:
        focus(window)
    _x("keydown", chord)
    time.sleep(KEY_PAUSE)
    _x("keyup", chord)
    time.sleep(KEY_PAUSE)


def click(window, x, y, button=1):
    """Clicks at (x, y) relative to the window, slowly."""
    _x("mousemove", "--window", str(window), str(x), str(y))
    time.sleep(KEY_PAUSE)
    _x("mousedown", str(button))
    time.sleep(KEY_PAUSE)
    _x("mouseup", str(button))
    time.sleep(KEY_PAUSE)


def answer_message_box(caption, answer="Return", timeout=20.0):
    """Finds the message box titled `caption` and presses Return (Yes/OK) or Escape (No).
    Returns the box's window id."""
    window = wait_for_window(caption, timeout)
    time.sleep(0.3)  # the box draws and selects its input only after it is mapped
    key(answer, window)
    return window


_REFERENCE_BOX = """
import ctypes, sys
sdl = ctypes.CDLL("libSDL2-2.0.so.0")
sys.exit(sdl.SDL_ShowSimpleMessageBox(0x40, sys.argv[1].encode(), sys.argv[2].encode(), None) & 0xff)
"""


def reference_message_box(caption, text, timeout=20.0):
    """A picture of SDL's own message box with this caption and text and one OK button, drawn by
    SDL in a child process, for comparing with a box that the launcher shows."""
    process = subprocess.Popen([sys.executable, "-c", _REFERENCE_BOX, caption, text],
                               start_new_session=True, preexec_fn=_die_with_parent)
    try:
        window = wait_for_window(caption, timeout)
        picture = stable_screenshot(window)
        key("Return", window)
        process.wait(timeout=10)
        return picture
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=10)


# ---------------------------------------------------------------------------------------------
# Screenshots and pixel probes

class Image:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.data[at:at + 3])

    def crop(self, x, y, width, height):
        rows = [self.data[3 * ((y + r) * self.width + x):3 * ((y + r) * self.width + x + width)]
                for r in range(height)]
        return Image(width, height, b"".join(rows))

    def mean_color(self):
        count = self.width * self.height
        return tuple(sum(self.data[c::3]) / count for c in range(3))

    def fraction_near(self, color, tolerance=8):
        """Share of pixels whose every channel lies within `tolerance` of `color`."""
        count = sum(1 for i in range(0, len(self.data), 3)
                    if all(abs(self.data[i + c] - color[c]) <= tolerance for c in range(3)))
        return count / (self.width * self.height)

    def difference(self, other, tolerance=8):
        """Share of pixels that differ from `other` (same size) by more than `tolerance`."""
        if (self.width, self.height) != (other.width, other.height):
            raise ValueError("regions of different sizes")
        a, b = self.data, other.data
        count = sum(1 for i in range(0, len(a), 3) if any(abs(a[i + c] - b[i + c]) > tolerance for c in range(3)))
        return count / (self.width * self.height)

    def save_png(self, path):
        raw = b"".join(b"\0" + self.data[3 * self.width * r:3 * self.width * (r + 1)] for r in range(self.height))

        def chunk(kind, body):
            return (len(body).to_bytes(4, "big") + kind + body
                    + zlib.crc32(kind + body).to_bytes(4, "big"))
        header = self.width.to_bytes(4, "big") + self.height.to_bytes(4, "big") + bytes([8, 2, 0, 0, 0])
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw))
                    + chunk(b"IEND", b""))


def parse_ppm(data):
    """A binary PPM (P6, 8 bits per channel) as an Image."""
    fields, at = [], 2
    if not data.startswith(b"P6"):
        raise ValueError("not a binary PPM")
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(int(data[at:end]))
        at = end
    width, height, maximum = fields
    start = at + 1
    if maximum == 255:
        return Image(width, height, data[start:start + 3 * width * height])
    if maximum == 65535:  # 16 bits per channel, big-endian: keep the high bytes
        return Image(width, height, data[start:start + 6 * width * height:2])
    raise ValueError("PPM with maximum value %d is not read" % maximum)


def screenshot(window="root", save_to=None):
    """The screen (or one window) as an Image; also written as PNG when `save_to` is given."""
    target = window if window == "root" else str(window)
    result = subprocess.run(["import", "-silent", "-window", target, "-depth", "8", "ppm:-"], capture_output=True, timeout=30)
    if result.returncode != 0:
        raise RuntimeError("import failed: %s" % result.stderr.decode(errors="replace").strip())
    image = parse_ppm(result.stdout)
    if save_to:
        image.save_png(save_to)
    return image


def stable_screenshot(window="root", timeout=10.0, pause=0.15):
    """A screenshot taken once two in a row are the same, so a window that is still drawing (a
    box just mapped, a first frame) is not caught half-way."""
    deadline = time.monotonic() + timeout
    previous = screenshot(window)
    while True:
        time.sleep(pause)
        current = screenshot(window)
        if current.data == previous.data or time.monotonic() > deadline:
            return current
        previous = current


# ---------------------------------------------------------------------------------------------
# Installation folder and the launcher process

def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def zip_bytes(files, compression=zipfile.ZIP_DEFLATED):
    """A ZIP archive, made by Python's zipfile, of {name: content}."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, content in files.items():
            archive.writestr(name, content)
    return buffer.getvalue()


# A folder name that no single ANSI code page holds (Latin, a dash, Japanese).
NON_ANSI_FOLDER_NAME = "\u00c6r\u00f8 \u2013 \u65e5\u672c\u8a9e"


class Installation:
    """A fresh installation folder holding a copy of the launcher; `folder_name` names it."""

    def __init__(self, binary=None, name=LAUNCHER_NAME, folder_name=None):
        self.top = tempfile.mkdtemp(prefix="ostrevan-install-")
        self.folder = os.path.join(self.top, folder_name) if folder_name else self.top
        os.makedirs(self.folder, exist_ok=True)
        self.launcher = os.path.join(self.folder, name)
        shutil.copy2(binary or launcher_binary(), self.launcher)
        os.chmod(self.launcher, 0o755)

    def path(self, relative):
        return os.path.join(self.folder, *relative.replace("\\", "/").split("/"))

    def write(self, relative, content):
        path = self.path(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode("utf-8"))
        return path

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def exists(self, relative):
        return os.path.exists(self.path(relative))

    def remove(self):
        shutil.rmtree(self.top, ignore_errors=True)


class LauncherProcess:
    """The launcher running from an installation folder, in a process group of its own."""

    def __init__(self, installation, extra_env=None, command=None):
        """`command`: the argument list that starts the launcher, when it is not the launcher
        file itself (a Windows launcher runs through wine)."""
        self.output_folder = tempfile.mkdtemp(prefix="ostrevan-output-")
        self.stdout_path = os.path.join(self.output_folder, "stdout.txt")
        self.stderr_path = os.path.join(self.output_folder, "stderr.txt")
        env = dict(os.environ, **(extra_env or {}))
        # Every end of the launcher is an immediate process exit from whichever thread meets it,
        # so a thread that finished but was not joined yet is expected, not a leak.
        env["TSAN_OPTIONS"] = ("report_thread_leaks=0 " + env.get("TSAN_OPTIONS", "")).strip()
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(command or [installation.launcher], cwd=installation.folder, env=env,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                            start_new_session=True, preexec_fn=_die_with_parent)
        self.pid = self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout):
        """The exit code; TimeoutError when the launcher still runs after `timeout` seconds."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError("launcher still running after %.0f s; stderr: %s"
                               % (timeout, self.stderr[-2000:])) from None

    def stays_running(self, seconds):
        """True when the launcher is still running after `seconds`."""
        try:
            self.process.wait(timeout=seconds)
            return False
        except subprocess.TimeoutExpired:
            return True

    def wait_for_first_frame(self, timeout=20.0):
        """Waits for the "interface: first frame presented at monotonic T ms" line on standard
        error and returns T. Raises WaitTimeout, with the end of standard error, when the line has
        not come within `timeout` seconds or the launcher ended without it."""
        def line_or_end():
            ended = not self.running()  # asked first, so a line written just before the end is read
            return FIRST_FRAME.search(self.stderr) or ended
        try:
            found = wait_until(line_or_end, "the first frame", timeout)
        except WaitTimeout:
            found = None
        if not isinstance(found, re.Match):
            raise WaitTimeout("no frame was presented within %.0f s (launcher running: %s); stderr: %s"
                              % (timeout, self.running(), self.stderr[-2000:]))
        return float(found.group(1))

    def kill(self):
        """Ends the launcher and everything it started in its group (message box helpers)."""
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        deadline = time.monotonic() + 5
        while _group_alive(self.pid) and time.monotonic() < deadline:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                break
            time.sleep(0.05)

    def _read(self, path):
        try:
            with open(path, "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except OSError:
            return ""

    @property
    def stdout(self):
        return self._read(self.stdout_path)

    @property
    def stderr(self):
        return self._read(self.stderr_path)

    def remove_output(self):
        shutil.rmtree(self.output_folder, ignore_errors=True)


def _group_alive(group):
    try:
        os.killpg(group, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def running_game_processes():
    """Pids of processes the launcher takes for the game (its comm or the last part of its
    argv[0] is Halcyra.exe in any case); while one runs, every download asks to close it."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry, "rb") as f:
                comm = f.read().strip()
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0")[0]
        except OSError:
            continue
        names = [comm, re.split(rb"[/\\]", first)[-1]]
        if any(name.lower() == b"halcyra.exe" for name in names):
            found.append(int(entry))
    return found


class LoopbackProxy:
    """A forwarding HTTP proxy on 127.0.0.1 (plain http, absolute addresses): `requests` lists
    each address it was asked for, in order."""

    HOP_BY_HOP = {"connection", "keep-alive", "proxy-connection", "proxy-authorization", "te", "trailer",
                  "transfer-encoding", "upgrade"}

    def __init__(self):
        self.requests = []
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                # Wine's WinHTTP sends the path alone to a proxy on the server's own host name (it
                # compares names, not ports); the Host header names the server then.
                address = self.path if "://" in self.path else "http://%s%s" % (self.headers["Host"], self.path)
                proxy.requests.append(address)
                target = urllib.parse.urlsplit(address)
                upstream = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=30)
                headers = {k: v for k, v in self.headers.items() if k.lower() not in proxy.HOP_BY_HOP}
                upstream.request("GET", target.path + ("?" + target.query if target.query else ""),
                                 headers=headers)
                answer = upstream.getresponse()
                self.send_response(answer.status, answer.reason)
                for name, value in answer.getheaders():
                    if name.lower() not in proxy.HOP_BY_HOP:
                        self.send_header(name, value)
                if answer.getheader("Content-Length") is None:
                    self.send_header("Connection", "close")
                    self.close_connection = True
                self.end_headers()
                while True:
                    block = answer.read(65536)
                    if not block:
                        break
                    self.wfile.write(block)
                upstream.close()

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.url = "http://127.0.0.1:%d" % self.port
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def port_in_use(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.settimeout(1)
        return probe.connect_ex(("127.0.0.1", port)) == 0


# ---------------------------------------------------------------------------------------------
# Test case base

class LauncherTestCase(unittest.TestCase):
    """Each test gets a display, a fresh installation and cleanups that stop every server and
    kill every launcher it started."""

    install_folder_name = None  # the installation folder's own name, when it matters

    def setUp(self):
        if not os.path.isfile(launcher_binary()):
            raise unittest.SkipTest("launcher binary not built (LAUNCHER_BINARY=%r)" % launcher_binary())
        ensure_display()
        self.install = Installation(folder_name=self.install_folder_name)
        self.addCleanup(self.install.remove)
        self.served = tempfile.mkdtemp(prefix="ostrevan-served-")
        self.addCleanup(shutil.rmtree, self.served, True)

    def serve_file(self, relative, content):
        path = os.path.join(self.served, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content if isinstance(content, bytes) else content.encode("utf-8"))
        return path

    def start_server(self, script=None, timeout=15.0):
        """The development server on the ports the launcher was built with."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                server = dev_server.DevServer(self.served, script, game_port(), http_port()).start()
                break
            except OSError as error:
                if time.monotonic() > deadline:
                    self.fail("development server cannot start: %s" % error)
                time.sleep(0.25)
        self.addCleanup(server.stop)
        return server

    def require_no_game_running(self, timeout=10.0):
        """Tests that download need a machine where no game runs: the launcher would ask to close
        it (and, if told to, end a process that is not ours)."""
        deadline = time.monotonic() + timeout
        while running_game_processes():
            if time.monotonic() > deadline:
                self.skipTest("a process taken for the game runs on this machine (pids %s)"
                              % running_game_processes())
            time.sleep(0.5)

    def start_launcher(self, extra_env=None, command=None):
        launcher = LauncherProcess(self.install, extra_env, command)
        # Run last to first: kill, then look for sanitizer reports, then remove the output.
        self.addCleanup(launcher.remove_output)
        self.addCleanup(self.printLauncherOutput, launcher)
        self.addCleanup(self.assertNoSanitizerReport, launcher)
        self.addCleanup(launcher.kill)
        return launcher

    def printLauncherOutput(self, launcher):
        """The launcher's diagnostics, for the log of a test that fails (ctest shows only those)."""
        output = launcher.stderr
        if output:
            sys.stderr.write("--- launcher stderr (%s) ---\n%s\n" % (self.id(), output[-4000:]))

    def assertNoSanitizerReport(self, launcher):
        """A launcher from a sanitizer build must not report anything, whatever else was checked."""
        output = launcher.stderr
        for marker in SANITIZER_MARKERS:
            if marker in output:
                at = output.index(marker)
                self.fail("sanitizer report from the launcher:\n%s" % output[max(0, at - 200):at + 3000])

    def assertNoWindow(self, title=BRAND_NAME):
        # The launcher prepares its window unmapped while the server decides; the player must
        # not see it before acceptance.
        self.assertEqual(find_windows(title, visible_only=True), [],
                         "a window titled %r is shown; windows: %s" % (title, window_titles()))
