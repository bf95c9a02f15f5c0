"""Writes packages for the end-to-end tests, independently of the C++
writer: the header, each entry's zlib stream, the directory and its records.
An entry may lie about its sizes, or carry damaged data, to make packages
that the C++ writer refuses to make."""

from __future__ import annotations

import dataclasses
import struct
import zlib
from typing import List, Optional, Tuple

VERSION = 0x173FE513


@dataclasses.dataclass
class Entry:
    name: bytes
    data: Optional[bytes]  # None: no data (compressed size 0)
    date: Optional[Tuple[int, int, int]] = None  # (year, month, day)
    raw: Optional[bytes] = None  # compressed bytes as they are to be stored
    uncompressed: Optional[int] = None  # the recorded size, if not len(data)
    offset: Optional[int] = None  # the recorded data offset, if not where the data lies


def entry(name, data, date=None, **kw) -> Entry:
    if isinstance(name, str):
        name = name.encode("cp1250")
    return Entry(name, data, date, **kw)


def build(entries: List[Entry]) -> bytes:
    body = bytearray()
    records = []
    for e in entries:
        stored = e.raw if e.raw is not None else (zlib.compress(e.data, 6) if e.data is not None else b"")
        offset = 20 + len(body)
        body += stored
        size = e.uncompressed if e.uncompressed is not None else len(e.data or b"")
        date = b"\0\0\0\0"
        if e.date:
            year, month, day = e.date
            date = struct.pack("<bBBB", year - 2000, month, day, 0)
        if e.offset is not None:
            offset = e.offset
        rec = struct.pack("<iiiI", offset if stored else 0, len(stored), size, 0) + date + b"\0\0\0\0"
        rec += bytes([len(e.name)]) + e.name
        rec = rec.ljust(max(40, len(rec)), b"\0")
        records.append(struct.pack("<i", len(rec)) + rec)
    directory = 20 + len(body)
    header = b"ZLIB_PLF" + struct.pack("<IiI", VERSION, directory, 0)
    dir_header = b"ZLIB_DIR" + struct.pack("<IiI", 0, len(entries), 0)
    return header + bytes(body) + dir_header + b"".join(records)


def script_entry(text: str) -> Entry:
    return entry("SCRIPT", text.replace("\n", "\r\n").encode("cp1250"))
