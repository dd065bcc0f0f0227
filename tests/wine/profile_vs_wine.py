#!/usr/bin/env python3
"""The launcher's profile layer against the real Windows private-profile functions under Wine.

Generates settings files the way people and other programs leave them (names in any case and with
blanks around them, duplicates, quotes, comments, lines without '=', lines before the first section,
headers without ']', the three line endings, long values; some stored as UTF-16 (LE or BE)
with a byte-order mark, as Windows editors save them, with text beyond ASCII), then asks the same look-ups of both
profile_probe builds: the native one (the launcher's layer) and the Windows one (run under Wine),
with buffers of 32 and 32768 characters and of sizes near the values, as text and as integers.

Then each file gets a few writes through the launcher, and Wine reads every key of it afresh, as
the client would on its next start: a written key must read as the value written, every other key
as Wine read it before the write. (Wine's own write is no reference: it rewrites the whole file
and loses "[]" headers, which moves keys into the section before.)

Each run uses a fixed seed and a new one; both are printed, and --seed N replays one.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import threading
import time

FIXED_SEED = 20261208
FILES_PER_SEED = 90

NAMES = ["Screen", "Width", "Height", "Config", "FPS", "GameMode", "GameModeRecord", "HighTimes",
         "Character", "HpBar", "ShiftJump", "k", "key", "a b", "x.y", "Key1", "name", "v"]
EXTRA_BLANKS = ["\v", "\f", "\x1a"]
# Text beyond ASCII, which a UTF-16 file holds as it is (Wine reads other files in the ANSI code page).
# Only the basic plane: a buffer that ends inside a surrogate pair gets half of it from Wine, and
# none of it from the launcher (profile.h).
WIDE_VALUES = ["\u00e9", "Gr\u00f6\u00dfe", "\u65e5\u672c\u8a9e", "\u20ac5", "a\u00a0b"]


def blanks(rng, allow_empty=True):
    if allow_empty and rng.random() < 0.55:
        return ""
    pool = [" ", " ", " ", "\t"] + (EXTRA_BLANKS if rng.random() < 0.15 else [])
    return "".join(rng.choice(pool) for _ in range(rng.randint(1, 3)))


def vary_case(rng, name):
    roll = rng.random()
    if roll < 0.6:
        return name
    if roll < 0.75:
        return name.upper()
    if roll < 0.9:
        return name.lower()
    return "".join(c.upper() if rng.random() < 0.5 else c.lower() for c in name)


def new_name(rng):
    roll = rng.random()
    if roll < 0.7:
        return rng.choice(NAMES)
    if roll < 0.8:
        return rng.choice(NAMES) + str(rng.randint(0, 3))
    if roll < 0.87:
        return ";" + rng.choice(NAMES)
    if roll < 0.92:
        return "#" + rng.choice(NAMES)
    if roll < 0.96:
        return rng.choice(["\"q\"", "'s'", "x;y", "a[b", "]c", "@"]) 
    return "".join(rng.choice("abcXYZ019 _.-") for _ in range(rng.randint(1, 6))).strip() or "z"


def new_value(rng):
    roll = rng.random()
    if roll < 0.2:
        return str(rng.randint(-5, 5000))
    if roll < 0.3:
        return rng.choice(["-1", "+7", "4294967297", "-4294967297", "2147483648", "0x10", "42A9", "B4",
                           " 12", "\"13\"", "'-14'", "00000000000000000000000000000012345",
                           "12345678901234567890123456789012345", "1 2", "-", "+", "--3"])
    if roll < 0.45:
        quote = rng.choice(["\"", "'"])
        inner = rng.choice(["", "x", " spaced ", "a\"b", "'", "1024", "q" * rng.randint(25, 40)])
        return rng.choice([quote + inner + quote, quote + inner, inner + quote,
                           quote + inner + rng.choice(["\"", "'"])])
    if roll < 0.55:
        return ""
    if roll < 0.6:
        return "v" * rng.choice([30, 31, 32, 33, 100, 32766, 32767, 32768, 40000])
    if roll < 0.7:
        return rng.choice(["a=b", "x ; y", "[z]", "; not a comment", "=", "==", "a\tb", "a  b"])
    return "".join(rng.choice("abcdefXYZ0123456789 _.,:/") for _ in range(rng.randint(1, 40)))


class File:
    """A generated file and the names a reader could ask for."""

    def __init__(self, rng, wide=None):
        """`wide`: the UTF-16 codec the file is stored in, or None for UTF-8."""
        self.rng = rng
        self.wide = wide
        self.sections = []  # section names as written in headers
        self.probes = []  # (section, key) as generated
        self.text = self.generate()

    def line_key(self, section):
        rng = self.rng
        name = vary_case(rng, new_name(rng) if rng.random() < 0.4 or not self.probes else
                         rng.choice(self.probes)[1])
        self.probes.append((section, name))
        roll = rng.random()
        if roll < 0.03:
            self.probes[-1] = (section, "")
            return "=" + new_value(rng)  # a key with no name
        if roll < 0.8:
            value = rng.choice(WIDE_VALUES) if self.wide and rng.random() < 0.3 else new_value(rng)
            return blanks(rng) + name + blanks(rng) + "=" + blanks(rng) + value + blanks(rng)
        return blanks(rng) + name + blanks(rng)  # a key without a value

    def line_header(self):
        rng = self.rng
        name = vary_case(rng, rng.choice(self.sections) if self.sections and rng.random() < 0.25
                         else new_name(rng))
        roll = rng.random()
        if roll < 0.75:
            text = "[" + name + "]"
        elif roll < 0.82:
            text = "[" + blanks(rng, False) + name + blanks(rng, False) + "]"
        elif roll < 0.9:
            text = "[" + name  # no closing bracket: a key of the section before
            self.probes.append((self.sections[-1] if self.sections else "", text))
        elif roll < 0.94:
            text = "[]"
        else:
            text = "[" + name + "]" + rng.choice(["x]", " ; about it", "junk", "]"])
        self.sections.append(name)
        return blanks(rng) + text + blanks(rng), name

    def generate(self):
        rng = self.rng
        lines = []
        section = ""
        if rng.random() < 0.3:
            for _ in range(rng.randint(1, 3)):
                lines.append(self.line_key(section))
        for _ in range(rng.randint(1, 5)):
            header, section = self.line_header()
            lines.append(header)
            for _ in range(rng.randint(0, 7)):
                roll = rng.random()
                if roll < 0.75:
                    lines.append(self.line_key(section))
                elif roll < 0.85:
                    lines.append(rng.choice([";", "#", "; "]) + rng.choice(["comment", "k=v", "x"]))
                else:
                    lines.append(blanks(rng))
        style = rng.choice(["\r\n", "\n", "\r", "mixed"])
        text = ""
        for line in lines:
            text += line + (rng.choice(["\r\n", "\n", "\r"]) if style == "mixed" else style)
        if rng.random() < 0.2:
            text = text.rstrip("\r\n")
        if rng.random() < 0.05 and not self.wide:
            text = "\ufeff" + text
        return text

    def encoded(self):
        if self.wide:
            return "\ufeff".encode(self.wide) + self.text.encode(self.wide)
        return self.text.encode("utf-8")

    def probe_names(self, count):
        """Look-ups: the names in the file, in other spellings, and names that are not there."""
        rng = self.rng
        names = []
        for _ in range(count):
            if self.probes and rng.random() < 0.8:
                section, key = rng.choice(self.probes)
            else:
                section = rng.choice(self.sections + [""]) if rng.random() < 0.7 else new_name(rng)
                key = new_name(rng)
            names.append((argument(rng, section), argument(rng, key)))
        return names


def argument(rng, name):
    """A name as a caller might pass it: its case changed, blanks around it."""
    name = vary_case(rng, name)
    if rng.random() < 0.15:
        name = rng.choice([" ", "  ", "\t"]) + name
    if rng.random() < 0.15:
        name = name + rng.choice([" ", "  ", "\t"])
    return name


WINE_BLANKS = " \t\n\v\f\r\x1a"


def folded(name):
    """A name as the reader matches it: without blanks around it, in one case."""
    return name.strip(WINE_BLANKS).lower()


def read_back(value):
    """What a reader with a large buffer gives for a value written."""
    value = value.strip(WINE_BLANKS)
    if len(value) >= 2 and value[0] in "'\"" and value[-1] == value[0]:
        value = value[1:-1]
    return value


def write_arguments(rng, generated):
    """A write the launcher takes: names from the file or new ones, no line break, no '=' in the key
    and no ']' where the line would become a header (such writes are refused)."""
    section = rng.choice(generated.sections) if rng.random() < 0.7 else new_name(rng)
    if rng.random() < 0.05:
        section = ""
    keys = [k for s, k in generated.probes if folded(s) == folded(section)]
    key = rng.choice(keys) if keys and rng.random() < 0.7 else new_name(rng)
    value = rng.choice(WIDE_VALUES) if generated.wide and rng.random() < 0.3 else new_value(rng)[:60]
    if rng.random() < 0.15:
        value = rng.choice([" ", "  "]) + value
    clean = lambda text: text.replace("=", "").replace("\r", "").replace("\n", "")
    section, key = argument(rng, clean(section)), argument(rng, clean(key))
    if key.strip(WINE_BLANKS).startswith("["):  # the line "[key=value]" would be a header
        key, value = key.replace("]", ""), value.replace("]", "")
    return section, key, value


def buffer_size(rng):
    roll = rng.random()
    if roll < 0.4:
        return 32
    if roll < 0.7:
        return 32768
    if roll < 0.9:
        return rng.randint(1, 40)
    return rng.choice([2, 3, 4, 5, 31, 33, 32766, 32767, 32769])


def default_text(rng):
    return rng.choice(["", "default", "  padded  ", "\"quoted\"", "'x", "d" * 40, "7"])


def hexed(text):
    data = text.encode("utf-8")
    return data.hex() if data else "."


def unhexed(field):
    return "" if field == "." else bytes.fromhex(field).decode("utf-8", "replace")


class Stream:
    def __init__(self):
        self.commands = []
        self.labels = []

    def read(self, file, section, key, size, default):
        self.commands.append("S %d %s %s %s %s" % (size, hexed(file), hexed(section), hexed(key),
                                                  hexed(default)))
        self.labels.append(("text", file, section, key, size, default))

    def read_int(self, file, section, key, default):
        self.commands.append("I %s %s %s %d" % (hexed(file), hexed(section), hexed(key), default))
        self.labels.append(("int", file, section, key, None, default))

    def write(self, file, section, key, value):
        self.commands.append("W %s %s %s %s" % (hexed(file), hexed(section), hexed(key), hexed(value)))
        self.labels.append(("write", file, section, key, None, value))


class Probe:
    def __init__(self, args, env):
        self.args = args
        self.env = env
        self.folder = os.path.join(args.work, "files") + "/"

    def run(self, stream, windows):
        data = ("\n".join(stream.commands) + "\n").encode()
        if windows:
            command = ["wine", self.args.windows, "Z:" + self.folder.replace("/", "\\")]
        else:
            command = [self.args.host, self.folder]
        result = subprocess.run(command, input=data, stdout=subprocess.PIPE, env=self.env, timeout=600)
        answers = result.stdout.decode().replace("\r", "").split("\n")[:len(stream.commands)]
        if result.returncode != 0 or len(answers) != len(stream.commands):
            sys.exit("%s probe failed (exit %d, %d of %d answers)" % (
                "Windows" if windows else "native", result.returncode, len(answers), len(stream.commands)))
        return answers

    def run_both(self, wine_stream, host_stream):
        """Both probes at once: Wine's start-up is the slow part."""
        out = {}

        def run_wine():
            try:
                out["wine"] = self.run(wine_stream, True)
            except SystemExit as failure:
                out["failure"] = failure

        thread = threading.Thread(target=run_wine)
        thread.start()
        host = self.run(host_stream, False)
        thread.join()
        if "failure" in out:
            raise out["failure"]
        return out["wine"], host


def prepare_wine(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)  # headless: nothing may open a window
    first = not os.path.exists(os.path.join(prefix, "system.reg"))
    os.makedirs(prefix, exist_ok=True)
    # One server for all the runs, gone 30 s after the last (or the one already running for this
    # prefix); its output must not hold the caller's pipes open.
    subprocess.run(["wineserver", "-p30"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if first:
        started = time.monotonic()
        subprocess.run(["wineboot", "--init"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog",
                        "/t", "REG_DWORD", "/d", "0", "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        print("created the Wine prefix %s in %.1f s" % (prefix, time.monotonic() - started))
    return env


def describe(label, answer_a, answer_b, names):
    kind, file, section, key, size, default = label
    shown = lambda a: repr(unhexed(a)) if kind == "text" else a
    return "%s %s [%r] %r buffer=%s default=%r: %s %s, %s %s" % (
        kind, file, section, key, size, default, names[0], shown(answer_a), names[1], shown(answer_b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True, help="the native profile_probe")
    parser.add_argument("--windows", required=True, help="the Windows profile_probe (.exe)")
    parser.add_argument("--prefix", required=True, help="the Wine prefix, created on first use")
    parser.add_argument("--work", required=True, help="a scratch folder, emptied first")
    parser.add_argument("--seed", type=int, action="append", help="replay this seed only")
    parser.add_argument("--files", type=int, default=FILES_PER_SEED)
    args = parser.parse_args()
    for name in ("host", "windows", "prefix", "work"):
        setattr(args, name, os.path.abspath(getattr(args, name)))

    seeds = args.seed or [FIXED_SEED, int.from_bytes(os.urandom(4), "little")]
    print("seeds: %s (replay one with --seed N)" % " ".join(map(str, seeds)), flush=True)
    started = time.monotonic()
    env = prepare_wine(args.prefix)
    try:
        return compare_all(args, env, seeds, started)
    finally:
        subprocess.run(["wineserver", "-k"], env=env)


def compare_all(args, env, seeds, started):
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(os.path.join(args.work, "files"))
    probe = Probe(args, env)

    files = {}
    reads = Stream()  # the same look-ups for both
    before, host_after, wine_after = Stream(), Stream(), Stream()  # every key around the writes
    writes = []  # per look-up of wine_after: the value written to its key, if any
    for seed in seeds:
        rng = random.Random(seed)
        for index in range(args.files):
            generated = File(rng, wide=rng.choice(["utf-16-le", "utf-16-be"]) if rng.random() < 0.2 else None)
            name = "s%d_%03d.ini" % (seed, index)
            copy = name[:-4] + "_written.ini"
            files[name] = generated.text
            for path in (name, copy):
                with open(os.path.join(args.work, "files", path), "wb") as out:
                    out.write(generated.encoded())
            for section, key in generated.probe_names(30):
                reads.read(name, section, key, buffer_size(rng), default_text(rng))
                reads.read_int(name, section, key, rng.choice([0, -1, 7, 2147483647, -2147483648]))

            written = {}
            for _ in range(rng.randint(1, 3)):
                section, key, value = write_arguments(rng, generated)
                host_after.write(copy, section, key, value)
                written[(folded(section), folded(key))] = value
            names = generated.probe_names(12) + [(s, k) for s, k in generated.probes]
            names += [(rng.choice([s, s.upper()]), k) for s, k in written]
            for section, key in names:
                before.read(name, section, key, 32768, "absent")
                host_after.read(copy, section, key, 32768, "absent")
                wine_after.read(copy, section, key, 32768, "absent")
                writes.append(written.get((folded(section), folded(key))))

    failures = []

    def compare(stream, a, b, names):
        for label, one, other in zip(stream.labels, a, b):
            if one != other:
                failures.append(describe(label, one, other, names))

    wine_first, host_all = Stream(), Stream()
    wine_first.commands = reads.commands + before.commands
    host_all.commands = reads.commands + host_after.commands
    wine_answers, host_answers = probe.run_both(wine_first, host_all)
    compare(reads, wine_answers, host_answers, ("Wine", "launcher"))
    wine_before = wine_answers[len(reads.commands):]
    host_answers = host_answers[len(reads.commands):]
    host_writes = [a for label, a in zip(host_after.labels, host_answers) if label[0] == "write"]
    if host_writes.count("1") != len(host_writes):
        failures.append("%d writes through the launcher failed" % host_writes.count("0"))
    launcher_reads = [a for label, a in zip(host_after.labels, host_answers) if label[0] != "write"]

    # Wine reads every key of the launcher's copies afresh: a written key reads as the value
    # written, every other key as it read before the write.
    wine_answers_after = probe.run(wine_after, True)
    for label, got, old, value in zip(wine_after.labels, wine_answers_after, wine_before, writes):
        expected = old if value is None else hexed(read_back(value))
        if got != expected:
            failures.append(describe(label, got, expected, ("Wine after the launcher's write", "expected")))
    compare(wine_after, wine_answers_after, launcher_reads, ("Wine", "launcher"))

    print("%d look-ups compared: %d asked of both, %d after %d writes through the launcher "
          "(Wine against the expected value and against the launcher); %d files, %.1f s" % (
              len(reads.commands) + 2 * len(wine_after.commands), len(reads.commands),
              2 * len(wine_after.commands), len(host_writes), len(files), time.monotonic() - started))
    if failures:
        for failure in failures[:40]:
            print("DIFFERENT: " + failure)
        print("%d differences; the files are in %s; seeds %s" % (len(failures), args.work, seeds))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
