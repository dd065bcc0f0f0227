#!/usr/bin/env python3
"""A loopback HTTP server for tests of the download layer.

Serves the files of --root on 127.0.0.1 and prints the port it listens on as the first line of
standard output. Files go out with sendfile, so a large download is limited by loopback, not by
Python. Each request is appended to --log as one JSON line (method, path, lower-case headers).

With --tls CERT KEY it speaks https with that certificate instead.

With --validators, files go out with a strong ETag and Last-Modified, and a Range request
("bytes=N-", with or without a matching If-Range) is answered with 206 and the rest of the file.
The body bytes of every answer are appended, one number a line, to the log's name plus ".sent".

Faults, chosen per request with the query "?fault=MODE" or per path with "--fault /path=MODE".
"MODE*N" applies the fault to the first N requests of that address only, then serves normally.
  404, 500, any status  answer with that status and a small error page
  503:S, any status:S   the same with "Retry-After: S"
  redirect              302 to the same path without the query (or to "?to=" when given)
  drop                  announce the whole file, send half of it, close the connection
  short                 announce more bytes than the file holds, send the file, close
  stall                 send the headers and half of the file, then nothing, never closing
  stall-headers         read the request and never answer
  trickle               send the headers and half of the file, then one byte every 0.2 s
  trickle-headers       send the status line, then header bytes one every 0.2 s, never ending
  reset                 no Content-Length, half of the file, then a connection reset
  nolength              no Content-Length, the whole file, then the connection is closed
"""

import argparse
import json
import email.utils
import io
import os
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

never = threading.Event()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestServer/1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.respond(send_body=True)

    def do_HEAD(self):
        self.respond(send_body=False)

    def respond(self, send_body):
        parsed = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(parsed.query)
        path = urllib.parse.unquote(parsed.path)
        self.record(path)
        fault = self.counted(query.get("fault", [None])[0] or self.server.faults.get(path))
        if fault == "stall-headers":
            never.wait()
            return
        if fault == "trickle-headers":
            self.trickle(b"HTTP/1.1 200 OK\r\nX-Slow: " + b"x" * 100000)
            return
        if fault == "redirect":
            target = query.get("to", [parsed.path])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        status, _, retry_after = (fault or "").partition(":")
        if status.isdigit():
            self.send_error_page(int(status), retry_after)
            return
        file_path = self.local_path(path)
        if file_path is None:
            self.send_error_page(404)
            return
        with open(file_path, "rb") as f:
            info = os.fstat(f.fileno())
            size = info.st_size
            first = self.range_start(info)
            if first is not None and first >= size:
                self.send_error_page(416)
                return
            length = size - (first or 0)
            self.send_response(200 if first is None else 206)
            self.send_header("Content-Type", "application/octet-stream")
            if self.server.validators:
                self.send_header("ETag", self.etag(info))
                self.send_header("Last-Modified", email.utils.formatdate(info.st_mtime, usegmt=True))
            if first is not None:
                self.send_header("Content-Range", f"bytes {first}-{size - 1}/{size}")
            if fault in ("reset", "nolength"):
                self.send_header("Connection", "close")
                self.close_connection = True
            else:
                self.send_header("Content-Length", str(length + 1000 if fault == "short" else length))
            self.end_headers()
            if not send_body:
                return
            f.seek(first or 0)
            if fault in ("drop", "stall", "reset", "trickle"):
                self.wfile.write(f.read(length // 2))
                self.wfile.flush()
                self.count_sent(length // 2)
                if fault == "stall":
                    never.wait()
                if fault == "trickle":
                    self.count_sent(self.trickle(f.read()))
                if fault == "reset":
                    # Closed here, before the server's usual shutdown could send an orderly end.
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.rfile.close()
                    self.wfile.close()
                    self.connection.close()
                    self.rfile, self.wfile = io.BytesIO(), io.BytesIO()
                self.close_connection = True
                return
            self.count_sent(self.connection.sendfile(f, first or 0))
            if fault == "short":
                self.close_connection = True

    def trickle(self, data):
        """Sends `data` a byte every 0.2 s until the client goes away; the bytes sent."""
        sent = 0
        try:
            for byte in data:
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                sent += 1
                time.sleep(0.2)
        except OSError:
            pass
        self.close_connection = True
        return sent

    def counted(self, fault):
        """"MODE*N": the fault holds for the first N requests of this address."""
        if fault is None or "*" not in fault:
            return fault
        mode, _, times = fault.rpartition("*")
        with self.server.log_lock:
            seen = self.server.seen.get(self.path, 0)
            self.server.seen[self.path] = seen + 1
        return mode if seen < int(times) else None

    @staticmethod
    def etag(info):
        return f'"{info.st_mtime_ns:x}-{info.st_size:x}"'

    def range_start(self, info):
        """The first byte asked for, when a Range is to be honoured."""
        asked = self.headers.get("Range", "")
        if not self.server.validators or not asked.startswith("bytes=") or not asked.endswith("-"):
            return None
        condition = self.headers.get("If-Range")
        if condition is not None and condition not in (
                self.etag(info), email.utils.formatdate(info.st_mtime, usegmt=True)):
            return None
        first = asked[len("bytes="):-1]
        return int(first) if first.isdigit() else None

    def count_sent(self, count):
        if self.server.log is None:
            return
        with self.server.log_lock, open(self.server.log.name + ".sent", "a", encoding="utf-8") as sent:
            sent.write(f"{count}\n")

    def send_error_page(self, status, retry_after=""):
        body = f"<html><body>error {status}</body></html>".encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        if retry_after:
            self.send_header("Retry-After", retry_after)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def local_path(self, path):
        root = self.server.root
        candidate = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not candidate.startswith(root + os.sep) or not os.path.isfile(candidate):
            return None
        return candidate

    def record(self, path):
        if self.server.log is None:
            return
        line = json.dumps({
            "method": self.command,
            "path": self.path,
            "headers": {k.lower(): v for k, v in self.headers.items()},
        })
        with self.server.log_lock:
            self.server.log.write(line + "\n")
            self.server.log.flush()


class QuietServer(ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A client that gives up mid-answer (a size limit, a test that ends) is no server error.
        if not isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError)):
            super().handle_error(request, client_address)


def exit_with_parent():
    """A test killed mid-run must not leave its server behind."""
    parent = os.getppid()
    while os.getppid() == parent:
        never.wait(1)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--fault", action="append", default=[], metavar="PATH=MODE")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--validators", action="store_true")
    args = parser.parse_args()

    server = QuietServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*args.tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.root = os.path.realpath(args.root)
    server.faults = dict(item.split("=", 1) for item in args.fault)
    server.log = open(args.log, "a", encoding="utf-8") if args.log else None
    server.log_lock = threading.Lock()
    server.validators = args.validators
    server.seen = {}
    threading.Thread(target=exit_with_parent, daemon=True).start()
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
