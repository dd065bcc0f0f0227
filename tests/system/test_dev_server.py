"""The development server itself: message bytes, the update server, the scripted game server."""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

import harness
from harness import dev_server


def _launcher_socket(server):
    sock = socket.create_connection(("127.0.0.1", server.game_port), timeout=5)
    sock.settimeout(5)
    return sock


def _read_exactly(sock, size):
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            break
        data += chunk
    return data


class MessageBytes(unittest.TestCase):
    def test_news_with_items_a_and_bc(self):
        self.assertEqual(dev_server.encode_news(["A", "BC"]),
                         bytes.fromhex("e8030000 02 01 41 02 4243"))

    def test_patch_list_1001_1002(self):
        self.assertEqual(dev_server.encode_patch(["1001", "1002"]),
                         bytes.fromhex("ea030000 09") + b"1001\n1002")
        self.assertEqual(dev_server.encode_patch("1001\n1002"), dev_server.encode_patch(["1001", "1002"]))

    def test_accept_carries_answer_text(self):
        self.assertEqual(dev_server.encode_accept("false"), bytes.fromhex("e9030000 05") + b"false")
        self.assertEqual(dev_server.encode_accept(""), bytes.fromhex("e9030000 00"))

    def test_integrity_list_fields_in_order(self):
        message = dev_server.encode_integrity(
            [{"name": "a", "downloadPath": "d/a", "acceptedDigests": "xy"}, ("b", "b", "")], skipped="S")
        self.assertEqual(message, bytes.fromhex("eb030000 02 01") + b"S"
                         + b"\x01a\x03d/a\x02xy" + b"\x01b\x01b\x00")

    def test_hello_layout_for_digest_and_none(self):
        digest = "0123456789abcdef" * 2
        hello = dev_server.encode_hello(digest)
        self.assertEqual(hello, bytes.fromhex("e9030000 20") + digest.encode() + bytes(113))
        self.assertEqual(dev_server.encode_hello("None"), bytes.fromhex("e9030000 04") + b"None" + bytes(141))
        self.assertEqual(dev_server.parse_hello(hello), digest)

    def test_field_longer_than_255_bytes_is_refused(self):
        with self.assertRaises(ValueError):
            dev_server.field("x" * 256)

    def test_step_modifiers(self):
        step = {"together": [{"send": "accept", "text": "ok"}, {"send": "news", "items": []}], "truncate": 9}
        self.assertEqual(dev_server.encode_step(step), (dev_server.encode_accept("ok") + dev_server.encode_news([]))[:9])
        self.assertEqual(dev_server.encode_step({"send": "raw", "hex": "e8 03 00 00 00"}), b"\xe8\x03\x00\x00\x00")


class UpdateServer(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="dev-server-root-")
        self.addCleanup(shutil.rmtree, self.root, True)
        os.makedirs(os.path.join(self.root, "patches"))
        with open(os.path.join(self.root, "patches", "1001.zip"), "wb") as f:
            f.write(b"PK archive bytes")
        with open(os.path.join(self.root, "patches", "cut.zip"), "wb") as f:
            f.write(b"PK archive bytes")
        script = {"http": {"status": {"/patches/broken.zip": 500}, "cut": {"/patches/cut.zip": 5}}}
        self.server = dev_server.DevServer(self.root, script, game_port=None, http_port=0).start()
        self.addCleanup(self.server.stop)

    def fetch(self, path, method="GET"):
        request = urllib.request.Request(self.server.base_url + path, method=method)
        try:
            with urllib.request.urlopen(request, timeout=5) as response:
                return response.status, response.headers, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read()

    def test_file_is_served_whole_with_its_length(self):
        status, headers, body = self.fetch("patches/1001.zip")
        self.assertEqual((status, body), (200, b"PK archive bytes"))
        self.assertEqual(headers["Content-Length"], "16")

    def test_cut_file_comes_without_length_and_ends_early(self):
        status, headers, body = self.fetch("patches/cut.zip")
        self.assertEqual((status, headers["Content-Length"], body), (200, None, b"PK ar"))

    def test_head_gives_length_without_body(self):
        status, headers, body = self.fetch("patches/1001.zip", "HEAD")
        self.assertEqual((status, headers["Content-Length"], body), (200, "16", b""))

    def test_missing_file_and_escape_attempt_are_404(self):
        self.assertEqual(self.fetch("patches/1002.zip")[0], 404)
        self.assertEqual(self.fetch("patches/%2e%2e/%2e%2e/etc/passwd")[0], 404)

    def test_root_page_and_status_override(self):
        status, headers, body = self.fetch("")
        self.assertEqual(status, 200)
        self.assertIn(b"<html>", body)
        self.assertEqual(self.fetch("patches/broken.zip")[0], 500)

    def test_every_request_is_recorded_with_status(self):
        self.fetch("patches/1001.zip")
        self.fetch("patches/missing.zip")
        self.assertEqual(self.server.wait_for_http("patches/missing.zip", timeout=5)["status"], 404)
        self.assertEqual([(e["method"], e["path"], e["status"]) for e in self.server.http_log],
                         [("GET", "/patches/1001.zip", 200), ("GET", "/patches/missing.zip", 404)])


class GameServer(unittest.TestCase):
    def start(self, script):
        server = dev_server.DevServer(tempfile.gettempdir(), script, game_port=0, http_port=None).start()
        self.addCleanup(server.stop)
        return server

    def test_hello_triggers_script_and_integrity_request_triggers_again(self):
        list_message = {"send": "integrity", "entries": []}
        server = self.start({"on_hello": [{"send": "accept", "text": "true"}, {"wait_ms": 20},
                                          {"send": "patch", "versions": ["1001"]}],
                             "on_integrity_request": [list_message]})
        with _launcher_socket(server) as sock:
            sock.sendall(dev_server.encode_hello("ab" * 16))
            accept = dev_server.encode_accept("true")
            patch = dev_server.encode_patch(["1001"])
            self.assertEqual(_read_exactly(sock, len(accept) + len(patch)), accept + patch)
            self.assertEqual(server.wait_for_hello(timeout=5)["digest"], "ab" * 16)
            for number in (1, 2):
                sock.sendall(dev_server.encode_integrity_request())
                self.assertEqual(server.wait_for_integrity_requests(number, timeout=5)["number"], number)
                expected = dev_server.encode_integrity([])
                self.assertEqual(_read_exactly(sock, len(expected)), expected)

    def test_hello_split_by_the_network_is_still_one_hello(self):
        server = self.start({})
        with _launcher_socket(server) as sock:
            hello = dev_server.encode_hello("None")
            sock.sendall(hello[:7])
            time.sleep(0.05)
            sock.sendall(hello[7:])
            self.assertEqual(server.wait_for_hello(timeout=5)["digest"], "None")
        server.wait_for_disconnect(timeout=5)
        self.assertEqual(len(server.hellos), 1)

    def test_split_sends_pieces_and_together_sends_one_write(self):
        news = {"send": "news", "items": ["A", "BC"]}
        server = self.start({"on_connect": [dict(news, split=[5], gap_ms=30),
                                            {"together": [news, {"send": "accept", "text": "x"}]}]})
        with _launcher_socket(server) as sock:
            whole = dev_server.encode_news(["A", "BC"])
            expected = whole + whole + dev_server.encode_accept("x")
            self.assertEqual(_read_exactly(sock, len(expected)), expected)
        sent = [e["raw"] for e in server.events if e["kind"] == "sent"]
        self.assertEqual(sent, [whole[:5], whole[5:], whole + dev_server.encode_accept("x")])

    def test_close_step_ends_connection_and_is_recorded(self):
        server = self.start({"on_hello": [{"wait_ms": 10}, {"close": True}, {"send": "accept"}]})
        with _launcher_socket(server) as sock:
            sock.sendall(dev_server.encode_hello("None"))
            self.assertEqual(sock.recv(100), b"")
        self.assertEqual(server.wait_for_disconnect(timeout=5)["by"], "server")
        self.assertFalse([e for e in server.events if e["kind"] == "sent"])

    def test_connections_follow_their_own_scripts_and_the_last_repeats(self):
        server = self.start({"connections": [{"on_connect": [{"send": "accept", "text": "false"}]},
                                             {"on_connect": [{"send": "accept", "text": "true"}]}]})
        for answer in ("false", "true", "true"):
            with _launcher_socket(server) as sock:
                expected = dev_server.encode_accept(answer)
                self.assertEqual(_read_exactly(sock, len(expected)), expected)
        self.assertEqual(server.wait_for_disconnect(timeout=5, count=3)["by"], "launcher")

    def test_api_send_and_close_act_on_current_connection(self):
        server = self.start({})
        with _launcher_socket(server) as sock:
            server.wait_for_connection(timeout=5)
            server.send(b"\x01\x02")
            self.assertEqual(_read_exactly(sock, 2), b"\x01\x02")
            server.close_connection()
            self.assertEqual(sock.recv(10), b"")
        server.wait_for_disconnect(timeout=5)
        with self.assertRaises(RuntimeError):
            server.send(b"late")

    def test_wait_gives_up_with_a_description(self):
        server = self.start({})
        with self.assertRaisesRegex(TimeoutError, "hello 1"):
            server.wait_for_hello(timeout=0.2)


class CommandLine(unittest.TestCase):
    def test_script_file_log_file_and_ready_line(self):
        folder = tempfile.mkdtemp(prefix="dev-server-cli-")
        self.addCleanup(shutil.rmtree, folder, True)
        script_path, log_path = os.path.join(folder, "script.json"), os.path.join(folder, "log.jsonl")
        with open(script_path, "w") as f:
            json.dump({"on_hello": [{"send": "accept", "text": "true"}]}, f)
        process = subprocess.Popen([sys.executable, os.path.join(harness.REPO, "tools", "dev_server.py"),
                                    "--root", folder, "--script", script_path, "--log", log_path,
                                    "--game-port", "0", "--http-port", "0"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.kill)
        ready = json.loads(process.stdout.readline())
        with socket.create_connection(("127.0.0.1", ready["game_port"]), timeout=5) as sock:
            sock.settimeout(5)
            sock.sendall(dev_server.encode_hello("None"))
            expected = dev_server.encode_accept("true")
            self.assertEqual(_read_exactly(sock, len(expected)), expected)
        process.terminate()
        self.assertEqual(process.wait(timeout=10), 0)
        with open(log_path) as f:
            kinds = [json.loads(line)["kind"] for line in f]
        self.assertEqual(kinds[:3], ["connect", "hello", "sent"])
        self.assertIn("disconnect", kinds)


if __name__ == "__main__":
    unittest.main()
