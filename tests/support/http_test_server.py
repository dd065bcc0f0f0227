#!/usr/bin/env python3
"""A loopback HTTP server for tests of the download layer.

Serves the files of --root on 127.0.0.1 and prints the port it listens on as the first line of
standard output. Files go out with sendfile, so a large download is limited by loopback, not by
Python. Each request is appended to --log as one JSON line (method, path, lower-case headers).

With --tls CERT KEY it speaks https with that certificate instead.

Faults, chosen per request with the query "?fault=MODE" or per path with "--fault /path=MODE":
  404, 500, any status  answer with that status and a small error page
  redirect              302 to the same path without the query (or to "?to=" when given)
  drop                  announce the whole file, send half of it, close the connection
  short                 announce more bytes than the file holds, send the file, close
  stall                 send the headers and half of the file, then nothing, never closing
  stall-headers         read the request and never answer
"""

import argparse
import json
import os
import ssl
import sys
import threading
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
        fault = query.get("fault", [None])[0] or self.server.faults.get(path)
        if fault == "stall-headers":
            never.wait()
            return
        if fault == "redirect":
            target = query.get("to", [parsed.path])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if fault is not None and fault.isdigit():
            self.send_error_page(int(fault))
            return
        file_path = self.local_path(path)
        if file_path is None:
            self.send_error_page(404)
            return
        with open(file_path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            announced = size + 1000 if fault == "short" else size
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(announced))
            self.end_headers()
            if not send_body:
                return
            if fault in ("drop", "stall"):
                self.wfile.write(f.read(size // 2))
                self.wfile.flush()
                if fault == "stall":
                    never.wait()
                self.close_connection = True
                return
            self.connection.sendfile(f)
            if fault == "short":
                self.close_connection = True

    def send_error_page(self, status):
        body = f"<html><body>error {status}</body></html>".encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
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
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*args.tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.root = os.path.realpath(args.root)
    server.faults = dict(item.split("=", 1) for item in args.fault)
    server.log = open(args.log, "a", encoding="utf-8") if args.log else None
    server.log_lock = threading.Lock()
    threading.Thread(target=exit_with_parent, daemon=True).start()
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
