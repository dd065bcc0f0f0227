"""The development update server: a folder served over HTTP on 127.0.0.1, every request recorded.

GET and HEAD, Content-Length on every answer, 404 for anything missing or outside the folder, a
small HTML page for "/" when the folder has no index.html. Settings (the "http" key of a script):
"status" answers listed paths with a fixed status; "throttle" sends file bodies in chunks with a
pause between them, so that a download lasts long enough to watch; "cut" ({"/path": N}) answers a
path without Content-Length and closes after its first N bytes, a transfer cut short that no
client can tell from a whole one. A file carries a strong ETag (its MD5) and is resumed from a
"Range: bytes=N-" request (206) while an If-Range names that ETag; the log records the Range asked.
"""

import hashlib
import html
import mimetypes
import os
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


ROOT_PAGE = "<!DOCTYPE html><html><head><title>%s</title></head><body><h1>%s</h1></body></html>\n"


class UpdateHandler(BaseHTTPRequestHandler):
    server_version = "OstrevanDevServer/1.0"

    def do_GET(self):
        self._answer(body=True)

    def do_HEAD(self):
        self._answer(body=False)

    def log_message(self, format, *args):
        pass

    def _answer(self, body):
        config = self.server.config
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        local = self._local_path(path)
        status = config.get("status", {}).get(path)
        content, kind, etag = None, "application/octet-stream", None
        if status is None:
            if path == "/" and not (local and os.path.isfile(os.path.join(local, "index.html"))):
                title = html.escape("Ostrevan update server")
                content, kind, status = (ROOT_PAGE % (title, title)).encode(), "text/html", 200
            else:
                if local and os.path.isdir(local):
                    local = os.path.join(local, "index.html")
                if local and os.path.isfile(local):
                    with open(local, "rb") as f:
                        content = f.read()
                    kind = mimetypes.guess_type(local)[0] or kind
                    status, etag = 200, '"%s"' % hashlib.md5(content).hexdigest()
                else:
                    status = 404
        if content is None:
            content, kind = ("%d\n" % status).encode(), "text/plain"
        first = self._range_start(etag, len(content))
        whole = len(content)
        if first is not None:
            status, content = 206, content[first:]
        self.server.recorder.add("http", method=self.command, path=path, status=status,
                                 cache_control=self.headers.get("Cache-Control"), range=self.headers.get("Range"))
        cut = config.get("cut", {}).get(path)
        self.send_response(status)
        self.send_header("Content-Type", kind)
        if etag:
            self.send_header("ETag", etag)
        if first is not None:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, whole - 1, whole))
        if cut is None:
            self.send_header("Content-Length", str(len(content)))
        else:
            content, self.close_connection = content[:cut], True
        self.end_headers()
        if body:
            self._write(content, config.get("throttle"))

    def _range_start(self, etag, size):
        """Where a resumed request of the current copy starts, or None for the whole file."""
        asked = self.headers.get("Range", "")
        if not etag or not asked.startswith("bytes=") or not asked.endswith("-"):
            return None
        if self.headers.get("If-Range", etag) != etag:
            return None
        start = asked[len("bytes="):-1]
        return int(start) if start.isdigit() and 0 < int(start) < size else None

    def _local_path(self, path):
        parts = [p for p in path.split("/") if p]
        if any(p in ("..", ".") or "\\" in p or "\0" in p for p in parts):
            return None
        return os.path.join(self.server.root, *parts)

    def _write(self, content, throttle):
        step = (throttle or {}).get("chunk_bytes") or len(content) or 1
        delay = (throttle or {}).get("chunk_delay_ms", 0) / 1000.0
        try:
            for start in range(0, len(content), step):
                self.wfile.write(content[start:start + step])
                self.wfile.flush()
                if delay and start + step < len(content):
                    time.sleep(delay)
        except OSError:
            pass


class UpdateServer(ThreadingHTTPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, recorder, root, config, port):
        self.recorder, self.root, self.config = recorder, os.path.abspath(root), config
        try:
            super().__init__(("127.0.0.1", port), UpdateHandler)
        except OSError as error:
            raise OSError("cannot listen on 127.0.0.1:%d: %s" % (port, error)) from error
        self.thread = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1},
                                       daemon=True)

    def stop(self):
        self.shutdown()
        self.server_close()
        self.thread.join(timeout=5)
