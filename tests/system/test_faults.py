"""The real launcher when things around it fail: the game server closing at each stage, the update
server refusing files, a full disk and an installation folder that cannot be written.

In every case the launcher must not crash (the server closing always ends it with exit code 0) and
must leave no file under a game file's name that holds only part of its content. (That nothing is
written outside the installation is checked where the paths are made: the fuzz targets and the
unit tests of extraction and the integrity check.) The full disk is a small tmpfs and the read-only folder
a read-only bind mount; both need root, and those tests are skipped without it.
"""

import os
import subprocess
import unittest
import zipfile

import harness
from harness import LauncherTestCase, dev_server, wait_until

EXIT_LIMIT = 20.0


def accept_then(*steps):
    return {"on_hello": [{"send": "accept", "text": "true"}, {"wait_ms": 300}, *steps]}


def listing(folder):
    """Every path under `folder` with its size, to compare before and after."""
    found = {}
    for top, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(top, name)
            found[path] = os.path.getsize(path) if os.path.isfile(path) else "dir"
    return found


class Mount:
    """A mount for the length of a test, detached lazily at the end."""

    def __init__(self, test, point, *commands):
        if os.geteuid() != 0:
            test.skipTest("needs root to mount")
        for command in commands:
            if subprocess.run(command, capture_output=True).returncode != 0:
                subprocess.run(["umount", "-l", point], capture_output=True)
                test.skipTest("cannot mount here: %s" % " ".join(command))
        test.addCleanup(subprocess.run, ["umount", "-l", point], capture_output=True)


class FaultTestCase(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.require_no_game_running()


class GameServerCloses(FaultTestCase):
    def test_close_as_soon_as_connected_ends_with_0(self):
        server = self.start_server({"on_connect": [{"close": True}]})
        launcher = self.start_launcher()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)
        server.wait_for_disconnect(timeout=5)
        self.assertNoWindow()

    def test_close_right_after_acceptance_ends_with_0(self):
        server = self.start_server({"on_hello": [{"send": "accept", "text": "true"}, {"close": True}]})
        launcher = self.start_launcher()
        server.wait_for_hello(timeout=EXIT_LIMIT)
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)

    def test_close_during_a_repair_download_ends_with_0_and_leaves_no_partial_file(self):
        content = os.urandom(400000)
        self.serve_file("patches/Launcher/data/big.bin", content)
        self.install.write("data/big.bin", b"damaged")
        entry = {"name": "data/big.bin", "downloadPath": "data/big.bin",
                 "acceptedDigests": dev_server.md5_hex(content)}
        server = self.start_server(dict(accept_then({"send": "integrity", "entries": [entry]}),
                                        http={"throttle": {"chunk_bytes": 4096, "chunk_delay_ms": 50}}))
        launcher = self.start_launcher()
        server.wait_for_http("patches/Launcher/data/big.bin", timeout=EXIT_LIMIT)
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)
        if self.install.exists("data/big.bin"):
            self.assertIn(self.install.read("data/big.bin"), (b"damaged", content))

    def test_close_while_the_patch_archive_is_extracted_ends_with_0_and_leaves_no_partial_file(self):
        # Many entries, so the extraction takes a while after the archive has arrived.
        files = {"data/file%03d.bin" % i: os.urandom(20000) for i in range(600)}
        self.serve_file("patches/1001.zip", harness.zip_bytes(files, zipfile.ZIP_STORED))
        server = self.start_server(accept_then({"send": "patch", "versions": ["1001"]}))
        launcher = self.start_launcher()
        server.wait_for_http("patches/1001.zip", timeout=EXIT_LIMIT)
        wait_until(lambda: self.install.exists("data"), "the extraction to begin", EXIT_LIMIT)
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)
        if os.environ.get("FAULTS_VERBOSE"):
            print("entries extracted before the end: %d of %d" % (
                sum(self.install.exists(n) for n in files), len(files)))
        for name, content in files.items():
            if self.install.exists(name):
                self.assertEqual(self.install.read(name), content, name)


class UpdateServerFaults(FaultTestCase):
    def test_refused_patch_and_repair_are_reported_and_the_launcher_goes_on(self):
        self.install.write("version.dat", "1000")
        entry = {"name": "data/a.bin", "downloadPath": "data/a.bin", "acceptedDigests": dev_server.md5_hex(b"a")}
        server = self.start_server(dict(
            {"on_hello": [{"send": "accept", "text": "true"}, {"wait_ms": 300},
                          {"send": "patch", "versions": ["1001"]}],
             "on_integrity_request": [{"send": "integrity", "entries": [entry]}]},
            http={"status": {"/patches/1001.zip": 500, "/patches/Launcher/data/a.bin": 404}}))
        launcher = self.start_launcher()
        server.wait_for_integrity_requests(1, timeout=EXIT_LIMIT)
        server.wait_for_http("patches/Launcher/data/a.bin", timeout=EXIT_LIMIT)
        wait_until(lambda: "MD5 mismatch for: data/a.bin" in launcher.stderr, "the report of data/a.bin", EXIT_LIMIT)
        self.assertTrue(launcher.running(), launcher.stderr[-1000:])

        base = "http://127.0.0.1:%d/" % harness.http_port()
        errors = launcher.stderr
        self.assertIn("Download failed for: %spatches/1001.zip HRESULT: -500\n" % base, errors)
        self.assertIn("Failed to open archive: %s\n" % self.install.path("Downloads/1001.zip"), errors)
        self.assertIn("Download failed for: %spatches/Launcher/data/a.bin HRESULT: -404\n" % base, errors)
        self.assertEqual(self.install.read("version.dat"), b"1000")
        self.assertFalse(self.install.exists("Downloads/1001.zip"))
        self.assertFalse(self.install.exists("data/a.bin"))
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)


class FullDiskAndReadOnlyFolder(FaultTestCase):
    def test_full_disk_during_the_patch_download_keeps_nothing_and_the_launcher_goes_on(self):
        self.install.write("version.dat", "1000")
        os.makedirs(self.install.path("Downloads"))
        point = self.install.path("Downloads")
        Mount(self, point, ["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", point])
        self.serve_file("patches/1001.zip", harness.zip_bytes({"big.bin": os.urandom(400000)}, zipfile.ZIP_STORED))
        server = self.start_server(accept_then({"send": "patch", "versions": ["1001"]}))
        launcher = self.start_launcher()
        server.wait_for_integrity_requests(1, timeout=EXIT_LIMIT)
        self.assertTrue(launcher.running(), launcher.stderr[-1000:])
        self.assertEqual(os.listdir(point), [])
        self.assertFalse(self.install.exists("big.bin"))
        self.assertIn("Download failed for: ", launcher.stderr)
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)

    def test_read_only_installation_runs_the_whole_journey_without_writing(self):
        self.install.write("version.dat", "1000")
        self.install.write("data/a.bin", "old")
        folder = self.install.folder
        Mount(self, folder, ["mount", "--bind", folder, folder],
              ["mount", "-o", "remount,bind,ro", folder, folder])
        before = listing(folder)
        self.serve_file("patches/1001.zip", harness.zip_bytes({"version.dat": "1001", "data/a.bin": "new"}))
        self.serve_file("patches/Launcher/data/a.bin", b"new")
        entry = {"name": "data/a.bin", "downloadPath": "data/a.bin", "acceptedDigests": dev_server.md5_hex(b"new")}
        server = self.start_server(dict(
            accept_then({"send": "patch", "versions": ["1001"]}),
            on_integrity_request=[{"send": "integrity", "entries": [entry]}]))
        launcher = self.start_launcher()
        server.wait_for_integrity_requests(1, timeout=EXIT_LIMIT)
        wait_until(lambda: "MD5 mismatch for: data/a.bin" in launcher.stderr, "the report of data/a.bin", EXIT_LIMIT)
        self.assertTrue(launcher.running(), launcher.stderr[-1000:])
        self.assertEqual(listing(folder), before)
        self.assertEqual(self.install.read("data/a.bin"), b"old")
        # Not even the temporary beside the file can be written.
        self.assertIn("Download failed for: http://127.0.0.1:%d/patches/Launcher/data/a.bin HRESULT: -1\n"
                      % harness.http_port(), launcher.stderr)
        server.close_connection()
        self.assertEqual(launcher.wait(EXIT_LIMIT), 0)


if __name__ == "__main__":
    unittest.main()
