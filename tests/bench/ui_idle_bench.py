#!/usr/bin/env python3
"""Idle cost of the launcher window, and the time from acceptance to the first frame.

Runs the real launcher under Xvfb (Mesa's llvmpipe) against the development server, brings it to
the ready phase, then leaves it alone for a while and reads from /proc:

- processor use: utime + stime of the process over the idle span, as a share of one core;
- private memory: "Anonymous" of /proc/PID/smaps_rollup; resident memory ("Rss") beside it;
- start-up: the server's monotonic time of sending acceptance (message 1001) against the
  launcher's own "first frame presented at monotonic ... ms" line on standard error.

Prints the numbers against their targets (10 % of a core, 64 MiB private, 300 ms); it asserts
nothing. Usage:

    LAUNCHER_BINARY=build/OstrevanLauncher LAUNCHER_BUILD_DIR=build python3 tests/bench/ui_idle_bench.py [seconds]
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "system"))

import harness  # noqa: E402


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)


def memory_kib(pid):
    values = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name in ("Rss", "Anonymous"):
                values[name] = int(rest.split()[0])
    return values


def main():
    idle_seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30.0
    if not os.path.isfile(harness.launcher_binary()):
        sys.exit("set LAUNCHER_BINARY to the built launcher")
    harness.ensure_display()
    install = harness.Installation()
    served = install.path("served-root")
    os.makedirs(served)
    server = harness.dev_server.DevServer(served, harness.READY_SCRIPT, harness.game_port(), harness.http_port()).start()
    launcher = harness.LauncherProcess(install)
    try:
        server.wait_for_integrity_requests(1, timeout=30)
        try:
            first_frame_at = launcher.wait_for_first_frame(30)
        except harness.WaitTimeout as missing:
            sys.exit(str(missing))
        accept = next(e for e in server.recorder.of("sent") if e.get("raw", b"")[:4] == b"\xe9\x03\x00\x00")
        accepted_at = (server.recorder.start + accept["time"]) * 1000.0
        time.sleep(2.0)  # the ready phase settles (the last frames after "Ready.")

        ticks_per_second = os.sysconf("SC_CLK_TCK")
        before, started = cpu_ticks(launcher.pid), time.monotonic()
        time.sleep(idle_seconds)
        used, elapsed = cpu_ticks(launcher.pid) - before, time.monotonic() - started
        memory = memory_kib(launcher.pid)

        cpu_share = used / ticks_per_second / elapsed
        startup = first_frame_at - accepted_at
        print("idle span: %.1f s in the ready phase, no input, no messages" % elapsed)
        print("processor use: %.2f %% of one core (target <= 10 %%, ratio %.3f)" % (100 * cpu_share, cpu_share / 0.10))
        print("private memory (Anonymous): %.1f MiB (target <= 64 MiB, ratio %.3f)"
              % (memory["Anonymous"] / 1024, memory["Anonymous"] / 1024 / 64))
        print("resident memory (Rss): %.1f MiB" % (memory["Rss"] / 1024))
        print("acceptance to first frame: %.1f ms (target <= 300 ms, ratio %.3f)" % (startup, startup / 300))
    finally:
        launcher.kill()
        server.stop()
        install.remove()
        launcher.remove_output()


if __name__ == "__main__":
    main()
