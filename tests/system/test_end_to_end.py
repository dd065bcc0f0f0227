"""Whole journeys of the real launcher, each from a fresh installation folder, against the
development server serving the demo content (tools/demo_content.py): the normal start up to the
game client, the launcher replacing itself, connections lost in the middle of a download and the
next start, the game running while a patch waits, an integrity check that cannot be mended, and a
launcher built with a release key against a release signed by the release tool, then against each
kind of file it must refuse.

Each journey checks what the servers recorded, the files left in the folder and the exit code;
where the screen is the only witness (the phase, the status text) it probes the picture with
tolerances (status_line.py). Pictures of each phase are kept in $LAUNCHER_SCREENSHOTS when set.
The window's close button and close command are covered by test_window.py.
"""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import harness
import status_line
from harness import LauncherTestCase, dev_server, wait_until
from status_line import START_BUTTON, start_button_shown

import demo_content  # found through the tools folder the harness put on the path

TITLE = harness.BRAND_NAME
# The launcher's own temporaries carry its name; the lock file keeps one launcher per folder.
PART = "." + harness.LAUNCHER_NAME + "-part"
EXTRACTING = "." + harness.LAUNCHER_NAME + "-extracting-"
LOCK = harness.LAUNCHER_NAME + ".lock"
LIMIT = 20.0
PROGRESS_TRACK = (270, 619, 600, 3)
READY = "Ready."
CHECKING = "Checking for new update.."


def accept_then(*steps, answer="true"):
    return [{"send": "accept", "text": answer}, {"wait_ms": 300}, *steps]


def answer_box(caption, answer):
    """Presses `answer` on the message box titled `caption` until the box goes: under load a box
    can miss a key sent before it listens. (The next box may take over the same window id, so
    the box is gone when no window has both its id and its title.)"""
    box = harness.wait_for_window(caption, timeout=LIMIT)
    time.sleep(0.3)
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        harness.key(answer, box)
        pressed = time.monotonic()
        while time.monotonic() < pressed + 2.0:
            if (box, caption) not in harness.window_titles():
                return
            time.sleep(0.05)
    raise AssertionError("the box %r never took %s" % (caption, answer))


def progress_track_shown(picture):
    """The half-white track of the progress bar lies over the dark ground (phases 2 to 4)."""
    track = picture.crop(*PROGRESS_TRACK).mean_color()
    below = picture.crop(PROGRESS_TRACK[0], PROGRESS_TRACK[1] + 12, PROGRESS_TRACK[2], 3).mean_color()
    return sum(track) > sum(below) + 60


def processes_running(path):
    """Pids of the processes whose executable is `path` (a detached launcher is in no group of
    ours, so it is found this way)."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/exe" % entry) == path:
                found.append(int(entry))
        except OSError:
            continue
    return found


def kill_launchers_of(installation):
    for pid in processes_running(installation.launcher):
        try:
            os.kill(pid, 9)
        except ProcessLookupError:
            pass


def flip_byte(path, at):
    with open(path, "r+b") as f:
        f.seek(at)
        value = f.read(1)[0]
        f.seek(at)
        f.write(bytes([value ^ 0xFF]))


def listing(folder):
    """The files under `folder`, without the launcher's lock file."""
    return sorted(os.path.relpath(os.path.join(top, name), folder)
                  for top, folders, files in os.walk(folder) for name in files
                  if os.path.join(top, name) != os.path.join(folder, LOCK))


class EndToEndCase(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.require_no_game_running()
        self.problems_before = self.problems_so_far()
        self.records = tempfile.mkdtemp(prefix="ostrevan-client-")
        self.addCleanup(shutil.rmtree, self.records, True)

    def start_launcher(self, extra_env=None):
        # ThreadSanitizer pauses a second in the exit call while the other threads run on; an
        # ended launcher must not go on writing files.
        options = (os.environ.get("TSAN_OPTIONS", "") + " atexit_sleep_ms=0").strip()
        launcher = super().start_launcher(dict(extra_env or {}, TSAN_OPTIONS=options))
        self.addCleanup(self.describe_on_failure, launcher)  # runs before the launcher is killed
        return launcher

    def problems_so_far(self):
        result = getattr(getattr(self, "_outcome", None), "result", None)
        return len(getattr(result, "failures", [])) + len(getattr(result, "errors", []))

    def describe_on_failure(self, launcher):
        """What the launcher wrote, for a test that failed while it ran."""
        if self.problems_so_far() == self.problems_before:
            return
        print("\n--- launcher %d (running: %s), windows %s, game processes %s\n%s---" % (
            launcher.pid, launcher.running(), harness.window_titles(), harness.running_game_processes(),
            launcher.stderr[-3000:]), file=sys.stderr, flush=True)

    def install_client_stand_in(self):
        """Halcyra.exe as a script that records its arguments and working folder."""
        path = self.install.write("Halcyra.exe", "#!/bin/sh\nprintf '%%s\\n' \"$@\" > '%s/arguments'\n"
                                  "pwd > '%s/folder'\n" % (self.records, self.records))
        os.chmod(path, 0o755)

    def client_record(self, name):
        path = os.path.join(self.records, name)
        wait_until(lambda: os.path.exists(path) and os.path.getsize(path) > 0, "the client's record %s" % name, 5)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def open_window(self, launcher, server):
        try:
            window = harness.wait_for_window(TITLE, timeout=LIMIT)
            launcher.wait_for_first_frame(LIMIT)
        except (TimeoutError, AssertionError) as error:
            self.fail("%s\nlauncher (running: %s): %s\nserver: %s" % (
                error, launcher.running(), launcher.stderr[-1500:],
                [{k: v for k, v in e.items() if k != "raw"} for e in server.events[-12:]]))
        return window

    def wait_for_picture(self, window, condition, what, name=None):
        return status_line.wait_for_picture(self, window, condition, what, LIMIT, name and "end_to_end_" + name)

    def wait_for_ready(self, window, name=None):
        return self.wait_for_picture(
            window, lambda p: start_button_shown(p) and status_line.shows_status(p, READY),
            "the ready phase (START GAME and \"Ready.\")", name)

    def assert_demo_files_installed(self):
        for relative, content in demo_content.EXPECTED_FILES.items():
            self.assertTrue(self.install.exists(relative), relative)
            self.assertEqual(self.install.read(relative), content, relative)
        self.assertEqual(os.listdir(self.install.path("Downloads")), [],
                         "archives or partial downloads left in Downloads")

    def requested(self, server):
        """What the launcher fetched, less its asking for delta patches this server has none of."""
        return [(e["method"], e["path"], e["status"]) for e in server.http_log
                if not (e["path"].endswith(".delta.zip") and e["status"] == 404)]


# ---------------------------------------------------------------------------------------------

class NormalStart(EndToEndCase):
    def test_from_hello_to_the_game_client(self):
        demo_content.publish(self.served)
        demo_content.prepare_installation(self.install.folder)
        self.install_client_stand_in()
        self.before_start()
        server = self.start_server(demo_content.script())
        launcher = self.start_launcher()

        self.assertEqual(server.wait_for_hello(timeout=LIMIT)["digest"], harness.md5_of(self.install.launcher))
        window = self.open_window(launcher, server)
        picture = self.wait_for_ready(window, "ready")
        self.assertTrue(status_line.shows_version(picture, "1002"), "the version line does not show 1002")
        self.assertFalse(progress_track_shown(picture), "the progress bar stays in the ready phase")
        sent = [int.from_bytes(e["raw"][:4], "little") for e in server.events if e["kind"] == "sent"]
        self.assertEqual(sent, [1001, 1000, 1002, 1003])

        verified = [name for name, _, _ in demo_content.VERIFIED]
        self.assertEqual(self.requested(server), [
            ("GET", "/patches/1001.zip", 200), ("GET", "/patches/1002.zip", 200),
            ("GET", "/patches/Launcher/" + verified[1], 200), ("GET", "/patches/Launcher/" + verified[2], 200)])
        self.assertTrue(all(e["cache_control"] == "no-cache" for e in server.http_log), server.http_log)
        self.assertEqual(len(server.integrity_requests), 1)
        self.assert_demo_files_installed()
        self.assertEqual(self.install.read("version.dat"), b"1002")
        self.assertNotIn("MD5 mismatch", launcher.stderr)

        harness.click(window, *START_BUTTON)
        self.assertEqual(launcher.wait(LIMIT), 0)
        self.assertEqual(self.client_record("arguments"), "quietmoor\n")
        self.assertEqual(self.client_record("folder").strip(), os.path.realpath(self.install.folder))
        self.assertEqual(server.wait_for_disconnect(timeout=5)["by"], "launcher")
        self.after_journey(server)

    def before_start(self):
        pass

    def after_journey(self, server):
        pass


class NormalStartInAFolderNamedOutsideTheAnsiCodePage(NormalStart):
    """The same journey from a folder whose name no ANSI code page holds, with a patch entry named
    likewise and a read-only file that both patches replace, every download through a proxy on
    loopback (libcurl's http_proxy)."""

    install_folder_name = harness.NON_ANSI_FOLDER_NAME
    ENTRY = "data/text/\u00e6\u00f8\u00e5 \u03a9\u03bc\u03ad\u03b3\u03b1.txt"
    READ_ONLY = "data/text/strings.txt"

    def before_start(self):
        demo_content.python_zip(os.path.join(self.served, "patches", "1001.zip"),
                                dict(demo_content.PATCH_1001, **{self.ENTRY: b"named outside ANSI"}))
        os.chmod(self.install.write(self.READ_ONLY, b"old strings"), 0o444)
        self.proxy = harness.LoopbackProxy()
        self.addCleanup(self.proxy.stop)

    def start_launcher(self, extra_env=None):
        return super().start_launcher(dict(extra_env or {}, http_proxy=self.proxy.url, no_proxy=""))

    def after_journey(self, server):
        self.assertEqual(self.install.read(self.ENTRY), b"named outside ANSI")
        self.assertEqual(self.install.read(self.READ_ONLY), demo_content.PATCH_1002[self.READ_ONLY])
        self.assertEqual(os.stat(self.install.path(self.READ_ONLY)).st_mode & 0o222, 0, "no longer read-only")
        self.assertEqual(listing(self.install.folder), sorted(
            [harness.LAUNCHER_NAME, "Halcyra.exe", "version.dat", "config.ini", "ini/GameSetup.ini", self.ENTRY]
            + list(demo_content.EXPECTED_FILES.keys() - {"version.dat"})), "temporaries left behind")
        base = "http://127.0.0.1:%d" % harness.http_port()
        # Every request went through the proxy, the delta patches' probes too.
        self.assertEqual(self.proxy.requests, [base + e["path"] for e in server.http_log])


# ---------------------------------------------------------------------------------------------

class SelfUpdate(EndToEndCase):
    PUBLISHED = "patches/Launcher/" + harness.LAUNCHER_NAME

    def setUp(self):
        super().setUp()
        # The published launcher: the same program of a later release, with other bytes at its end.
        with open(harness.launcher_binary(), "rb") as f:
            self.published = harness.with_release(f.read(), 1000) + b"\0published launcher 1.1\0"
        self.serve_file(self.PUBLISHED, self.published)
        self.published_digest = dev_server.md5_hex(self.published)
        self.original = self.install.read(harness.LAUNCHER_NAME)
        self.old_copy = self.install.path(harness.LAUNCHER_NAME + "_OLDVersion")
        self.addCleanup(lambda: kill_launchers_of(self.install))

    def answer_by_digest(self, connection):
        """A game server's rule: out of date unless the hello carries the published launcher's
        digest."""
        digest = dev_server.parse_hello(bytes(connection.received[:dev_server.HELLO_SIZE]))
        connection.send(dev_server.encode_accept("true" if digest == self.published_digest else "false"))

    def test_out_of_date_launcher_is_replaced_and_the_next_start_removes_the_old_copy(self):
        # Temporaries that a launcher ended half-way left go at the next start, too.
        for leftover in ("Downloads/1002.zip" + PART, "data/" + EXTRACTING + "7.tmp", harness.LAUNCHER_NAME + ".new"):
            self.install.write(leftover, b"left over")
        server = self.start_server({"on_hello": [self.answer_by_digest]})
        old = self.start_launcher()
        self.assertEqual(old.wait(LIMIT), 0)
        self.assertEqual(self.requested(server), [("GET", "/" + self.PUBLISHED, 200)])

        # The new launcher was started by the old one: it says hello with the published digest,
        # is accepted and removes the old copy, naming it on standard output.
        hello = server.wait_for_hello(timeout=LIMIT, count=2)
        self.assertEqual(hello["digest"], self.published_digest)
        self.assertEqual(server.hellos[0]["digest"], dev_server.md5_hex(self.original))
        wait_until(lambda: self.old_copy + "\n" in old.stdout, "the old copy's path on standard output")
        wait_until(lambda: not os.path.exists(self.old_copy), "the old copy to be removed")
        self.assertEqual(self.install.read(harness.LAUNCHER_NAME), self.published)
        self.assertTrue(os.access(self.install.launcher, os.X_OK))
        harness.wait_for_window(TITLE, timeout=LIMIT)
        self.assertEqual(len(processes_running(self.install.launcher)), 1)
        self.assertEqual(listing(self.install.folder), [harness.LAUNCHER_NAME])

        server.close_connection()
        wait_until(lambda: not processes_running(self.install.launcher), "the new launcher to end")
        self.assertEqual(len(server.hellos), 2, "a launcher started a third time")

    def lose_connection_during_the_launcher_download(self):
        server = self.start_server({"on_hello": [{"send": "accept", "text": "false"}],
                                    "http": {"throttle": {"chunk_bytes": 300000, "chunk_delay_ms": 30000}}})
        launcher = self.start_launcher()
        server.wait_for_http(self.PUBLISHED, timeout=LIMIT)
        partial = self.install.path(harness.LAUNCHER_NAME + ".new" + PART)
        wait_until(lambda: os.path.exists(partial) and os.path.getsize(partial) > 0, "the download to begin writing")
        server.close_connection()
        self.assertEqual(launcher.wait(LIMIT), 0)
        self.assertFalse(processes_running(self.install.launcher), "a launcher was started")

    def test_connection_lost_while_the_new_launcher_downloads_leaves_no_partial_launcher(self):
        self.lose_connection_during_the_launcher_download()
        names = (harness.LAUNCHER_NAME, os.path.basename(self.old_copy))
        present = [n for n in names if self.install.exists(n)]
        for name in present:
            self.assertIn(self.install.read(name), (self.original, self.published), name)
        self.assertIn(self.original, [self.install.read(n) for n in present], "the running launcher was lost")

    def test_connection_lost_while_the_new_launcher_downloads_keeps_the_launcher_under_its_name(self):
        # The lost connection ends the process mid-download: the running launcher never moved,
        # and the partial download goes.
        self.lose_connection_during_the_launcher_download()
        self.assertEqual(listing(self.install.folder), [harness.LAUNCHER_NAME])
        self.assertEqual(self.install.read(harness.LAUNCHER_NAME), self.original)

    def assert_published_launcher_refused(self, http=None):
        """The server says "false" and publishes what is no whole launcher: the launcher ends as
        with none published, nothing was started or left, and it starts again as it was."""
        server = self.start_server({"connections": [{"on_hello": [{"send": "accept", "text": "false"}]},
                                                    {"on_hello": accept_then()}],
                                    "http": http or {}})
        launcher = self.start_launcher()
        self.assertEqual(launcher.wait(LIMIT), 0)
        self.assertEqual(self.requested(server), [("GET", "/" + self.PUBLISHED, 200)])
        self.assertEqual(launcher.stderr.count(
            "The published launcher is not a complete program for this system: http://127.0.0.1:%d/%s\n"
            % (harness.http_port(), self.PUBLISHED)), 1, launcher.stderr)
        self.assertEqual(listing(self.install.folder), [harness.LAUNCHER_NAME])
        self.assertEqual(self.install.read(harness.LAUNCHER_NAME), self.original)
        self.assertTrue(os.access(self.install.launcher, os.X_OK))
        self.assertFalse(processes_running(self.install.launcher), "a launcher was started")
        self.assertEqual(len(server.hellos), 1, "a launcher was started")

        again = self.start_launcher()
        self.assertEqual(server.wait_for_hello(timeout=LIMIT, count=2)["digest"], dev_server.md5_hex(self.original))
        self.open_window(again, server)
        server.close_connection()
        self.assertEqual(again.wait(LIMIT), 0)

    def test_launcher_cut_short_without_content_length_is_never_installed_or_started(self):
        # The reply ends early and nothing announced its size: only the program's own
        # structure shows that it is not whole.
        self.assert_published_launcher_refused({"cut": {"/" + self.PUBLISHED: 4096}})

    def test_shell_script_served_as_the_launcher_is_never_installed_or_started(self):
        self.serve_file(self.PUBLISHED, "#!/bin/sh\ntouch '%s/script-ran'\n" % self.records)
        self.assert_published_launcher_refused()
        self.assertFalse(os.path.exists(os.path.join(self.records, "script-ran")))


# ---------------------------------------------------------------------------------------------

class LostConnection(EndToEndCase):
    def test_connection_lost_during_the_second_patch_and_the_next_start_finishes(self):
        demo_content.publish(self.served)
        demo_content.prepare_installation(self.install.folder)
        interrupted = {"on_hello": accept_then({"send": "patch", "versions": demo_content.PATCH_VERSIONS})}
        server = self.start_server({"connections": [interrupted, demo_content.script()],
                                    "http": {"throttle": {"chunk_bytes": 8192, "chunk_delay_ms": 40}}})
        launcher = self.start_launcher()
        server.wait_for_http("patches/1002.zip", timeout=LIMIT)
        partial = self.install.path("Downloads/1002.zip" + PART)
        wait_until(lambda: os.path.exists(partial) and os.path.getsize(partial) > 0, "the second patch to arrive in part")
        server.close_connection()
        self.assertEqual(launcher.wait(LIMIT), 0)

        # The first patch is whole, the second left nothing under any target's name.
        self.assertEqual(self.install.read("version.dat"), b"1001")
        for relative, content in demo_content.PATCH_1001.items():
            if relative != "version.dat":
                self.assertEqual(self.install.read(relative), content, relative)
        self.assertFalse(self.install.exists("data/music/moor.ogg"))
        self.assertFalse(self.install.exists("Downloads/1002.zip"))
        self.assertEqual(self.install.read("data/text/strings.txt"), demo_content.PATCH_1001["data/text/strings.txt"])

        # The next start fetches only what is still missing and becomes ready.
        launcher = self.start_launcher()
        window = self.open_window(launcher, server)
        self.wait_for_ready(window)
        second = self.requested(server)[2:]
        self.assertEqual([p for _, p, _ in second][0], "/patches/1002.zip")
        self.assertNotIn("/patches/1001.zip", [p for _, p, _ in second])
        self.assert_demo_files_installed()
        server.close_connection()
        self.assertEqual(launcher.wait(LIMIT), 0)


# ---------------------------------------------------------------------------------------------

class PlayersInstallation(EndToEndCase):
    """An installation that holds more than the game, started twice at once, a launcher killed in
    the middle of a download, and processes that come and go by the thousand meanwhile."""

    PLAYER_FILES = {"saves/slot1.part": b"slot 1", "mods/HD-textures.zip.part": b"a browser download",
                    "mods/bigmod.7z.part": b"7z", "mods/bigmod.part.resume": b"another program's record",
                    "screenshots/.extracting-ideas.txt": b"ideas"}
    PATCHED_FILES = {"data/music.part": b"music", "data/.extracting-cache": b"cache"}

    def ready_after(self, versions):
        return {"on_hello": accept_then({"send": "patch", "versions": versions}),
                "on_integrity_request": [{"send": "integrity", "entries": []}]}

    def churn_processes(self):
        """Starts short-lived processes one after another until the returned function is called."""
        stop, started = threading.Event(), [0]

        def churn():
            while not stop.is_set():
                subprocess.run(["true"])
                started[0] += 1
        thread = threading.Thread(target=churn, daemon=True)
        thread.start()

        def end():
            stop.set()
            thread.join(10)
            return started[0]
        return end

    def wait_for_part(self, version):
        part = self.install.path("Downloads/%s.zip%s" % (version, PART))
        wait_until(lambda: os.path.exists(part) and os.path.getsize(part) > 0, "the patch %s in part" % version)
        return part

    def test_second_start_killed_download_and_the_players_files(self):
        for name, content in self.PLAYER_FILES.items():
            self.install.write(name, content)
        self.install.write("version.dat", "1000")
        big = os.urandom(400000)
        self.serve_file("patches/1001.zip", harness.zip_bytes(dict(self.PATCHED_FILES, **{
            "version.dat": "1001", "data/big.bin": big})))
        self.serve_file("patches/1002.zip", harness.zip_bytes({"version.dat": "1002", "data/big2.bin": big}))
        # About two seconds for each archive.
        server = self.start_server({"connections": [self.ready_after(["1001"]), self.ready_after(["1001", "1002"]),
                                                    self.ready_after(["1001", "1002"])],
                                    "http": {"throttle": {"chunk_bytes": 32768, "chunk_delay_ms": 150}}})

        # A second start while the first downloads connects to nothing, touches nothing, ends with 0.
        end_churn = self.churn_processes()
        first = self.start_launcher()
        self.wait_for_part("1001")
        second = self.start_launcher()
        self.assertEqual(second.wait(LIMIT / 2), 0)
        self.assertIn("Another launcher is running in this folder: ", second.stderr)
        self.assertEqual(len(server.hellos), 1)
        server.wait_for_integrity_requests(1, timeout=LIMIT)
        self.assertGreater(end_churn(), 50)
        # The first one's download went through in one piece: nobody removed its part.
        self.assertEqual([path for _, path, _ in self.requested(server)], ["/patches/1001.zip"])
        self.assertTrue(first.running(), first.stderr[-2000:])
        self.assertEqual(self.install.read("version.dat"), b"1001")
        self.assertEqual(self.install.read("data/big.bin"), big)
        server.close_connection()
        self.assertEqual(first.wait(LIMIT), 0)

        # Killed in the middle of the next patch: its part stays, and the next start resumes it.
        killed = self.start_launcher()
        part = self.wait_for_part("1002")
        wait_until(lambda: os.path.exists(part + ".resume"), "the part's resume record")
        killed.kill()
        kept = os.path.getsize(part)
        self.assertGreater(kept, 0)
        last = self.start_launcher()
        server.wait_for_integrity_requests(2, timeout=LIMIT)
        resumed = [e for e in server.http_log if e["path"] == "/patches/1002.zip"][-1]
        self.assertEqual((resumed["status"], resumed["range"]), (206, "bytes=%d-" % kept))
        self.assertEqual(self.install.read("version.dat"), b"1002")
        self.assertEqual(self.install.read("data/big2.bin"), big)
        server.close_connection()
        self.assertEqual(last.wait(LIMIT), 0)

        # Three starts later every file of the player's and of the patches is there as it was.
        for name, content in dict(self.PLAYER_FILES, **self.PATCHED_FILES).items():
            self.assertEqual(self.install.read(name), content, name)
        self.assertEqual([n for n in listing(self.install.folder) if PART in n or EXTRACTING in n], [])
        self.assertEqual(os.listdir(self.install.path("Downloads")), [])
        self.assertEqual(len(server.hellos), 3)


# ---------------------------------------------------------------------------------------------

class GameRunningDuringPatch(EndToEndCase):
    """The game stand-in is a copy of `sleep` named Halcyra.exe, as the process list shows it."""

    WARNING = "Warning"
    CANCELLED = "Cancelled"
    FAILED = "Update to version 1001 failed. Please restart launcher."

    def setUp(self):
        super().setUp()
        self.install.write("version.dat", "1000")
        self.archive = os.path.join(self.served, "patches", "1001.zip")
        demo_content.python_zip(self.archive, demo_content.PATCH_1001)

    def start_game(self):
        game_path = self.install.path("Halcyra.exe")
        shutil.copy(shutil.which("sleep"), game_path)
        self.game = subprocess.Popen([game_path, "120"], cwd=self.install.folder, start_new_session=True,
                                     preexec_fn=harness._die_with_parent)
        self.addCleanup(self.stop_game)
        wait_until(lambda: self.game.pid in harness.running_game_processes(), "the game stand-in to run", 5)

    def stop_game(self):
        if self.game.poll() is None:
            self.game.kill()
        self.game.wait(timeout=10)

    def start_patching(self):
        self.start_game()
        server = self.start_server({"on_hello": accept_then({"send": "patch", "versions": ["1001"]})})
        launcher = self.start_launcher()
        harness.wait_for_window(self.WARNING, timeout=LIMIT)
        self.assertEqual(server.http_log, [], "a download began while the game ran")
        return server, launcher

    def test_yes_closes_the_game_and_the_patch_is_applied(self):
        server, launcher = self.start_patching()
        answer_box(self.WARNING, "Return")
        try:
            self.assertEqual(self.game.wait(timeout=LIMIT), -9)
        except subprocess.TimeoutExpired:
            self.fail("the game was not ended; windows %s; launcher: %s"
                      % (harness.window_titles(), launcher.stderr[-2000:]))
        self.assertEqual(server.wait_for_http("patches/1001.zip", timeout=LIMIT)["status"], 200)
        server.wait_for_integrity_requests(1, timeout=LIMIT)
        self.assertEqual(self.install.read("version.dat"), b"1001")
        self.assertEqual(self.install.read("data/maps/quietmoor.map"), demo_content.PATCH_1001["data/maps/quietmoor.map"])
        self.assertEqual(harness.find_windows(self.CANCELLED), [])
        self.assertTrue(launcher.running())

    def test_no_keeps_the_game_and_downloads_nothing(self):
        server, launcher = self.start_patching()
        answer_box(self.WARNING, "Escape")
        answer_box(self.CANCELLED, "Return")
        server.wait_for_integrity_requests(1, timeout=LIMIT)
        self.assertEqual(server.http_log, [])
        self.assertIsNone(self.game.poll(), "the game was ended")
        self.assertIn("Cannot proceed with update. Game is still running.\n", launcher.stderr)
        self.assertEqual(self.install.read("version.dat"), b"1000")
        self.assertEqual(os.listdir(self.install.path("Downloads")), [])
        self.assertFalse(self.install.exists("data"))
        window = harness.wait_for_window(TITLE, timeout=LIMIT)
        self.wait_for_picture(window, lambda p: status_line.shows_status(p, self.FAILED),
                              "the failed patch run in the status line", "game_kept")
        self.assertTrue(launcher.running())

    def test_game_started_during_the_download_is_asked_about_again_and_keeps_its_files(self):
        # About three seconds of download: time enough to start the game while it runs.
        size = os.path.getsize(self.archive)
        server = self.start_server({"on_hello": accept_then({"send": "patch", "versions": ["1001"]}),
                                    "http": {"throttle": {"chunk_bytes": max(1, size // 8), "chunk_delay_ms": 400}}})
        launcher = self.start_launcher()
        partial = self.install.path("Downloads/1001.zip" + PART)
        wait_until(lambda: os.path.exists(partial) and os.path.getsize(partial) > 0, "the patch to arrive in part")
        self.start_game()
        answer_box(self.WARNING, "Escape")
        answer_box(self.CANCELLED, "Return")
        server.wait_for_integrity_requests(1, timeout=LIMIT)
        self.assertEqual(server.wait_for_http("patches/1001.zip", timeout=LIMIT)["status"], 200)
        self.assertIsNone(self.game.poll(), "the game was ended")
        self.assertEqual(self.install.read("version.dat"), b"1000")
        self.assertFalse(self.install.exists("data"), "a file was written under the running game")
        self.assertEqual(launcher.stderr.count("Cannot proceed with update. Game is still running.\n"), 1)
        self.assertTrue(launcher.running())


# ---------------------------------------------------------------------------------------------

class FailingIntegrityCheck(EndToEndCase):
    def test_files_that_stay_wrong_are_reported_in_the_status_line_and_on_stderr(self):
        self.serve_file("patches/Launcher/data/served.bin", b"what the server has")
        # Listed with an escape already in its path: requested as listed, never escaped twice.
        self.serve_file("patches/Launcher/data/a b.dat", b"spaced")
        self.install.write("data/kept.bin", b"in order")
        self.install.write("data/served.bin", b"damaged")
        entries = [
            {"name": "data/kept.bin", "downloadPath": "data/kept.bin", "acceptedDigests": dev_server.md5_hex(b"in order")},
            {"name": "data/served.bin", "downloadPath": "data/served.bin",
             "acceptedDigests": dev_server.md5_hex(b"what the list expects")},
            {"name": "data/absent.bin", "downloadPath": "data/absent.bin", "acceptedDigests": dev_server.md5_hex(b"x")},
            {"name": "data/a b.dat", "downloadPath": "data/a%20b.dat", "acceptedDigests": dev_server.md5_hex(b"spaced")},
        ]
        server = self.start_server({"on_hello": accept_then({"send": "patch", "versions": []}),
                                    "on_integrity_request": [{"send": "integrity", "entries": entries}]})
        self.install_client_stand_in()
        launcher = self.start_launcher()
        window = self.open_window(launcher, server)
        report = "Missing/corrupted files (2): data/served.bin, data/absent.bin. Please restart launcher."
        picture = self.wait_for_picture(window, lambda p: status_line.shows_status(p, report),
                                        "the failure report in the status line", "integrity_failed")
        self.assertFalse(start_button_shown(picture), "START GAME offered after a failed check")
        self.assertTrue(progress_track_shown(picture), "the progress bar left the screen")
        self.assertFalse(status_line.shows_status(picture, READY))

        errors = launcher.stderr
        self.assertIn("MD5 mismatch for: data/served.bin\n", errors)
        self.assertIn("MD5 mismatch for: data/absent.bin\n", errors)
        self.assertNotIn("MD5 mismatch for: data/kept.bin", errors)
        self.assertEqual(self.requested(server), [("GET", "/patches/Launcher/data/served.bin", 200),
                                                  ("GET", "/patches/Launcher/data/absent.bin", 404),
                                                  ("GET", "/patches/Launcher/data/a b.dat", 200)])
        self.assertEqual(self.install.read("data/a b.dat"), b"spaced")
        # What the server has is not what the list accepts: it never replaces the damaged file.
        self.assertEqual(self.install.read("data/served.bin"), b"damaged")
        self.assertFalse(self.install.exists("data/absent.bin"))

        # Nothing starts the game from here: a click where START GAME would be does nothing.
        harness.click(window, *START_BUTTON)
        self.assertTrue(launcher.stays_running(1.0))
        self.assertFalse(os.path.exists(os.path.join(self.records, "arguments")))
        server.close_connection()
        self.assertEqual(launcher.wait(LIMIT), 0)


# ---------------------------------------------------------------------------------------------

class SignedRelease(EndToEndCase):
    """The launcher built with a release key (tests/CMakeLists.txt builds it beside the other)."""

    PUBLISHED = "patches/Launcher/" + harness.LAUNCHER_NAME
    NO_MATCH = "Release signature does not match for: "

    def setUp(self):
        found = harness.signed_release_setup()
        if not found:
            raise unittest.SkipTest("the launcher with a release key and the release tool were not built")
        self.binary, self.key, self.tool = found
        super().setUp()
        self.base = "http://127.0.0.1:%d/" % harness.http_port()
        self.fresh_installation()

    def fresh_installation(self):
        self.install.remove()
        self.install = harness.Installation(self.binary)
        self.addCleanup(self.install.remove)
        self.addCleanup(kill_launchers_of, self.install)
        self.original = self.install.read(harness.LAUNCHER_NAME)
        self.served = tempfile.mkdtemp(prefix="ostrevan-served-")
        self.addCleanup(shutil.rmtree, self.served, True)

    def test_release_made_and_signed_by_the_release_tool_is_installed(self):
        demo_content.publish(self.served, self.tool, self.key)
        demo_content.prepare_installation(self.install.folder)
        server = self.start_server(demo_content.script())
        launcher = self.start_launcher()
        window = self.open_window(launcher, server)
        self.wait_for_ready(window, "signed_ready")
        self.assert_demo_files_installed()
        self.assertEqual(self.install.read("version.dat"), b"1002")
        repaired = ["patches/Launcher/" + name for name, _, _ in demo_content.VERIFIED[1:]]
        self.assertEqual(self.requested(server), [("GET", "/" + path + suffix, 200) for path in
                                                  ["patches/1001.zip", "patches/1002.zip", *repaired]
                                                  for suffix in ("", ".sig")])
        self.assertNotIn("Release signature", launcher.stderr)
        self.assertEqual(listing(self.install.folder), sorted([harness.LAUNCHER_NAME, "version.dat", "config.ini",
                                                               os.path.join("ini", "GameSetup.ini"),
                                                               *[n for n in demo_content.EXPECTED_FILES
                                                                 if n != "version.dat"]]))
        server.close_connection()
        self.assertEqual(launcher.wait(LIMIT), 0)

        # Plain OpenSSL accepts what the tool signed, from the statement written out by hand.
        archive = os.path.join(self.served, "patches", "1002.zip")
        with open(archive, "rb") as f:
            data = f.read()
        statement = os.path.join(self.records, "statement")
        with open(statement, "wb") as f:
            f.write(b"ostrevan-signed-file-v1\npatches/1002.zip\n%d\n%s\n"
                    % (len(data), hashlib.sha256(data).hexdigest().encode()))
        result = subprocess.run(["openssl", "pkeyutl", "-verify", "-pubin", "-inkey", self.key[:-4] + ".pub.pem",
                                 "-rawin", "-in", statement, "-sigfile", archive + ".sig"],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_release_tool_exit_codes_and_a_file_list_too_long_for_one_message(self):
        def tool(*arguments):
            return subprocess.run([self.tool, *arguments], capture_output=True, text=True, cwd=self.records)
        old, new = os.path.join(self.records, "old"), os.path.join(self.records, "new")
        os.makedirs(old)
        for number in range(12):
            demo_content.write_file(os.path.join(new, "data", "a-rather-long-folder-name", "file%02d.bin" % number),
                                    b"%d" % number)
        self.assertEqual(tool("--help").returncode, 0)
        for arguments in [(), ("sign",), ("patch", "--version", "x", "--from", old, "--to", new, "--out", "w"),
                          ("patch", "--version", "1"), ("keygen", "a", "b"), ("unknown",)]:
            result = tool(*arguments)
            self.assertEqual((result.returncode, "--help" in result.stderr), (2, True), (arguments, result.stderr))
        made = tool("patch", "--version", "7", "--from", old, "--to", new, "--out", "www")
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertIn("does not fit in one message", made.stderr)
        step = json.loads(made.stdout)
        self.assertEqual(len(step["entries"]), 12)
        self.assertGreater(len(dev_server.encode_integrity(step["entries"])), 1024)
        self.assertEqual(tool("patch", "--version", "7", "--from", old, "--to", new, "--out", "www").returncode, 1)
        verified = tool("verify", self.key[:-4] + ".pub.pem", "www", "patches/7.zip")
        self.assertEqual((verified.returncode, verified.stdout), (1, "patches/7.zip: no signature\n"))
        self.assertEqual(tool("keygen", self.key).returncode, 1, "a key was overwritten")

        # The private key is owner-only from the call that creates it, which never replaces a file.
        trace = os.path.join(self.records, "keygen.trace")
        made = subprocess.run(["strace", "-f", "-e", "trace=open,openat,creat", "-o", trace,
                               self.tool, "keygen", "other.pem"], capture_output=True, text=True, cwd=self.records)
        self.assertEqual(made.returncode, 0, made.stderr)
        with open(trace) as f:
            created = [line for line in f if '"other.pem"' in line]
        self.assertEqual(len(created), 1, created)
        self.assertIn("O_CREAT", created[0])
        self.assertIn("O_EXCL", created[0])
        self.assertTrue(created[0].rstrip().split(")")[0].endswith(", 0600"), created[0])
        self.assertEqual(os.stat(os.path.join(self.records, "other.pem")).st_mode & 0o777, 0o600)

        # Runs with a wrong key change nothing in a signed update root, and leave nothing beside it.
        self.assertEqual(tool("patch", "--version", "7", "--from", old, "--to", new, "--out", "signed",
                              "--key", self.key).returncode, 0)
        def snapshot():
            found = {}
            for folder, _, names in os.walk(self.records):
                for name in names:
                    path = os.path.join(folder, name)
                    if "signed" in os.path.relpath(path, self.records).split(os.sep)[0]:
                        with open(path, "rb") as f:
                            found[os.path.relpath(path, self.records)] = f.read()
            return found
        demo_content.write_file(os.path.join(new, "data", "added.bin"), b"added")
        # A folder where the new repair copy goes: the move fails after others went in, and those
        # are put back.
        os.makedirs(os.path.join(self.records, "signed", "patches", "Launcher", "data", "added.bin"))
        before = snapshot()
        for arguments in [("patch", "--version", "8", "--from", old, "--to", new, "--out", "signed", "--key", "kye.pem"),
                          ("patch", "--version", "8", "--from", old, "--to", new, "--out", "signed", "--key", "other.pem"),
                          ("patch", "--version", "8", "--from", old, "--to", new, "--out", "signed", "--key", self.key),
                          ("sign", "other.pem", "signed", "patches/7.zip"),
                          ("sign", "kye.pem", "signed", "patches/7.zip")]:
            result = tool(*arguments)
            self.assertEqual(result.returncode, 1, (arguments, result.stderr))
            self.assertEqual(snapshot(), before, arguments)
            self.assertEqual(sorted(n for n in os.listdir(self.records) if n.startswith(".")), [], arguments)
        # Rotating keys is said out loud.
        rotated = tool("sign", "--replace-signatures", "other.pem", "signed", "patches/7.zip")
        self.assertEqual(rotated.returncode, 0, rotated.stderr)
        self.assertEqual(tool("verify", "other.pub.pem", "signed", "patches/7.zip").stdout, "patches/7.zip: good\n")

    def test_releases_only_go_forward_and_the_running_launcher_served_again_restarts_nothing(self):
        """Release 5 (the signed launcher) told it is out of date: release 4 and release 5 itself,
        both signed with the same key, are refused as the other refusals are; release 6 is installed."""
        folder = os.path.dirname(self.binary)
        for what, program in [("release 4", os.path.join(folder, "release-4", harness.LAUNCHER_NAME)),
                              ("the running release 5", self.binary),
                              ("release 6", os.path.join(folder, "release-6", harness.LAUNCHER_NAME))]:
            with self.subTest(what):
                self.fresh_installation()
                with open(program, "rb") as f:
                    content = f.read()
                self.publish_launcher(content)
                if "6" not in what:
                    self.refused_once(None, "%s%s is not newer than this launcher (release %s <= 5)"
                                      % (self.base, self.PUBLISHED, what[-1]), None)
                    continue
                server = self.start_server({"connections": [{"on_hello": [{"send": "accept", "text": "false"}]},
                                                            harness.READY_SCRIPT]})
                try:
                    self.assertEqual(self.start_launcher().wait(LIMIT), 0)
                    hello = server.wait_for_hello(timeout=LIMIT, count=2)
                    self.assertEqual(hello["digest"], dev_server.md5_hex(content))
                    self.assertEqual(self.install.read(harness.LAUNCHER_NAME), content)
                    server.close_connection()
                    wait_until(lambda: not processes_running(self.install.launcher), "release 6 to end")
                finally:
                    server.stop()

    def test_delta_release_installs_and_each_failure_falls_back_to_the_full_patch(self):
        """A pack that changed in three places, a changed and a new small file: each case ends with
        version 1001 and NEW's files, fetched as the case says."""
        pack = demo_content._content("pack", 600_000)
        old = {"data/pack.dat": pack, "data/text/strings.txt": b"greeting=Welcome\r\n"}
        new = {"data/pack.dat": pack[:100_000] + b"overwritten" * 900 + pack[110_000:300_000] +
               b"inserted" * 1500 + pack[300_000:590_000] + bytes(10_000),
               "data/text/strings.txt": b"greeting=Welcome back\r\n", "data/new.txt": b"added"}
        delta, full = "/patches/1001.delta.zip", "/patches/1001.zip"
        signed = [(delta, 200), (delta + ".sig", 200)]
        cases = [  # what, the tool's extra arguments, a change after publishing, requests, diagnostic
            ("a delta release", [], None, signed, None),
            ("a base the player modified", [], lambda: flip_byte(self.install.path("data/pack.dat"), 5), signed +
             [(full, 200), (full + ".sig", 200)], "Delta patch does not fit the installed file: "),
            ("a server without a delta patch", ["--no-delta"], None, [(delta, 404), (full, 200), (full + ".sig", 200)],
             "Download failed for: %spatches/1001.delta.zip HRESULT: -404" % self.base),
            ("a tampered delta patch", [], lambda: flip_byte(os.path.join(self.served, "patches", "1001.delta.zip"), 300),
             signed + [(full, 200), (full + ".sig", 200)], self.NO_MATCH + "patches/1001.delta.zip"),
        ]
        for what, arguments, change, requests, diagnostic in cases:
            with self.subTest(what):
                self.fresh_installation()
                for folder, files in (("old", old), ("new", new)):
                    shutil.rmtree(os.path.join(self.records, folder), True)
                    for name, content in files.items():
                        demo_content.write_file(os.path.join(self.records, folder, *name.split("/")), content)
                self.install.write("version.dat", "1000")
                for name, content in old.items():
                    self.install.write(name, content)
                made = subprocess.run([self.tool, "patch", "--version", "1001", "--from",
                                       os.path.join(self.records, "old"), "--to", os.path.join(self.records, "new"),
                                       "--out", self.served, "--key", self.key, *arguments],
                                      capture_output=True, text=True)
                self.assertEqual(made.returncode, 0, made.stderr)
                self.assertRegex(made.stderr, r"full patch: [0-9.]+ MiB \([0-9]+ bytes\), " +
                                 ("no delta patch" if arguments else r"delta patch: [0-9.]+ MiB \([0-9]+ bytes\)"))
                if change:
                    change()
                server = self.start_server({"on_hello": accept_then({"send": "patch", "versions": ["1001"]})})
                try:
                    launcher = self.start_launcher()
                    server.wait_for_integrity_requests(1, timeout=LIMIT)
                    self.assertEqual([(e["path"], e["status"]) for e in server.http_log], requests)
                    self.assertEqual(self.install.read("version.dat"), b"1001")
                    for name, content in new.items():
                        self.assertEqual(hashlib.sha256(self.install.read(name)).hexdigest(),
                                         hashlib.sha256(content).hexdigest(), name)
                    self.assertEqual([n for n in listing(self.install.folder) if EXTRACTING in n or
                                      n.startswith("Downloads" + os.sep)], [])
                    if diagnostic:
                        self.assertIn(diagnostic, launcher.stderr)
                    server.close_connection()
                    self.assertEqual(launcher.wait(LIMIT), 0)
                finally:
                    server.stop()

    # Each case: how the served release goes wrong, the diagnostic naming the refusal (None where
    # another check than the signature refuses), and what must not have been installed.
    def publish_demo(self):
        demo_content.publish(self.served, self.tool, self.key)
        demo_content.prepare_installation(self.install.folder)

    def tampered_archive(self):
        self.publish_demo()
        archive = os.path.join(self.served, "patches", "1002.zip")
        flip_byte(archive, os.path.getsize(archive) // 2)

    def old_archive_as_a_newer_one(self):
        self.publish_demo()
        for suffix in ("", ".sig"):
            shutil.copyfile(os.path.join(self.served, "patches", "1001.zip" + suffix),
                            os.path.join(self.served, "patches", "1002.zip" + suffix))

    def repair_without_signature(self):
        self.publish_demo()
        os.remove(os.path.join(self.served, "patches", "Launcher", "data", "textures", "moor.tex.sig"))

    def publish_launcher(self, content, tamper=False):
        self.serve_file(self.PUBLISHED, content)
        subprocess.run([self.tool, "sign", self.key, self.served, self.PUBLISHED], check=True)
        if tamper:
            flip_byte(os.path.join(self.served, self.PUBLISHED), len(content) - 3)

    def check_patch_1002_refused(self):
        self.assertEqual(self.install.read("version.dat"), b"1001")
        self.assertEqual(self.install.read("data/text/strings.txt"), demo_content.PATCH_1001["data/text/strings.txt"])
        self.assertFalse(self.install.exists("data/music/moor.ogg"))

    def check_repair_refused(self):
        self.assertFalse(self.install.exists("data/textures/moor.tex"))
        self.assertIn("MD5 mismatch for: data/textures/moor.tex\n", self.launcher.stderr)

    def test_each_bad_file_is_refused_and_the_launcher_stays_intact_and_still_starts(self):
        launcher_file = self.original + b"\0published launcher 1.1\0"
        script = "#!/bin/sh\ntouch '%s/started'\n" % self.records
        cases = [
            ("a tampered archive", self.tampered_archive, None,
             self.NO_MATCH + "patches/1002.zip", self.check_patch_1002_refused),
            ("the signature of another path", self.old_archive_as_a_newer_one, None,
             self.NO_MATCH + "patches/1002.zip", self.check_patch_1002_refused),
            ("a missing signature", self.repair_without_signature, None,
             "Release signature missing for: %spatches/Launcher/data/textures/moor.tex.sig HRESULT: -404"
             % self.base, self.check_repair_refused),
            ("a tampered launcher", lambda: self.publish_launcher(launcher_file, tamper=True), None,
             self.NO_MATCH + self.PUBLISHED, None),
            ("a truncated launcher without Content-Length", lambda: self.publish_launcher(launcher_file),
             {"cut": {"/" + self.PUBLISHED: 4096}}, self.NO_MATCH + self.PUBLISHED, None),
            ("a shell script served as the launcher", lambda: self.publish_launcher(script.encode()), None,
             None, None),
        ]
        for what, publish, http, diagnostic, check in cases:
            with self.subTest(what):
                self.fresh_installation()
                publish()
                self.refused_once(http, diagnostic, check)

    def refused_once(self, http, diagnostic, check):
        self_update = check is None
        first = ({"on_hello": [{"send": "accept", "text": "false"}]} if self_update else demo_content.script())
        server = self.start_server(dict({"connections": [first, harness.READY_SCRIPT]}, http=http or {}))
        try:
            self.refused_by(server, diagnostic, check)
        finally:
            server.stop()  # the next case needs the ports

    def refused_by(self, server, diagnostic, check):
        self_update = check is None
        self.launcher = launcher = self.start_launcher()
        if self_update:
            # Refused, the launcher ends as when nothing is published, and starts nothing.
            self.assertEqual(launcher.wait(LIMIT), 0)
            self.assertFalse(processes_running(self.install.launcher), "a launcher runs")
            self.assertEqual(len(server.hellos), 1, "a launcher was started")
            self.assertFalse(os.path.exists(os.path.join(self.records, "started")), "the script was run")
        else:
            last = "/patches/Launcher/" + demo_content.VERIFIED[-1][0]
            wait_until(lambda: any(e["path"] == last for e in server.http_log), "the last repair", LIMIT)
            wait_until(lambda: self.install.exists(demo_content.VERIFIED[-1][0]) and
                       self.install.read(demo_content.VERIFIED[-1][0]) == demo_content.VERIFIED[-1][1],
                       "the last repair to be in place", LIMIT)
            check()
            self.assertTrue(launcher.running(), launcher.stderr[-1000:])
            server.close_connection()
            self.assertEqual(launcher.wait(LIMIT), 0)
        if diagnostic:
            self.assertIn(diagnostic + "\n", launcher.stderr)
        self.assertEqual(self.install.read(harness.LAUNCHER_NAME), self.original)
        self.assertTrue(os.access(self.install.launcher, os.X_OK))
        leftovers = [n for n in listing(self.install.folder) if PART in n or EXTRACTING in n
                     or n.startswith("Downloads" + os.sep) or "OLDVersion" in n]
        self.assertEqual(leftovers, [])

        # The launcher left in place still starts and says hello with its own digest.
        again = self.start_launcher()
        self.assertEqual(server.wait_for_hello(timeout=LIMIT, count=2)["digest"], harness.md5_of(self.install.launcher))
        server.close_connection()
        self.assertEqual(again.wait(LIMIT), 0)


# ---------------------------------------------------------------------------------------------

class ReleasePackage(EndToEndCase):
    """The release archive is the launcher alone: pictures and fonts live inside the program."""

    ICONS = [(10, 200), (10, 250), (10, 300), (10, 350)]
    MOON = (300, 130, 80, 70)

    def build_archive(self):
        build = os.environ.get("LAUNCHER_BUILD_DIR", "")
        if not os.path.isfile(os.path.join(build, "CPackConfig.cmake")) or not shutil.which("cpack"):
            self.skipTest("no CPack configuration in LAUNCHER_BUILD_DIR=%r" % build)
        if os.path.realpath(os.path.dirname(harness.launcher_binary())) != os.path.realpath(build):
            self.skipTest("the launcher under test is not the one of LAUNCHER_BUILD_DIR")
        packages = tempfile.mkdtemp(prefix="ostrevan-package-")
        self.addCleanup(shutil.rmtree, packages, True)
        subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", packages],
                       check=True, capture_output=True, timeout=300)
        archives = [n for n in os.listdir(packages) if n.endswith(".tar.gz")]
        self.assertEqual(len(archives), 1, os.listdir(packages))
        return os.path.join(packages, archives[0])

    def test_archive_holds_only_the_launcher_which_runs_alone_with_its_pictures(self):
        archive = self.build_archive()
        listed = subprocess.run(["tar", "tzf", archive], capture_output=True, text=True, check=True).stdout.split()
        self.assertEqual([n.lstrip("./") for n in listed if not n.endswith("/")], [harness.LAUNCHER_NAME])

        unpacked = tempfile.mkdtemp(prefix="ostrevan-unpacked-")
        self.addCleanup(shutil.rmtree, unpacked, True)
        subprocess.run(["tar", "xzf", archive, "-C", unpacked], check=True)
        binary = os.path.join(unpacked, harness.LAUNCHER_NAME)
        self.assertTrue(os.access(binary, os.X_OK))

        # An empty installation folder holding only the unpacked launcher.
        self.install.remove()
        self.install = harness.Installation(binary)
        self.addCleanup(self.install.remove)
        server = self.start_server({"on_hello": accept_then({"send": "patch", "versions": []}),
                                    "on_integrity_request": [{"send": "integrity", "entries": []}]})
        launcher = self.start_launcher()
        window = self.open_window(launcher, server)
        picture = self.wait_for_ready(window, "release_ready")
        self.assertGreater(sum(picture.crop(*self.MOON).mean_color()) / 3, 150, "no background picture (moon)")
        for x, y in self.ICONS:
            self.assertGreater(picture.crop(x, y, 32, 32).fraction_near((255, 200, 40), 60), 0.05,
                               "no icon picture at (%d, %d)" % (x, y))
        self.assertNotIn("loadPicture", launcher.stderr)
        self.assertNotIn("setupFontsAndStyle", launcher.stderr)
        server.close_connection()
        self.assertEqual(launcher.wait(LIMIT), 0)

if __name__ == "__main__":
    unittest.main()
