"""The wire format of the game server connection, as the development server writes and reads it.

Every message begins with its code, a signed 32-bit little-endian integer; every text field is a
length byte followed by that many bytes. The server sends 1000 (news), 1001 (the answer to the
hello), 1002 (patch versions) and 1003 (files to verify); the launcher sends the 150-byte hello
(1001) and the 15-byte integrity request (1003).
"""

import hashlib
import struct

HELLO_SIZE = 150
INTEGRITY_REQUEST_SIZE = 15
CODE_NEWS, CODE_HELLO, CODE_PATCH, CODE_INTEGRITY = 1000, 1001, 1002, 1003


def _bytes(text):
    return text if isinstance(text, (bytes, bytearray)) else str(text).encode("utf-8")


def field(text):
    """A text field: one length byte, then the bytes (no terminator)."""
    data = _bytes(text)
    if len(data) > 255:
        raise ValueError("text field longer than 255 bytes: %d" % len(data))
    return bytes([len(data)]) + data


def code(value):
    return struct.pack("<i", value)


def encode_news(items):
    if len(items) > 255:
        raise ValueError("more than 255 news items")
    return code(CODE_NEWS) + bytes([len(items)]) + b"".join(field(item) for item in items)


def encode_accept(text):
    return code(CODE_HELLO) + field(text)


def encode_patch(versions):
    """Message 1002; `versions` is a list of version texts or the list text itself."""
    text = versions if isinstance(versions, (str, bytes)) else "\n".join(str(v) for v in versions)
    return code(CODE_PATCH) + field(text)


def _entry_fields(entry):
    if isinstance(entry, dict):
        return entry["name"], entry.get("downloadPath", entry["name"]), entry.get("acceptedDigests", "")
    return entry


def encode_integrity(entries, skipped=""):
    """Message 1003; each entry is {"name", "downloadPath", "acceptedDigests"} or such a triple."""
    if len(entries) > 255:
        raise ValueError("more than 255 integrity entries")
    body = b"".join(b"".join(field(f) for f in _entry_fields(e)) for e in entries)
    return code(CODE_INTEGRITY) + bytes([len(entries)]) + field(skipped) + body


def encode_hello(digest):
    """The launcher's hello, for comparing with what a launcher sent."""
    message = code(CODE_HELLO) + field(digest)
    return message + bytes(HELLO_SIZE - len(message))


def encode_integrity_request():
    return code(CODE_INTEGRITY) + bytes(INTEGRITY_REQUEST_SIZE - 4)


def md5_hex(data):
    """The digest text the launcher computes for a file with this content."""
    return hashlib.md5(_bytes(data)).hexdigest()


def parse_hello(raw):
    """The digest text a hello carries (bytes 5 to 5 + length byte)."""
    return raw[5:5 + raw[4]].decode("latin-1")


def encode_step(step):
    """The bytes of one send step (before "split"); "together" joins its inner steps."""
    if "together" in step:
        data = b"".join(encode_step(inner) for inner in step["together"])
    else:
        kind = step["send"]
        if kind == "news":
            data = encode_news(step.get("items", []))
        elif kind == "accept":
            data = encode_accept(step.get("text", "true"))
        elif kind == "patch":
            data = encode_patch(step["text"] if "text" in step else step.get("versions", []))
        elif kind == "integrity":
            data = encode_integrity(step.get("entries", []), step.get("skipped", ""))
        elif kind == "raw":
            data = bytes.fromhex("".join(step["hex"].split())) if "hex" in step else _bytes(step["bytes"])
        else:
            raise ValueError("unknown message kind: %r" % kind)
    if "truncate" in step:
        data = data[:step["truncate"]]
    return data
