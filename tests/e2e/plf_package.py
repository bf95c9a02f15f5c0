"""Writes packages for the end-to-end tests, independently of the C++
writer: the header, each entry's zlib stream, the directory and its records."""

from __future__ import annotations

import struct
import zlib


def entry(name, data):
    return name.encode("cp1250"), data


def build(entries) -> bytes:
    body, records = bytearray(), []
    for name, data in entries:
        stored = zlib.compress(data, 6)
        record = struct.pack("<iiiI", 20 + len(body), len(stored), len(data), 0)
        record = (record + bytes(8) + bytes([len(name)]) + name).ljust(40, b"\0")  # no date
        records.append(struct.pack("<i", len(record)) + record)
        body += stored
    header = b"ZLIB_PLF" + struct.pack("<IiI", 0x173FE513, 20 + len(body), 0)
    return header + bytes(body) + b"ZLIB_DIR" + struct.pack("<IiI", 0, len(entries), 0) + b"".join(records)


def script_entry(text: str):
    return entry("SCRIPT", text.replace("\n", "\r\n").encode("cp1250"))
