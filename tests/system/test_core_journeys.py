"""The real launcher against the development server: reaching the server, the hello, waiting for
acceptance, the end of the connection, messages that share or split a network write, and a server
that floods the launcher with news."""

import os
import threading
import time
import unittest

import harness
from harness import LauncherTestCase, dev_server
from status_line import NEWS_ICON, SETTINGS_ICON, client_picture, start_button_shown, wait_for_picture

CANNOT_CONNECT_CAPTION = "Confirmation"
CANNOT_CONNECT_TEXT = "Cannot connect to the server."
EXIT_LIMIT = 20.0


class UnreachableServer(LauncherTestCase):
    def test_confirmation_box_then_exit_0_and_no_launcher_window(self):
        deadline = time.monotonic() + 15
        while harness.port_in_use(harness.game_port()):
            if time.monotonic() > deadline:
                self.skipTest("another program listens on 127.0.0.1:%d" % harness.game_port())
            time.sleep(0.5)
        expected = harness.reference_message_box(CANNOT_CONNECT_CAPTION, CANNOT_CONNECT_TEXT)

        launcher = self.start_launcher()
        box = harness.wait_for_window(CANNOT_CONNECT_CAPTION, timeout=EXIT_LIMIT)
        shown = harness.stable_screenshot(box)
        self.assertNoWindow()
        self.assertEqual((shown.width, shown.height), (expected.width, expected.height),
                         "the box's size differs from a box with the text %r" % CANNOT_CONNECT_TEXT)
        self.assertLess(shown.difference(expected), 0.0002, "the box does not show %r" % CANNOT_CONNECT_TEXT)
        self.assertTrue(launcher.running(), "the launcher ended before the box was answered")

        harness.key("Return", box)
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)
        self.assertIn(CANNOT_CONNECT_TEXT, launcher.stderr)


class ConnectionAndHello(LauncherTestCase):
    def test_server_closing_after_hello_ends_launcher_with_0(self):
        server = self.start_server({"on_hello": [{"close": True}]})
        launcher = self.start_launcher()
        server.wait_for_hello(timeout=EXIT_LIMIT)
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)
        self.assertEqual(server.wait_for_disconnect(timeout=5)["by"], "server")

    def test_hello_is_150_bytes_with_md5_of_installed_launcher(self):
        server = self.start_server({})
        launcher = self.start_launcher()
        hello = server.wait_for_hello(timeout=EXIT_LIMIT)
        digest = harness.md5_of(self.install.launcher)
        self.assertEqual(hello["digest"], digest)
        self.assertEqual(hello["raw"], dev_server.encode_hello(digest))
        self.assertEqual(hello["raw"][:5], bytes.fromhex("e9030000 20"))
        self.assertEqual(hello["raw"][37:], bytes(113))
        # Nothing else comes before the server answers: the hello was the whole first message.
        self.assertTrue(launcher.stays_running(0.5))
        self.assertEqual(server.received_bytes(), hello["raw"])
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)

    def test_without_acceptance_no_window_other_messages_ignored_and_close_ends_with_0(self):
        self.serve_file("patches/1001.zip", harness.zip_bytes({"version.dat": "1001"}))
        server = self.start_server({"on_hello": [
            {"send": "news", "items": ["early"]}, {"wait_ms": 300},
            {"send": "patch", "versions": ["1001"]}, {"wait_ms": 300},
            {"send": "integrity", "entries": [{"name": "a.bin", "downloadPath": "a.bin", "acceptedDigests": ""}]},
        ]})
        launcher = self.start_launcher()
        server.wait_for_hello(timeout=EXIT_LIMIT)
        server.wait_for(lambda events: len([e for e in events if e["kind"] == "sent"]) == 3, timeout=10,
                        what="the three early messages")
        self.assertTrue(launcher.stays_running(2.0), "the launcher ended while waiting for acceptance")
        self.assertNoWindow()
        self.assertEqual(server.http_log, [], "a message before acceptance started a download")
        self.assertEqual(server.integrity_requests, [])
        self.assertFalse(self.install.exists("version.dat"))
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)


class MessageFraming(LauncherTestCase):
    """Messages are framed by their codes and length bytes, not by network reads."""

    def setUp(self):
        super().setUp()
        self.require_no_game_running()

    def test_acceptance_and_patch_list_in_one_write_are_both_handled(self):
        self.serve_file("patches/1001.zip", harness.zip_bytes({"version.dat": "1001", "data/readme.txt": "patched"}))
        server = self.start_server({"on_hello": [{"together": [
            {"send": "accept", "text": "true"}, {"send": "patch", "versions": ["1001"]}]}]})
        self.start_launcher()
        fetch = server.wait_for_http("patches/1001.zip", timeout=EXIT_LIMIT)
        self.assertEqual(fetch["status"], 200)
        # No cache on the way may answer with an old copy of the archive.
        self.assertIn("no-cache", fetch["cache_control"] or "")
        server.wait_for_integrity_requests(1, timeout=EXIT_LIMIT)
        self.assertEqual(self.install.read("data/readme.txt"), b"patched")
        self.assertEqual(self.install.read("version.dat"), b"1001")

    def test_acceptance_and_file_list_in_one_write_are_both_handled(self):
        self.serve_file("patches/Launcher/files/hero.bin", b"hero")
        entry = {"name": "hero.bin", "downloadPath": "files/hero.bin",
                 "acceptedDigests": dev_server.md5_hex(b"hero")}
        server = self.start_server({"on_hello": [{"together": [
            {"send": "accept", "text": "true"}, {"send": "integrity", "entries": [entry]}]}]})
        self.start_launcher()
        self.assertEqual(server.wait_for_http("patches/Launcher/files/hero.bin", timeout=EXIT_LIMIT)["status"], 200)
        self.assertEqual(self._wait_for_file("hero.bin"), b"hero")

    def test_file_list_split_across_two_writes_is_joined(self):
        self.serve_file("patches/Launcher/data/map.bin", b"map data")
        entries = [{"name": "data/map.bin", "downloadPath": "data/map.bin",
                    "acceptedDigests": dev_server.md5_hex(b"map data")}]
        half = len(dev_server.encode_integrity(entries)) // 2
        server = self.start_server({"on_hello": [
            {"send": "accept", "text": "true"}, {"wait_ms": 300},
            {"send": "integrity", "entries": entries, "split": [half], "gap_ms": 50}]})
        launcher = self.start_launcher()
        self.assertEqual(server.wait_for_http("patches/Launcher/data/map.bin", timeout=EXIT_LIMIT)["status"], 200)
        self.assertEqual(self._wait_for_file("data/map.bin"), b"map data")
        self.assertEqual(len([e for e in server.http_log if e["path"].startswith("/patches/Launcher/")]), 1)
        self.assertTrue(launcher.running())

    def test_truncated_file_list_and_unknown_code_leave_later_list_working(self):
        self.serve_file("patches/Launcher/b.bin", b"bee")
        good = [{"name": "b.bin", "downloadPath": "b.bin", "acceptedDigests": dev_server.md5_hex(b"bee")}]
        cut = [{"name": "a.bin", "downloadPath": "a.bin", "acceptedDigests": dev_server.md5_hex(b"a")}]
        server = self.start_server({"on_hello": [
            {"send": "accept", "text": "true"}, {"wait_ms": 300},
            {"send": "integrity", "entries": cut, "truncate": 14}, {"wait_ms": 600},
            {"send": "raw", "hex": "ec030000 01 41"}, {"wait_ms": 300},
            {"send": "integrity", "entries": good}]})
        launcher = self.start_launcher()
        self.assertEqual(server.wait_for_http("patches/Launcher/b.bin", timeout=EXIT_LIMIT)["status"], 200)
        self.assertEqual(self._wait_for_file("b.bin"), b"bee")
        self.assertTrue(launcher.running(), "the launcher ended: %s" % launcher.stderr[-500:])

    def _wait_for_file(self, relative, timeout=10.0):
        """The file's content once the download has written it whole (size stops changing)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.install.exists(relative):
                content = self.install.read(relative)
                time.sleep(0.2)
                if self.install.read(relative) == content:
                    return content
            time.sleep(0.1)
        self.fail("%s never appeared in the installation folder" % relative)


class ConnectionEnd(LauncherTestCase):
    def test_server_closing_during_download_ends_launcher_with_0(self):
        self.require_no_game_running()
        self.serve_file("patches/1001.zip", harness.zip_bytes({"big.bin": os.urandom(400000)}))
        server = self.start_server({
            "on_hello": [{"send": "accept", "text": "true"}, {"wait_ms": 300},
                         {"send": "patch", "versions": ["1001"]}],
            "http": {"throttle": {"chunk_bytes": 4096, "chunk_delay_ms": 50}}})
        launcher = self.start_launcher()
        server.wait_for_http("patches/1001.zip", timeout=EXIT_LIMIT)
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)
        self.assertFalse(self.install.exists("big.bin"))


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    raise AssertionError("no VmRSS for pid %d" % pid)


NEWS_FULL = "News list full (100 items): further news items are dropped"
FLOOD_SECONDS = 60
PANEL_AREA = (895, 55, 230, 480)


class NewsFlood(LauncherTestCase):
    """A server that sends news without end: the list stops at 100 items, memory stays near idle,
    the window keeps answering, and one line says that news was dropped."""

    def test_a_minute_of_news_keeps_memory_near_idle_and_the_window_responsive(self):
        script = {"on_hello": [{"send": "accept", "text": "true"}, {"send": "patch", "versions": []}],
                  "on_integrity_request": [{"send": "integrity", "entries": [], "skipped": ""}]}
        server = self.start_server(script)
        launcher = self.start_launcher()
        window = harness.wait_for_window(harness.BRAND_NAME, timeout=EXIT_LIMIT)
        wait_for_picture(self, window, start_button_shown, "the START GAME button")
        time.sleep(2)  # settle: fonts, pictures and the first frames are allocated by now
        idle = 0.0
        for _ in range(5):
            idle = max(idle, resident_mib(launcher.pid))
            time.sleep(0.2)
        harness.click(window, *NEWS_ICON)  # the news panel draws every item it holds

        # Four items of 250 bytes a message, as fast as the launcher takes them.
        message = dev_server.encode_news(["%03d" % i + "n" * 247 for i in range(4)])
        stop = threading.Event()
        sent = [0]
        # Straight to the socket: the server's record of every message sent would itself grow by
        # the size of the flood.
        connection = server._connection()

        def flood():
            try:
                while not stop.is_set():
                    with connection.send_lock:
                        connection.sock.sendall(message)
                    sent[0] += 1
            except OSError:
                pass

        sender = threading.Thread(target=flood, daemon=True)
        sender.start()
        self.addCleanup(stop.set)
        peak, answered, panel = idle, 0, NEWS_ICON
        end = time.monotonic() + FLOOD_SECONDS
        while time.monotonic() < end:
            # Responsive: a click on the other panel's icon shows that panel within a few seconds.
            before = client_picture(window).crop(*PANEL_AREA)
            panel = SETTINGS_ICON if panel == NEWS_ICON else NEWS_ICON
            harness.click(window, *panel)
            wait_for_picture(self, window, lambda p: p.crop(*PANEL_AREA).difference(before) > 0.1,
                             "the other panel while news floods in", timeout=10)
            answered += 1
            peak = max(peak, resident_mib(launcher.pid))
            time.sleep(2)
        stop.set()
        sender.join(10)
        print("news flood: %d messages in %d s, resident %.1f MiB idle, %.1f MiB at most, %d clicks answered"
              % (sent[0], FLOOD_SECONDS, idle, peak, answered))
        self.assertTrue(launcher.running())
        self.assertGreater(sent[0], 100 // 4, "the flood never filled the news list")
        self.assertLessEqual(peak - idle, 32, "resident memory grew from %.1f to %.1f MiB" % (idle, peak))
        self.assertEqual(launcher.stderr.count(NEWS_FULL), 1, launcher.stderr[-2000:])


if __name__ == "__main__":
    unittest.main()
