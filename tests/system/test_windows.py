"""The Windows launcher (OstrevanLauncher.exe of the cross build, scripts/build-windows.sh) under
Wine on a virtual X display, against the development server: the Win32 window and its Direct3D 8
frames reach the ready phase on screen, and START GAME starts the game client with "quietmoor";
told that it is out of date, the launcher refuses a cut copy of the published launcher and puts a
whole one in its own place, which starts and removes the old copy.

The Windows build folder is $LAUNCHER_WINDOWS_BUILD_DIR (default: build-windows at the top of the
repository); its CMakeCache.txt gives the ports. The tests are skipped when there is no Windows
build, no wine or no MinGW C compiler (the game client's stand-in is built here). They run in a
Wine prefix of their own with a fresh wineserver for each test (a server still winding down, or
one of another run, stalls the window's first messages for many seconds); Arial Bold in its fonts folder is the face the Linux build takes for it (fontconfig's match), so
the status line is measured the same way.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness
from harness import READY_SCRIPT, LauncherTestCase, dev_server, wait_until
import status_line
from status_line import NEWS_ICON, START_BUTTON, start_button_shown, wait_for_picture
import test_window  # by module: a test class imported by name would run here a second time
from test_window import PANEL_AREA, beyond_latin1_as_questions, send_close_request

import demo_content  # found through the tools folder the harness put on the path

WINDOWS_BUILD = os.environ.get("LAUNCHER_WINDOWS_BUILD_DIR") or os.path.join(harness.REPO, "build-windows")
EXE_NAME = harness.LAUNCHER_NAME + ".exe"
LAUNCHER_EXE = os.path.join(WINDOWS_BUILD, EXE_NAME)
OLD_NAME = harness.LAUNCHER_NAME + "_OLDVersion.exe"
LOCK_NAME = harness.LAUNCHER_NAME + ".lock"
PART = "." + harness.LAUNCHER_NAME + "-part"
PUBLISHED = "patches/Launcher/" + EXE_NAME
NOT_A_PROGRAM = "The published launcher is not a complete program for this system: "
STAND_IN_SOURCE = os.path.join(harness.HERE, "halcyra_stand_in.c")
MINGW_CC = "x86_64-w64-mingw32-gcc"
LIMIT = 60.0  # Wine's first start in a fresh prefix is slow
NON_ANSI_ENTRY = "data/text/\u00e6\u00f8\u00e5 \u03a9\u03bc\u03ad\u03b3\u03b1.txt"
READ_ONLY = "data/text/strings.txt"
INTERNET_SETTINGS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings"

_prefix = None


def setUpModule():
    # The ports come from the Windows build's settings, whatever build the other tests use.
    os.environ["LAUNCHER_BUILD_DIR"] = WINDOWS_BUILD


def tearDownModule():
    if _prefix is not None:
        restart_wineserver()
        shutil.rmtree(_prefix, ignore_errors=True)


def wine_env(overrides=""):
    """The environment of a Wine program in the tests' prefix; `overrides` adds DLL overrides."""
    return dict(os.environ, WINEPREFIX=_prefix, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=" + (";" + overrides if overrides else ""))


def restart_wineserver():
    """Ends every program of the prefix and its server: a launcher that finds the last test's
    server still winding down can wait many seconds for its first window."""
    for argument in ("-k", "-w"):
        subprocess.run(["wineserver", argument], env=wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def ensure_prefix():
    """A Wine prefix of these tests: crash dialogs off (they would wait for a click), Arial Bold
    in its fonts folder."""
    global _prefix
    if _prefix is not None:
        return
    _prefix = tempfile.mkdtemp(prefix="ostrevan-wine-")
    env = wine_env()
    subprocess.run(["wineboot", "--init"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=180, check=True)
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t",
                    "REG_DWORD", "/d", "0", "/f"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=True)
    fonts = os.path.join(_prefix, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    shutil.copyfile(status_line.text_font(), os.path.join(fonts, "arialbd.ttf"))


def set_user_proxy(server):
    """The proxy `server` ("host:port") in the user's Internet Options, or none, as the options
    dialog stores it: ProxyEnable and ProxyServer, and the active connection's settings, which
    WinHttpGetIEProxyConfigForCurrentUser reads (Wine reads nothing else)."""
    if server:
        # Format 0x46, a counter, the flags (direct | named proxy), then lengths and texts of the
        # proxy, the bypass list and the configuration script's address.
        blob = (b"\x46\0\0\0" + bytes(4) + (3).to_bytes(4, "little") + len(server).to_bytes(4, "little")
                + server.encode() + bytes(4) + bytes(4) + bytes(32))
        values = ['"ProxyEnable"=dword:00000001', '"ProxyServer"="%s"' % server]
        connection = '"DefaultConnectionSettings"=hex:' + ",".join("%02x" % b for b in blob)
    else:
        values = ['"ProxyEnable"=-', '"ProxyServer"=-']
        connection = '"DefaultConnectionSettings"=-'
    text = "\r\n".join(["REGEDIT4", "", "[%s]" % INTERNET_SETTINGS, *values, "",
                         "[%s\\Connections]" % INTERNET_SETTINGS, connection, ""])
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as f:
        f.write(text)
    try:
        subprocess.run(["wine", "regedit", "/S", f.name], env=wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)
    finally:
        os.remove(f.name)


class WindowsLauncher(LauncherTestCase):
    def setUp(self):
        if not os.path.isfile(LAUNCHER_EXE):
            raise unittest.SkipTest("no Windows build (%s); run scripts/build-windows.sh" % LAUNCHER_EXE)
        for tool in ("wine", "wineboot", "wineserver", MINGW_CC):
            if shutil.which(tool) is None:
                raise unittest.SkipTest("%s is not installed" % tool)
        harness.ensure_display()
        ensure_prefix()
        restart_wineserver()
        self.install = harness.Installation(LAUNCHER_EXE, EXE_NAME)
        self.addCleanup(self.install.remove)
        self.served = tempfile.mkdtemp(prefix="ostrevan-served-")
        self.addCleanup(shutil.rmtree, self.served, True)

    def start_windows_launcher(self, overrides=""):
        return self.start_launcher(wine_env(overrides), ["wine", self.install.launcher])

    def open_window(self, overrides="", script=READY_SCRIPT):
        """Starts the server and the launcher under Wine; returns (launcher, window id)."""
        server = self.start_server(script)
        for attempt in (1, 2):
            launcher = self.start_windows_launcher(overrides)
            try:
                window = harness.wait_for_window(harness.BRAND_NAME, timeout=LIMIT)
                break
            except TimeoutError:
                # Now and then (about one run in ten on a loaded machine) a fresh wineserver starts
                # nothing: no hello, no word on stderr. That is Wine's start, not the launcher, so it
                # is tried once more; a launcher that said hello or anything else is judged as it is.
                if attempt == 2 or server.hellos or launcher.stderr:
                    raise
                sys.stderr.write("no hello and no window on the first start under Wine; starting again\n")
                launcher.kill()
                restart_wineserver()
        launcher.wait_for_first_frame(LIMIT)
        return launcher, window

    def test_from_a_folder_named_outside_the_ansi_code_page_through_the_users_proxy_to_the_game(self):
        # The demo's journey: two patches (one entry named outside the ANSI code page, a read-only
        # file replaced twice), two repairs, the version, then START GAME; every download goes
        # through the proxy set in the user's Internet Options.
        self.install = harness.Installation(LAUNCHER_EXE, EXE_NAME, harness.NON_ANSI_FOLDER_NAME)
        self.addCleanup(self.install.remove)
        demo_content.publish(self.served)
        demo_content.python_zip(os.path.join(self.served, "patches", "1001.zip"),
                                dict(demo_content.PATCH_1001, **{NON_ANSI_ENTRY: b"named outside ANSI"}))
        demo_content.prepare_installation(self.install.folder)
        os.chmod(self.install.write(READ_ONLY, b"old strings"), 0o444)
        proxy = harness.LoopbackProxy()
        self.addCleanup(proxy.stop)
        set_user_proxy("127.0.0.1:%d" % proxy.port)
        self.addCleanup(set_user_proxy, None)

        subprocess.run([MINGW_CC, "-O2", "-static", "-o", self.install.path("Halcyra.exe"), STAND_IN_SOURCE],
                       check=True, timeout=120)
        # A wrapper d3d8.dll in the game folder, preferred to Wine's own as a player's override
        # would: the launcher takes the system's, so this one (which has no device) never loads.
        subprocess.run([MINGW_CC, "-shared", "-x", "c", "-", "-o", self.install.path("d3d8.dll")],
                       input=b"void *__stdcall Direct3DCreate8(unsigned version) { return 0; }\n",
                       check=True, timeout=120)
        # News in four scripts beside the demo's: Wine's fonts folder has no CJK face, so Japanese
        # falls back to the fallback glyph without harm.
        cyrillic = test_window.NewsInOtherScripts.TEXTS[0]
        script = demo_content.script()
        for step in script["on_hello"]:
            if step.get("send") == "news":
                step["items"] = [cyrillic, beyond_latin1_as_questions(cyrillic)] + step["items"]
        # The proxy was written through a Wine server that winds down a few seconds after regedit
        # ends: a launcher that meets it then can wait a minute for its window.
        restart_wineserver()
        server = self.start_server(script)
        launcher = self.start_windows_launcher("d3d8=n,b")
        self.assertEqual(server.wait_for_hello(timeout=LIMIT)["digest"], harness.md5_of(self.install.launcher))
        window = harness.wait_for_window(harness.BRAND_NAME, timeout=LIMIT)
        launcher.wait_for_first_frame(LIMIT)
        # WS_POPUP, 1140 x 670, centred on the 1920 x 1080 screen; the class icon is icon 106.
        self.assertEqual(harness.window_geometry(window), (390, 205, 1140, 670))
        properties = subprocess.run(["xprop", "-id", str(window), "_NET_WM_ICON"], capture_output=True,
                                    text=True, timeout=10).stdout
        self.assertIn("Icon (32 x 32)", properties)

        wait_for_picture(self, window, lambda p: start_button_shown(p) and status_line.shows_status(p, "Ready.")
                         and status_line.shows_version(p, "1002"), "the ready phase at version 1002", LIMIT,
                         "windows_ready")
        self.assertEqual(self.install.read("version.dat"), b"1002")
        for relative, content in demo_content.EXPECTED_FILES.items():
            self.assertEqual(self.install.read(relative), content, relative)
        self.assertEqual(self.install.read(NON_ANSI_ENTRY), b"named outside ANSI")
        # Wine keeps the read-only mark as a missing write bit.
        self.assertEqual(os.stat(self.install.path(READ_ONLY)).st_mode & 0o222, 0, "no longer read-only")
        leftovers = [name for top, _, names in os.walk(self.install.folder) for name in names
                     if (harness.LAUNCHER_NAME + "-") in name or name.endswith(".tmp")]
        self.assertEqual(leftovers, [])
        requested = ["http://127.0.0.1:%d%s" % (harness.http_port(), e["path"]) for e in server.http_log]
        self.assertEqual(len([url for url in requested if not url.endswith(".delta.zip")]), 4)
        self.assertEqual(proxy.requests, requested)

        ready = status_line.client_picture(window)
        harness.click(window, *NEWS_ICON)
        shown = wait_for_picture(self, window, lambda p: p.crop(*PANEL_AREA).difference(ready.crop(*PANEL_AREA)) > 0.1,
                                 "the news panel", LIMIT, "windows_news")
        # Cyrillic from the text face (Wine maps bold Arial to the host's substitute), not "?".
        test_window.NewsInOtherScripts.check_pair(self, shown, 0, cyrillic)
        harness.click(window, *START_BUTTON)
        self.assertEqual(launcher.wait(LIMIT), 0)
        self.assertEqual(self.install.read("started.txt"), b"quietmoor\n")

    def test_without_direct3d_8_the_launcher_ends_with_1(self):
        self.start_server(READY_SCRIPT)
        launcher = self.start_windows_launcher("d3d8=")
        self.assertEqual(launcher.wait(LIMIT), 1)
        self.assertIn("no Direct3D 8 device", launcher.stderr)

    def test_close_request_from_the_window_manager_ends_with_0(self):
        launcher, window = self.open_window()
        # A second start in the same folder leaves the first alone and ends with 0.
        second = self.start_windows_launcher()
        self.assertEqual(second.wait(LIMIT), 0)
        self.assertIn("Another launcher is running in this folder: ", second.stderr)
        self.assertTrue(launcher.running())
        # Wine turns the request into the window's close message.
        send_close_request(window)
        self.assertEqual(launcher.wait(LIMIT), 0)

    def test_out_of_date_launcher_refuses_a_cut_copy_then_puts_a_whole_one_in_its_place(self):
        original = self.install.read(EXE_NAME)
        # The published launcher: the same program of a later release, with other bytes after its
        # last section.
        published = harness.with_release(original, 1000) + b"\0published launcher 1.1\0"
        self.serve_file(PUBLISHED, published)
        published_digest = dev_server.md5_hex(published)

        def answer_by_digest(connection):
            digest = dev_server.parse_hello(bytes(connection.received[:dev_server.HELLO_SIZE]))
            connection.send(dev_server.encode_accept("true" if digest == published_digest else "false"))

        # What an earlier update left (an old copy whose suffix was written in capitals, an
        # arrival cut short) goes at start-up.
        for leftover in (harness.LAUNCHER_NAME + "_OLDVersion.EXE", EXE_NAME + ".new"):
            self.install.write(leftover, b"left over")
        # Half of the program, with no Content-Length: only its own headers show it is cut.
        server = self.start_server({"on_hello": [answer_by_digest],
                                    "http": {"cut": {"/" + PUBLISHED: len(published) // 2}}})
        refused = self.start_windows_launcher()
        self.assertEqual(refused.wait(LIMIT), 0)
        self.assertEqual([e["path"] for e in server.http_log], ["/" + PUBLISHED])
        # One diagnostic, a Windows text line.
        self.assertEqual(refused.stderr, NOT_A_PROGRAM + "http://127.0.0.1:%d/%s\r\n"
                         % (harness.http_port(), PUBLISHED))
        self.assertEqual(sorted(os.listdir(self.install.folder)), sorted([EXE_NAME, LOCK_NAME]))
        self.assertEqual(self.install.read(EXE_NAME), original)
        self.assertEqual(len(server.hellos), 1, "a launcher was started")

        # The whole copy takes the name; the running launcher moves aside, starts the new one
        # and ends; the new one says hello with its own digest and removes the old copy.
        del server.http_config["cut"]
        seen = set()

        def names_now():
            names = [n for n in os.listdir(self.install.folder) if n != LOCK_NAME]
            seen.update(names)
            return names

        old = self.start_windows_launcher()
        wait_until(lambda: names_now() and not old.running(), "the old launcher to end", LIMIT, pause=0.02)
        self.assertEqual(old.wait(1), 0)
        self.assertEqual(server.wait_for_hello(timeout=LIMIT, count=3)["digest"], published_digest)
        wait_until(lambda: names_now() == [EXE_NAME], "the old copy to be removed", LIMIT, pause=0.02)
        self.assertEqual(self.install.read(EXE_NAME), published)
        # The new launcher arrived under a name of its own; the old one waited under its own.
        self.assertIn(OLD_NAME, seen)
        self.assertLessEqual(seen, {EXE_NAME, OLD_NAME, EXE_NAME + ".new", EXE_NAME + ".new" + PART,
                                    EXE_NAME + ".new" + PART + ".resume"})
        self.assertEqual(len(launchers_running_from(self.install.folder)), 1)
        server.close_connection()
        wait_until(lambda: not launchers_running_from(self.install.folder), "the new launcher to end", LIMIT)
        self.assertEqual(len(server.hellos), 3, "a launcher was started again")


def launchers_running_from(folder):
    """Pids of the Wine processes of the launcher in `folder`: a started launcher is no child of
    ours, and Wine shows a program's Windows path as its command line."""
    wanted = ("%s\\%s" % (os.path.basename(folder), EXE_NAME)).lower()
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0")[0].decode(errors="replace")
        except OSError:
            continue
        if first.replace("/", "\\").lower().endswith(wanted):
            found.append(int(entry))
    return found


if __name__ == "__main__":
    unittest.main()
