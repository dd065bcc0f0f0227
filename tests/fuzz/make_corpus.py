#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (tests/fuzz/corpus/<target>/).

Run it again after changing an input layout of a target; the files are small and committed.
Layouts: see the LLVMFuzzerTestOneInput of each target (a piece is a length byte and its bytes).
"""
import io
import os
import struct
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def piece(data):
    if isinstance(data, str):
        data = data.encode()
    return bytes([len(data)]) + data


def field(data):
    return piece(data)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def code(n):
    return struct.pack("<i", n)


def news(*items):
    return code(1000) + bytes([len(items)]) + b"".join(field(i) for i in items)


def accept(answer):
    return code(1001) + field(answer)


def patch(text):
    return code(1002) + field(text)


def integrity(entries, skipped=""):
    body = bytes([len(entries)]) + field(skipped)
    for name, path, digests in entries:
        body += field(name) + field(path) + field(digests)
    return code(1003) + body


MD5_EMPTY = "d41d8cd98f00b204e9800998ecf8427e"


def seeds_fields():
    write("fuzz_fields", "hello", bytes([4, 32, 150]) + accept("0123456789abcdef" * 2)[4:])
    write("fuzz_fields", "news", bytes([5, 2, 12]) + news("A", "BC"))
    write("fuzz_fields", "zero", bytes([8, 5, 10]) + b"\x00abc\x00de\x00")
    write("fuzz_fields", "integrity", bytes([6, 9, 200]) + integrity([("data/a.bin", "data/a.bin", MD5_EMPTY)]))
    write("fuzz_fields", "prefix", bytes([0, 0, 0]) + b"\xe8\x03")
    # News in other scripts, wrapped at 35 bytes in a box of 204 pixels, with its atlas grown.
    write("fuzz_fields", "news_scripts", bytes([0, 34, 204]) + "Привет İstanbul Ελλάδα 静かな荒野 \ufffd".encode()
          + b"\xe3\x81")
    write("fuzz_fields", "utf8", bytes([0, 20, 30]) + "Ostrevan \u00e9\u00e8 \U0001f600 \xff".encode("utf-8", "surrogatepass") + b"\xc3\x28\xed\xa0\x80")


def seeds_dispatch():
    write("fuzz_dispatch", "normal_start", b"\x00" + accept("true") + news("Welcome", "Patch notes")
          + patch("1001\n1002") + integrity([("data/a.bin", "data/a.bin", MD5_EMPTY)]))
    write("fuzz_dispatch", "news_before_accept", b"\x00" + news("early") + accept("true") + news("late"))
    write("fuzz_dispatch", "accepted_patch", b"\x01" + patch("1001") + patch(""))
    write("fuzz_dispatch", "integrity_many", b"\x01" + integrity(
        [("f%d.txt" % i, "f%d.txt" % i, MD5_EMPTY + "None") for i in range(5)], "skip me"))
    write("fuzz_dispatch", "integrity_escape", b"\x01" + integrity(
        [("../outside.txt", "x", "None"), ("sub/../../x", "%2e%2e/x", ""), ("/abs", "a", ""),
         ("ok/inner.bin", "..\\x", ""), ("C:x", "y", "")]))
    write("fuzz_dispatch", "truncated", b"\x01" + integrity([("a", "b", "c"), ("d", "e", "f")])[:-4])
    write("fuzz_dispatch", "two_accepts", b"\x00" + accept("true") + accept("nope") + code(1004) + b"xyz")
    write("fuzz_dispatch", "short", b"\x01\xea\x03")
    write("fuzz_dispatch", "answer_variants", b"\x00" + accept("False") + accept("false ") + accept("fals"))


def zip_bytes(entries, compression=zipfile.ZIP_DEFLATED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", compression) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, (2024, 1, 2, 3, 4, 6))
            info.compress_type = compression
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
            elif name.endswith(".sh"):
                info.external_attr = 0o100755 << 16
                info.create_system = 3
            z.writestr(info, data)
    return out.getvalue()


def raw_zip(entries, shared=()):
    """A ZIP written byte by byte, for what zipfile refuses to write: entries are (name, stored
    bytes, method, crc, declared size); `shared` adds directory records (name, index of the
    entry whose local header they point at, offset into it)."""
    import zlib
    out, records = b"", []
    for name, data, method, crc, size in entries:
        name = name.encode()
        crc = zlib.crc32(data) if crc is None else crc
        size = len(data) if size is None else size
        records.append((name, data, method, crc, size, len(out)))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x21, crc, len(data), size,
                           len(name), 0) + name + data
    for name, index, delta in shared:
        records.append((name.encode(),) + records[index][1:5] + (records[index][5] + delta,))
    directory = b""
    for name, data, method, crc, size, offset in records:
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, 0x21, crc, len(data),
                                 size, len(name), 0, 0, 0, 0, 0, offset) + name
    return out + directory + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(records), len(records),
                                         len(directory), len(out), 0)


def seeds_hostile_extract():
    import zlib

    def deflated(data):
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        return c.compress(data) + c.flush()

    payload = b"v" * 5000
    write("fuzz_extract", "bad_crc_keeps_version", b"\x00" + raw_zip(
        [("version.dat", b"1001", 0, None, None), ("Data/Maps/a.map", payload, 0, zlib.crc32(payload) ^ 1, None)]))
    write("fuzz_extract", "deflate64", b"\x00" + raw_zip(
        [("version.dat", b"1001", 0, None, None), ("Halcyra.exe", deflated(payload), 9, zlib.crc32(payload), 5000)]))
    write("fuzz_extract", "longer_than_declared", b"\x00" + raw_zip(
        [("version.dat", b"1001", 0, None, None), ("a.txt", deflated(payload), 8, zlib.crc32(payload), 100)]))
    inner = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, zlib.crc32(b"i" * 64), 64, 64, 7, 0) \
        + b"inner.x" + b"i" * 64
    write("fuzz_extract", "overlap", b"\x00" + raw_zip(
        [("version.dat", b"1001", 0, None, None), ("outer.x", inner, 0, None, None)],
        [("inner.x", 1, 30 + len("outer.x"))]))
    write("fuzz_extract", "one_stream_five_names", b"\x00" + raw_zip(
        [("big.x", b"\x00" * 4096, 0, None, None)], [("big%d.x" % i, 0, 0) for i in range(4)]))
    write("fuzz_extract", "huge_declared", b"\x00" + raw_zip(
        [("huge.x", deflated(b"\x00" * 100000), 8, zlib.crc32(b"\x00" * 100000), 0xFFFFFFF0)]))
    # Names that meet the links the target's installation holds, and an entry that is a link.
    link = zipfile.ZipInfo("link.txt", (2024, 1, 2, 3, 4, 6))
    link.create_system = 3
    link.external_attr = 0o120777 << 16
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("README.TXT", "replaced")
        z.writestr("Moved/deep/x.dat", "moved")
        z.writestr("data/CANARY.txt", "not the canary")
        z.writestr(link, "../../canary.txt")
        z.writestr(".//version.dat", "1009")
    write("fuzz_extract", "links", b"\x02" + out.getvalue())


def seeds_extract():
    write("fuzz_extract", "plain", b"\x00" + zip_bytes([("version.dat", "1001"), ("Data/Maps/a.map", "new map")]))
    write("fuzz_extract", "readonly", b"\x03" + zip_bytes([("version.dat", "1002"), ("data/maps/A.MAP", "x" * 64)]))
    write("fuzz_extract", "folders", b"\x04" + zip_bytes([("New/", ""), ("New/Deep/", ""), ("New/Deep/f.txt", "f")]))
    write("fuzz_extract", "stored", b"\x00" + zip_bytes([("a.txt", "aaaa"), ("run.sh", "#!/bin/sh\n")], zipfile.ZIP_STORED))
    write("fuzz_extract", "escape", b"\x00" + zip_bytes([("../escape.txt", "x"), ("/abs.txt", "y"),
                                                          ("Data\\..\\..\\b.txt", "z"), ("C:evil", "c"),
                                                          ("ok.txt", "ok")]))
    write("fuzz_extract", "file_then_folder", b"\x00" + zip_bytes([("x", "file"), ("x/", ""), ("x/y", "z"),
                                                                    ("Halcyra.exe/", "")]))
    write("fuzz_extract", "empty", b"\x00" + zip_bytes([]))
    write("fuzz_extract", "bzip2", b"\x00" + zip_bytes([("b.txt", "b" * 300)], zipfile.ZIP_BZIP2))
    write("fuzz_extract", "lzma", b"\x00" + zip_bytes([("l.txt", "l" * 300)], zipfile.ZIP_LZMA))
    data = bytearray(zip_bytes([("crc.txt", "checksum")], zipfile.ZIP_STORED))
    data[data.index(b"checksum")] ^= 1
    write("fuzz_extract", "bad_crc", b"\x00" + bytes(data))
    write("fuzz_extract", "not_zip", b"\x00PK\x03\x04garbage")
    # Names an extraction's own temporaries could have: the archive's files all the same.
    write("fuzz_extract", "named_like_temporary", b"\x00" + zip_bytes([(".extracting-1.tmp", "t"),
                                                                        ("Sub/.EXTRACTING-2.TMP/inner", "i"),
                                                                        ("./x//.extracting-3.tmp", "x")]))


def seeds_profile():
    def profile(section, key, value, size, text):
        return piece(section) + piece(key) + piece(value) + bytes([size]) + (
            text if isinstance(text, bytes) else text.encode())

    write("fuzz_profile", "existing_key", profile("Screen", "Width", "1024", 31,
                                                  "[Screen]\r\nWidth=800\r\nHeight=600\r\n[Config]\r\nFPS=60\r\n"))
    write("fuzz_profile", "new_key", profile("screen", "FullScreen", "1", 31,
                                             "; comment\n[Screen]\nWidth = 800 \n\n[Other]\nx=1\n"))
    write("fuzz_profile", "new_section", profile("Character", "HpBar", "0", 3, "[Screen]\rWidth=1\r"))
    write("fuzz_profile", "quotes", profile("GameMode", "HighTimes", "'12'", 10,
                                            "[GameMode]\nHighTimes=\"4\"\nGameModeRecord=1"))
    write("fuzz_profile", "duplicates", profile("A", "k", "v", 31, "[A]\nk=1\nK=2\n[a]\nk=3\n  [ A ]  \nk=4\n"))
    write("fuzz_profile", "odd", profile(" Sec ", "\tKey", " spaced ", 5, "key=before\n[Sec\nKey=2\n[]\n=empty\n"))
    write("fuzz_profile", "empty_file", profile("Config", "FPS", "-2147483648", 31, ""))
    utf16 = b"\xff\xfe" + "[Screen]\r\nWidth=800\r\nName=Gr\u00f6\u00dfe \U0001f600\r\n".encode("utf-16-le")
    write("fuzz_profile", "utf16", profile("Screen", "Height", "600", 31, utf16))
    write("fuzz_profile", "utf16_unpaired", profile("Screen", "Width", "1024", 31, utf16 + b"\x00\xd8"))
    write("fuzz_profile", "utf16_big_endian", profile("New", "k", "\u00e9", 31, "\ufeff[A]\nx=1".encode("utf-16-be")))


def seeds_versions():
    def versions(flags, installed, delimiter, text):
        return bytes([flags]) + piece(installed) + piece(delimiter) + text.encode()

    write("fuzz_versions", "normal", versions(1, "1000\n", "\n", "1001\n1002"))
    write("fuzz_versions", "no_file", versions(0, "", "\n", "1001\n1002\n"))
    write("fuzz_versions", "descending", versions(1, "1000", "\n", "1003\n1002\n1004"))
    write("fuzz_versions", "spaces", versions(1, " 1000 junk", "\r\n", "1001 \n 1002\n+1003\n-5\nabc\n"))
    write("fuzz_versions", "range", versions(1, "2147483647", "\n", "2147483648\n99999999999\n-2147483649"))
    write("fuzz_versions", "paths", versions(1, "1", "\n", "2/../../x\n3\\y\n..\n4.\n5"))
    write("fuzz_versions", "empty_version", versions(1, "", "", "1001"))
    write("fuzz_versions", "truncated", versions(0x32, "1000", "\n", "1001\n1002\n1003"))


def seeds_delta():
    def model(mode, old, new):
        return bytes([mode]) + struct.pack(">H", len(old)) + old + new

    def raw(announced, delta):
        return b"\x01" + struct.pack(">H", announced) + delta

    pack = bytes(range(256)) * 8
    write("fuzz_delta", "model_insert", model(0, pack, pack[:700] + b"inserted" * 20 + pack[700:]))
    write("fuzz_delta", "model_empty_old", model(2, b"", b"all new"))
    write("fuzz_delta", "model_empty_new", model(4, pack[:300], b""))
    # librsync's delta: magic, literal of 5 bytes, copy (1-byte offset and length), end.
    magic = struct.pack(">I", 0x72730236)
    write("fuzz_delta", "raw_literal_copy", raw(21, magic + b"\x05hello\x45\x00\x10\x00"))
    write("fuzz_delta", "raw_past_base", raw(300, magic + b"\x45\xff\xff\x00"))
    write("fuzz_delta", "raw_manifest", b"\x01ostrevan-delta-v1\n.ostrevan-delta/0\t1\t" + b"a" * 64 +
          b"\t2\t" + b"b" * 64 + b"\tdata/pack.dat\n")


if __name__ == "__main__":
    seeds_fields()
    seeds_dispatch()
    seeds_extract()
    seeds_hostile_extract()
    seeds_profile()
    seeds_versions()
    seeds_delta()
