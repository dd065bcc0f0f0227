#!/usr/bin/env python3
"""Plays the demo by itself where nobody can click: runs the launcher under a virtual X display,
takes a picture of each phase, and presses START GAME once the launcher is ready.

    python3 tools/demo_drive.py --install FOLDER --server-log FILE.jsonl --shots FOLDER
                                [--launcher-log FILE]

The phases are recognised from what the development server recorded (tools/dev_server.py --log)
and from the screen (the START GAME button). Exit code: the launcher's, or 2 when a phase never
came (a picture of the screen at that moment is kept as failed.png).
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "system"))
import harness  # noqa: E402  (display, windows, clicks, screenshots, waiting)
from status_line import NEWS_ICON, SETTINGS_ICON, START_BUTTON, client_picture, start_button_shown  # noqa: E402

LIMIT = 60.0


def server_events(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]
    except OSError:
        return []


def requested(log, prefix):
    return lambda: any(e["kind"] == "http" and e["path"].startswith(prefix) for e in server_events(log))


def drive(launcher, args):
    shots = []

    def shoot(window, name):
        path = os.path.join(args.shots, name + ".png")
        client_picture(window).save_png(path)
        shots.append(path)
        print("demo: %-28s %s" % (name, path), flush=True)

    window = harness.wait_for_window(harness.BRAND_NAME, timeout=LIMIT)
    time.sleep(0.5)
    shoot(window, "1-connected-checking")
    harness.wait_until(requested(args.server_log, "/patches/1001.zip"), "the first patch download", LIMIT)
    # Late enough for the line under the bar to give the speed and the time left.
    time.sleep(0.9)
    shoot(window, "2-patching")
    harness.wait_until(requested(args.server_log, "/patches/Launcher/"), "the repair of a missing file", LIMIT)
    time.sleep(0.3)
    shoot(window, "3-verifying-repairing")
    harness.wait_until(lambda: start_button_shown(client_picture(window)), "the START GAME button", LIMIT)
    time.sleep(0.3)
    shoot(window, "4-ready")
    harness.click(window, *NEWS_ICON)
    time.sleep(0.6)
    shoot(window, "5-news")
    # The news in other scripts lie further down the panel: the mouse wheel scrolls it.
    for _ in range(8):
        harness.click(window, 1000, 300, button=5)
    time.sleep(0.4)
    shoot(window, "5-news-scrolled")
    harness.click(window, *SETTINGS_ICON)
    time.sleep(0.6)
    shoot(window, "6-settings")
    print("demo: pressing START GAME", flush=True)
    harness.click(window, *START_BUTTON)
    return launcher.wait(timeout=LIMIT)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Runs the demo launcher and presses its buttons.")
    parser.add_argument("--install", required=True)
    parser.add_argument("--server-log", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--launcher-log", default=os.devnull)
    args = parser.parse_args(argv)
    os.makedirs(args.shots, exist_ok=True)

    print("demo: no display to show the window on; using a virtual one: %s" % harness.ensure_display(),
          flush=True)
    launcher_path = os.path.join(args.install, harness.LAUNCHER_NAME)
    with open(args.launcher_log, "wb") as log:
        launcher = subprocess.Popen([launcher_path], cwd=args.install, stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=log, start_new_session=True, preexec_fn=harness._die_with_parent)
    try:
        code = drive(launcher, args)
        print("demo: the launcher ended with exit code %d" % code, flush=True)
        return code
    except (TimeoutError, subprocess.TimeoutExpired) as missing:
        path = os.path.join(args.shots, "failed.png")
        harness.screenshot("root", save_to=path)
        print("demo: %s; the screen is in %s" % (missing, path), file=sys.stderr, flush=True)
        return 2
    finally:
        if launcher.poll() is None:
            os.killpg(launcher.pid, signal.SIGKILL)
            launcher.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
