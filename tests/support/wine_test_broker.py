#!/usr/bin/env python3
"""Runs one Windows test program under Wine with the Linux side's test tools at its call.

    wine_test_broker.py WINE PROGRAM.exe [ARGUMENTS...]

Listens on 127.0.0.1 for the length of the program's run and passes "PORT:TOKEN" in
LAUNCHER_TEST_BROKER; a request without the token (another user's program on this machine) is
refused. Each connection carries one request, one JSON line each way, with "token": TOKEN:
  {"serve": [ARGUMENTS]}         starts http_test_server.py with them: {"id": ID, "port": PORT}
  {"stop": ID}                   ends that server: {}
  {"run": [ARGV], "cwd": FOLDER}  runs a program (python3, zip, ...; a ".exe" under Wine):
                                 {"status": N, "output": TEXT}
Arguments that are Windows paths ("C:\\...", "Z:/...") are read as the Unix paths Wine maps them
to. Exits with the program's status, after ending every server it started.
"""

import json
import os
import re
import secrets
import signal
import socketserver
import subprocess
import sys
import threading

here = os.path.dirname(os.path.abspath(__file__))
windows_path = re.compile(r"^([A-Za-z]):[\\/]")
servers = {}
servers_lock = threading.Lock()
token = secrets.token_hex(16)


def unix_path(argument):
    """A Windows path as Wine maps it: each drive is a link in the prefix's dosdevices."""
    match = windows_path.match(argument)
    if not match:
        return argument
    prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
    drive = os.path.realpath(os.path.join(prefix, "dosdevices", match.group(1).lower() + ":"))
    rest = argument[3:].replace("\\", "/")
    return os.path.join(drive, rest) if rest else drive


def serve(arguments):
    command = [sys.executable, os.path.join(here, "http_test_server.py")] + [unix_path(a) for a in arguments]
    server = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    line = server.stdout.readline().strip()
    if not line.isdigit():
        server.kill()
        server.wait()
        return {"id": 0, "port": 0}
    with servers_lock:
        servers[server.pid] = server
    return {"id": server.pid, "port": int(line)}


def stop(identifier):
    with servers_lock:
        server = servers.pop(identifier, None)
    if server is not None:
        server.terminate()
        server.wait()
    return {}


def run(argv, folder):
    command = [unix_path(a) for a in argv]
    if command[0].lower().endswith(".exe"):
        command = [sys.argv[1]] + command
    try:
        done = subprocess.run(command, cwd=unix_path(folder) if folder else None,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=300)
    except (OSError, subprocess.TimeoutExpired) as error:
        print(f"wine_test_broker: {argv[0]}: {error}", file=sys.stderr, flush=True)
        return {"status": -1, "output": ""}
    return {"status": done.returncode, "output": done.stdout.decode("utf-8", "replace")}


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        request = json.loads(self.rfile.readline())
        if request.get("token") != token:
            return
        if "serve" in request:
            answer = serve(request["serve"])
        elif "stop" in request:
            answer = stop(request["stop"])
        else:
            answer = run(request["run"], request.get("cwd", ""))
        self.wfile.write((json.dumps(answer) + "\n").encode())


class Broker(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    broker = Broker(("127.0.0.1", 0), Handler)
    threading.Thread(target=broker.serve_forever, daemon=True).start()
    environment = dict(os.environ, LAUNCHER_TEST_BROKER=f"{broker.server_address[1]}:{token}")
    program = subprocess.Popen(sys.argv[1:], env=environment)
    # CTest ends a test that runs too long: the program and the servers go with the broker.
    signal.signal(signal.SIGTERM, lambda *_: program.kill())
    status = program.wait()
    # No shutdown of the listener (it would wait out its poll): it ends with this process.
    with servers_lock:
        for identifier in list(servers):
            servers[identifier].kill()
            servers[identifier].wait()
    return status


if __name__ == "__main__":
    sys.exit(main())
