#!/usr/bin/env python3
"""Demo content for the development server: what a small live deployment would publish.

- news for the news panel, in English and in four other scripts (Turkish, Russian, Greek,
  Japanese), which the launcher draws from its text face and the system's CJK face;
- two patch archives made here and now: patches/1001.zip by Python's zipfile (deflated, with a
  subfolder) and patches/1002.zip by Info-ZIP `zip` (stored and deflated entries, one replacing a
  file of 1001); each carries version.dat at its root;
- or, for a launcher built with a release key, a signed release: patches/1002.zip made and signed
  by the release tool (`<brand>-release patch`) from the folders before and after it, and every
  other published file signed by the tool (`<brand>-release sign`);
- a file list for the integrity check: one file the patches install (in order), one file the
  installation lacks and one it holds with other content; both are repaired from
  patches/Launcher/;
- the game server's script: accept the launcher, send the news, list both patches, and answer
  every integrity request with the file list.

The end-to-end tests run the same content and check what it leaves behind (EXPECTED_FILES), so
the demo shows what the tests prove.

Command line (used by scripts/demo.sh):

    python3 tools/demo_content.py --served FOLDER --install FOLDER --script FILE.json [--slow]
                                  [--release-tool TOOL --key PRIVATE.pem]

writes the update server's folder, the pieces of the installation that exist before the first
start (not the launcher and not the game client), and the script for tools/dev_server.py. With
--slow the update server sends file bodies slowly and the game server pauses between steps, so
that each phase stays on screen for a while.
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import zipfile

NEWS = [
    "Season of the Quiet Moor begins: new quests in the northern marshes.",
    "Server maintenance every Tuesday, 06:00 to 08:00.",
    "Double experience weekend!",
]
# The same community writes in its own scripts: Latin Extended, Cyrillic, Greek and Japanese.
NEWS_WORLDWIDE = [
    "Sessiz Bozkır sezonu başlıyor: kuzey bataklıklarında yeni görevler.",
    "Сезон Тихой пустоши начинается: новые задания на северных болотах.",
    "Η σεζόν του Σιωπηλού Έλους ξεκινά: νέες αποστολές στους βάλτους.",
    "静かな荒野のシーズン開幕：北の湿地に新しいクエスト。",
]
INSTALLED_VERSION = "1000"
PATCH_VERSIONS = ["1001", "1002"]


def _content(seed, size):
    """Deterministic bytes that do not compress to nothing."""
    out = bytearray()
    block = seed.encode()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:size])


# The patch contents; later archives write over earlier ones.
PATCH_1001 = {
    "version.dat": b"1001",
    "data/maps/quietmoor.map": _content("quietmoor map", 300_000),
    "data/text/strings.txt": b"greeting=Welcome to Ostrevan\r\n",
}
PATCH_1002 = {
    "version.dat": b"1002",
    "data/text/strings.txt": b"greeting=Welcome back to Ostrevan\r\nfarewell=Safe travels\r\n",
    "data/music/moor.ogg": _content("moor music", 250_000),
}
# Files the integrity check verifies: (name, served content, what the installation holds first).
REPAIRED_MISSING = ("data/textures/moor.tex", _content("moor texture", 120_000), None)
REPAIRED_CHANGED = ("data/sounds/bell.wav", _content("bell sound", 60_000), b"damaged by a crash")
VERIFIED = [
    ("data/maps/quietmoor.map", PATCH_1001["data/maps/quietmoor.map"], None),
    REPAIRED_MISSING,
    REPAIRED_CHANGED,
]

# What the installation holds after a normal start (besides the launcher and the game client).
EXPECTED_FILES = dict(PATCH_1001)
EXPECTED_FILES.update(PATCH_1002)
EXPECTED_FILES.update({name: content for name, content, _ in VERIFIED})


def md5_hex(data):
    return hashlib.md5(data).hexdigest()


def write_file(path, content):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)
    return path


def python_zip(path, files):
    """An archive written by Python's zipfile, deflated."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, content in files.items():
            archive.writestr(name, content)
    return path


def infozip_zip(path, files):
    """An archive written by Info-ZIP `zip` from a folder holding `files` (folder entries
    included, extra fields stripped with -X, as a release tool would make it)."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    if os.path.exists(path):
        os.remove(path)
    staging = tempfile.mkdtemp(prefix="ostrevan-zip-")
    try:
        for name, content in files.items():
            write_file(os.path.join(staging, *name.split("/")), content)
        subprocess.run(["zip", "-q", "-r", "-X", os.path.abspath(path), "."], cwd=staging, check=True)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return path


def publish(served, tool=None, key=None):
    """Fills the update server's folder; with the release tool and a private key, signed."""
    python_zip(os.path.join(served, "patches", "1001.zip"), PATCH_1001)
    if tool:
        tool_patch(tool, key, served)
    else:
        infozip_zip(os.path.join(served, "patches", "1002.zip"), PATCH_1002)
    for name, content, _ in VERIFIED:
        write_file(os.path.join(served, "patches", "Launcher", *name.split("/")), content)
    if tool:
        unsigned = [os.path.relpath(os.path.join(top, name), served).replace(os.sep, "/")
                    for top, _, names in os.walk(served) for name in names if not name.endswith(".sig")
                    and not os.path.exists(os.path.join(top, name + ".sig"))]
        run_tool(tool, "sign", key, served, *sorted(unsigned))


def tool_patch(tool, key, served):
    """patches/1002.zip, made and signed by the release tool from the game's folder as 1001 left
    it and as 1002 leaves it; the tool also publishes that folder's files for repairs."""
    staging = tempfile.mkdtemp(prefix="ostrevan-release-")
    try:
        before, after = os.path.join(staging, "1001"), os.path.join(staging, "1002")
        for folder, files in ((before, PATCH_1001), (after, dict(PATCH_1001, **PATCH_1002))):
            for name, content in files.items():
                if name != "version.dat":
                    write_file(os.path.join(folder, *name.split("/")), content)
        run_tool(tool, "patch", "--version", "1002", "--from", before, "--to", after, "--out", served, "--key", key)
    finally:
        shutil.rmtree(staging, ignore_errors=True)


def run_tool(*command):
    """Runs the release tool quietly; what it said goes into the error when it fails."""
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(command), result.returncode, result.stderr))
    return result.stdout


def prepare_installation(install):
    """What the installation holds before its first start: an old version and a damaged file."""
    write_file(os.path.join(install, "version.dat"), INSTALLED_VERSION.encode())
    for name, _, before in VERIFIED:
        if before is not None:
            write_file(os.path.join(install, *name.split("/")), before)
    # The game client's own settings (newer layout), so the settings panel has values to show.
    write_file(os.path.join(install, "config.ini"),
               b"[Screen]\r\nWidth=1280\r\nHeight=720\r\nFullScreen=0\r\n"
               b"[Config]\r\nFPS=144\r\n[Character]\r\nShiftJump=1\r\nHpBar=1\r\nHideEffect=0\r\n")
    write_file(os.path.join(install, "ini", "GameSetup.ini"),
               b"[GameMode]\r\nGameModeRecord=1\r\nHighTimes=3\r\nLowTimes=5\r\n")


def integrity_entries():
    return [{"name": name, "downloadPath": name, "acceptedDigests": md5_hex(content)}
            for name, content, _ in VERIFIED]


def script(slow=False):
    """The game server's script for a normal start."""
    pause = [{"wait_ms": 1500}] if slow else [{"wait_ms": 300}]
    result = {
        "on_hello": [{"send": "accept", "text": "true"}, {"wait_ms": 200},
                     {"send": "news", "items": NEWS + NEWS_WORLDWIDE}, *pause,
                     {"send": "patch", "versions": PATCH_VERSIONS}],
        "on_integrity_request": [{"send": "integrity", "entries": integrity_entries()}],
    }
    if slow:
        result["http"] = {"throttle": {"chunk_bytes": 16384, "chunk_delay_ms": 60}}
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(description="Writes the demo content of the development server.")
    parser.add_argument("--served", required=True, help="folder the update server serves")
    parser.add_argument("--install", required=True, help="installation folder to prepare")
    parser.add_argument("--script", required=True, help="game server script to write (JSON)")
    parser.add_argument("--slow", action="store_true", help="slow transfers, pauses between steps")
    parser.add_argument("--release-tool", help="the release tool, to publish a signed release")
    parser.add_argument("--key", help="the private key the release tool signs with")
    args = parser.parse_args(argv)
    if bool(args.release_tool) != bool(args.key):
        parser.error("--release-tool and --key go together")
    publish(args.served, args.release_tool, args.key)
    prepare_installation(args.install)
    with open(args.script, "w", encoding="utf-8") as f:
        json.dump(script(args.slow), f, indent=1)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
