#!/usr/bin/env python3
"""Development stand-in for the game server and the update server.

Two services on 127.0.0.1, both bound with SO_REUSEADDR:

- the update server: HTTP on port 9539 serving a folder (GET and HEAD, Content-Length, 404 for
  anything missing or outside the folder, a small HTML page for "/" when the folder has no
  index.html). Every request is recorded with its path, method, status and Cache-Control.
- the game server: TCP on port 9538. It takes one launcher connection at a time, reads and
  records the launcher's 150-byte hello (1001) and each 15-byte integrity request (1003), and
  follows a script that says what to send back, when, and when to close.

Files: dev_messages.py holds the message encoders (re-exported here), dev_update_server.py the
HTTP side; this file holds the game server, the records and the command line.

Command line:

    python3 tools/dev_server.py --root FOLDER [--script FILE.json] [--log FILE.jsonl]
                                [--game-port 9538] [--http-port 9539]

Port 0 picks a free port. Once both services listen, one JSON line goes to standard output:
{"ready": true, "game_port": N, "http_port": N}. The server runs until SIGINT or SIGTERM.

Script format (JSON). Either one connection script, or {"connections": [script, ...]}, where the
n-th launcher connection follows the n-th script and later connections follow the last one. A
connection script has up to three lists of steps, each run on its trigger:

    {
      "on_connect": [steps],            right after the connection is accepted
      "on_hello": [steps],              after the launcher's hello has been read
      "on_integrity_request": [steps],  after each integrity request (runs again for every one)
      "http": {"status": {"/patches/1002.zip": 500},          answer these paths with a status
               "throttle": {"chunk_bytes": 4096, "chunk_delay_ms": 20},   slow file bodies down
               "cut": {"/patches/Launcher/OstrevanLauncher": 4096}}    no Content-Length, cut
    }

The "http" key is read from the top level of the file (beside "connections", or in the single
script). Steps run one after another on one thread per connection, in trigger order. A step:

    {"send": "news", "items": ["A", "BC"]}                                  message 1000
    {"send": "accept", "text": "true"}                 message 1001 ("false": launcher out of date)
    {"send": "patch", "versions": ["1001", "1002"]}                          message 1002
    {"send": "patch", "text": "1001\\n1002"}                       1002 with the list text as given
    {"send": "integrity", "entries": [{"name": "data/a.bin", "downloadPath": "data/a.bin",
                                       "acceptedDigests": "<md5>"}], "skipped": ""}   message 1003
    {"send": "raw", "hex": "e8 03 00 00 00"}                         any bytes (spaces are ignored)
    {"together": [send-step, send-step, ...]}           several messages in one write
    {"wait_ms": 250}                                    pause (cut short when the connection ends)
    {"close": true}                                     close the connection now

Any send step (or "together") may also carry:

    "truncate": N            send only the first N bytes
    "split": [N, ...]        cut the bytes at these offsets and send each piece with its own write
    "gap_ms": 50             pause between the pieces of a split (default 50)

Text fields are UTF-8; a field longer than 255 bytes is refused. Closing "after N ms" is
[{"wait_ms": N}, {"close": true}]; closing "after a step" puts {"close": true} after it.

Records: every event (connect, hello, integrity_request, unknown bytes from the launcher, sent,
close, disconnect, http) goes to the in-memory list DevServer.events and, with --log, as one JSON
line to the log file. Byte strings are written as hex.

Python use (tests): DevServer(root, script).start() runs both services on background threads;
wait_for_hello(), wait_for_integrity_requests(n), wait_for_http(path), wait_for_disconnect() and
wait_for(predicate) block until the record appears or raise TimeoutError. Steps given from Python
may also be callables taking the Connection, and send()/close_connection() act on the current one.
"""

import argparse
import json
import os
import signal
import socket
import struct
import sys
import threading
import time


# The message encoders live beside this file; tests reach them through this module too.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dev_messages import *  # noqa: E402,F401,F403
from dev_messages import (CODE_HELLO, CODE_INTEGRITY, HELLO_SIZE, INTEGRITY_REQUEST_SIZE,  # noqa: E402
                          encode_step, parse_hello)
from dev_update_server import UpdateServer  # noqa: E402

DEFAULT_GAME_PORT = 9538
DEFAULT_HTTP_PORT = 9539


# ---------------------------------------------------------------------------------------------
# Records shared by both services

class Recorder:
    def __init__(self, log_path=None):
        self.events = []
        self.changed = threading.Condition()
        self.start = time.monotonic()
        self.log = open(log_path, "a", encoding="utf-8") if log_path else None

    def add(self, kind, **fields):
        event = dict(kind=kind, time=round(time.monotonic() - self.start, 4), **fields)
        with self.changed:
            self.events.append(event)
            if self.log:
                printable = {k: (v.hex() if isinstance(v, (bytes, bytearray)) else v) for k, v in event.items()}
                self.log.write(json.dumps(printable) + "\n")
                self.log.flush()
            self.changed.notify_all()
        return event

    def of(self, kind):
        with self.changed:
            return [e for e in self.events if e["kind"] == kind]

    def wait_for(self, predicate, timeout, what):
        """Waits until predicate(events) gives something true and returns it."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                found = predicate(list(self.events))
                if found:
                    return found
                left = deadline - time.monotonic()
                if left <= 0:
                    recent = [{k: v for k, v in e.items() if k != "raw"} for e in self.events[-8:]]
                    raise TimeoutError("timed out after %.1f s waiting for %s; last events: %s"
                                       % (timeout, what, recent))
                self.changed.wait(left)

    def close(self):
        with self.changed:
            if self.log:
                self.log.close()
                self.log = None


# ---------------------------------------------------------------------------------------------
# Game server

class Connection:
    """One launcher connection: a reader thread parses what the launcher sends, a runner thread
    performs the script's steps in trigger order."""

    def __init__(self, server, sock, number, script):
        self.server, self.sock, self.number, self.script = server, sock, number, script
        self.ended = threading.Event()
        self.closed_by_server = False
        self.send_lock = threading.Lock()
        self.triggers = []
        self.trigger_ready = threading.Condition()
        self.received = bytearray()
        self.integrity_count = 0

    def record(self, kind, **fields):
        return self.server.recorder.add(kind, connection=self.number, **fields)

    def run(self):
        runner = threading.Thread(target=self._run_steps, daemon=True)
        runner.start()
        self._queue("on_connect")
        self._read()
        with self.trigger_ready:
            self.trigger_ready.notify_all()
        runner.join(timeout=5)

    def _queue(self, trigger):
        steps = self.script.get(trigger)
        if steps:
            with self.trigger_ready:
                self.triggers.append((trigger, steps))
                self.trigger_ready.notify_all()

    def _read(self):
        pending = b""
        while True:
            try:
                chunk = self.sock.recv(4096)
            except OSError:
                chunk = b""
            if not chunk:
                break
            self.received += chunk
            pending = self._parse(pending + chunk)
        if pending:
            self.record("unknown", raw=pending)
        self.ended.set()
        self.record("disconnect", by="server" if self.closed_by_server else "launcher",
                    received=len(self.received))

    def _parse(self, pending):
        while len(pending) >= 4:
            value = struct.unpack("<i", pending[:4])[0]
            size = {CODE_HELLO: HELLO_SIZE, CODE_INTEGRITY: INTEGRITY_REQUEST_SIZE}.get(value)
            if size is None:
                self.record("unknown", raw=pending)
                return b""
            if len(pending) < size:
                return pending
            message, pending = pending[:size], pending[size:]
            if value == CODE_HELLO:
                self.record("hello", digest=parse_hello(message), raw=message)
                self._queue("on_hello")
            else:
                self.integrity_count += 1
                self.record("integrity_request", number=self.integrity_count, raw=message)
                self._queue("on_integrity_request")
        return pending

    def _run_steps(self):
        while True:
            with self.trigger_ready:
                while not self.triggers and not self.ended.is_set():
                    self.trigger_ready.wait(0.1)
                if not self.triggers:
                    return
                trigger, steps = self.triggers.pop(0)
            for step in steps:
                if self.ended.is_set() or not self._do(step, trigger):
                    break

    def _do(self, step, trigger):
        if callable(step):
            step(self)
        elif "wait_ms" in step:
            self.ended.wait(step["wait_ms"] / 1000.0)
        elif step.get("close"):
            self.close()
            return False
        else:
            data = encode_step(step)
            cuts = [0] + sorted(step.get("split", [])) + [len(data)]
            pieces = [data[a:b] for a, b in zip(cuts, cuts[1:]) if b > a]
            for index, piece in enumerate(pieces):
                if index:
                    self.ended.wait(step.get("gap_ms", 50) / 1000.0)
                if not self.send(piece, trigger=trigger):
                    return False
        return True

    def send(self, data, trigger="api"):
        with self.send_lock:
            # Recorded before the write, so the record exists by the time the launcher can react.
            self.record("sent", trigger=trigger, raw=bytes(data))
            try:
                self.sock.sendall(data)
            except OSError as error:
                self.record("send_failed", error=str(error))
                return False
        return True

    def close(self):
        self.closed_by_server = True
        self.record("close")
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class GameServer:
    def __init__(self, recorder, scripts, port):
        self.recorder, self.scripts = recorder, scripts
        self.listener = _listen(port)
        self.port = self.listener.getsockname()[1]
        self.current = None
        self.count = 0
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def _serve(self):
        while not self.stopping:
            try:
                sock, _ = self.listener.accept()
            except OSError:
                return
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self.count += 1
            script = self.scripts[min(self.count, len(self.scripts)) - 1] if self.scripts else {}
            self.current = Connection(self, sock, self.count, script)
            self.recorder.add("connect", connection=self.count)
            self.current.run()
            sock.close()

    def stop(self):
        self.stopping = True
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        if self.current:
            self.current.close()
        self.thread.join(timeout=5)


def _listen(port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind(("127.0.0.1", port))
    except OSError as error:
        sock.close()
        raise OSError("cannot listen on 127.0.0.1:%d: %s" % (port, error)) from error
    sock.listen(8)
    return sock


# ---------------------------------------------------------------------------------------------
# Both services together

def split_script(script):
    """(list of connection scripts, http settings) from a script as the file holds it."""
    script = script or {}
    scripts = script.get("connections") or [script]
    return scripts, script.get("http", {})


class DevServer:
    def __init__(self, root=".", script=None, game_port=DEFAULT_GAME_PORT,
                 http_port=DEFAULT_HTTP_PORT, log_path=None):
        self.root = root
        self.scripts, self.http_config = split_script(script)
        self.game_port_wanted, self.http_port_wanted = game_port, http_port
        self.recorder = Recorder(log_path)
        self.game = None
        self.http = None

    def start(self):
        try:
            if self.http_port_wanted is not None:
                self.http = UpdateServer(self.recorder, self.root, self.http_config, self.http_port_wanted)
                self.http.thread.start()
            if self.game_port_wanted is not None:
                self.game = GameServer(self.recorder, self.scripts, self.game_port_wanted)
                self.game.thread.start()
        except OSError:
            self.stop()
            raise
        return self

    def stop(self):
        if self.game:
            self.game.stop()
            self.game = None
        if self.http:
            self.http.stop()
            self.http = None
        self.recorder.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def game_port(self):
        return self.game.port if self.game else None

    @property
    def http_port(self):
        return self.http.server_address[1] if self.http else None

    @property
    def base_url(self):
        return "http://127.0.0.1:%d/" % self.http_port

    # Records ----------------------------------------------------------------------------------
    @property
    def events(self):
        with self.recorder.changed:
            return list(self.recorder.events)

    @property
    def hellos(self):
        return self.recorder.of("hello")

    @property
    def integrity_requests(self):
        return self.recorder.of("integrity_request")

    @property
    def http_log(self):
        return self.recorder.of("http")

    def received_bytes(self, connection=None):
        """Everything the launcher sent on a connection (the current or last one by default)."""
        current = self.game.current if self.game else None
        return bytes(current.received) if current and connection in (None, current.number) else b""

    # Waiting ----------------------------------------------------------------------------------
    def wait_for(self, predicate, timeout=10.0, what="a condition"):
        return self.recorder.wait_for(predicate, timeout, what)

    def _nth(self, kind, count, timeout, what, match=lambda e: True):
        def found(events):
            hits = [e for e in events if e["kind"] == kind and match(e)]
            return hits[count - 1] if len(hits) >= count else None
        return self.wait_for(found, timeout, what)

    def wait_for_connection(self, timeout=10.0, count=1):
        return self._nth("connect", count, timeout, "connection %d" % count)

    def wait_for_hello(self, timeout=10.0, count=1):
        return self._nth("hello", count, timeout, "hello %d" % count)

    def wait_for_integrity_requests(self, count=1, timeout=10.0):
        return self._nth("integrity_request", count, timeout, "%d integrity request(s)" % count)

    def wait_for_http(self, path, timeout=10.0, status=None):
        path = "/" + path.lstrip("/")
        return self._nth("http", 1, timeout, "HTTP %s" % path,
                         lambda e: e["path"] == path and status in (None, e["status"]))

    def wait_for_disconnect(self, timeout=10.0, count=1):
        return self._nth("disconnect", count, timeout, "disconnect %d" % count)

    # Acting on the current connection ---------------------------------------------------------
    def _connection(self):
        current = self.game.current if self.game else None
        if current is None or current.ended.is_set():
            raise RuntimeError("no launcher is connected")
        return current

    def send(self, data):
        return self._connection().send(data)

    def send_step(self, step):
        return self._connection()._do(step, "api")

    def close_connection(self):
        self._connection().close()


def main(argv=None):
    parser = argparse.ArgumentParser(description="Stand-in game server and update server.")
    parser.add_argument("--root", default=".", help="folder served over HTTP")
    parser.add_argument("--script", help="JSON script of the game server (see the module text)")
    parser.add_argument("--log", help="append every event as a JSON line to this file")
    parser.add_argument("--game-port", type=int, default=DEFAULT_GAME_PORT)
    parser.add_argument("--http-port", type=int, default=DEFAULT_HTTP_PORT)
    args = parser.parse_args(argv)
    script = None
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            script = json.load(f)
    server = DevServer(args.root, script, args.game_port, args.http_port, args.log)
    try:
        server.start()
    except OSError as error:
        print("dev_server: %s" % error, file=sys.stderr, flush=True)
        return 1
    stop = threading.Event()
    for number in (signal.SIGINT, signal.SIGTERM):
        signal.signal(number, lambda *_: stop.set())
    print(json.dumps({"ready": True, "game_port": server.game_port, "http_port": server.http_port}),
          flush=True)
    print("dev_server: game server on 127.0.0.1:%d, update server on %s serving %s"
          % (server.game_port, server.base_url, os.path.abspath(args.root)), file=sys.stderr, flush=True)
    while not stop.wait(0.5):
        pass
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
