"""Reads what the end-to-end checks need from a Windows executable: machine,
subsystem, imported DLLs and resources (string table, manifest, version
information). Only the parts of the PE format that these use."""

from __future__ import annotations

import struct
from typing import Dict, List, Optional, Tuple

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_GUI = 2

RT_STRING = 6
RT_VERSION = 16
RT_MANIFEST = 24


class PeImage:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic == 0x10B:
            directories_at, count_at = opt + 96, opt + 92
        elif magic == 0x20B:
            directories_at, count_at = opt + 112, opt + 108
        else:
            raise ValueError(f"unknown optional header {magic:#x}")
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        count = struct.unpack_from("<I", data, count_at)[0]
        self.directories = [struct.unpack_from("<II", data, directories_at + 8 * k) for k in range(count)]
        self.sections = []
        table = opt + optional_size
        for k in range(sections):
            name, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * k)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), vaddr, max(vsize, rsize), raw,
                                  rsize))

    def offset(self, rva: int) -> int:
        for _, vaddr, size, raw, rsize in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= rsize:
                    raise ValueError(f"RVA {rva:#x} lies in uninitialised data")
                return raw + rva - vaddr
        raise ValueError(f"RVA {rva:#x} outside every section")

    def c_string(self, rva: int) -> str:
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii", "replace")

    def imports(self) -> List[str]:
        """Names of the DLLs the executable imports from."""
        if len(self.directories) < 2 or self.directories[1][0] == 0:
            return []
        at = self.offset(self.directories[1][0])
        names = []
        while True:
            _, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, at)
            if name_rva == 0 and thunk == 0:
                return names
            names.append(self.c_string(name_rva))
            at += 20

    def resources(self) -> Dict[Tuple[int, object], List[Tuple[int, bytes]]]:
        """(type, name) -> [(language, data)] for every resource."""
        out: Dict[Tuple[int, object], List[Tuple[int, bytes]]] = {}
        if len(self.directories) < 3 or self.directories[2][0] == 0:
            return out
        base_rva = self.directories[2][0]
        base = self.offset(base_rva)

        def entries(dir_offset):
            named, ids = struct.unpack_from("<HH", self.data, base + dir_offset + 12)
            for k in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + dir_offset + 16 + 8 * k)
                if ident & 0x80000000:
                    at = base + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    ident = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield ident, target

        for rtype, type_dir in entries(0):
            for name, name_dir in entries(type_dir & 0x7FFFFFFF):
                for lang, leaf in entries(name_dir & 0x7FFFFFFF):
                    rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + leaf)
                    at = self.offset(rva)
                    out.setdefault((rtype, name), []).append((lang, self.data[at:at + size]))
        return out

    def string_table(self) -> Dict[int, str]:
        """Every string-table entry by its id (blocks of 16, UTF-16)."""
        table = {}
        for (rtype, block), items in self.resources().items():
            if rtype != RT_STRING or not isinstance(block, int):
                continue
            for _, data in items:
                at = 0
                for k in range(16):
                    length = struct.unpack_from("<H", data, at)[0]
                    at += 2
                    if length:
                        table[(block - 1) * 16 + k] = data[at:at + 2 * length].decode("utf-16-le")
                    at += 2 * length
        return table

    def manifest(self) -> Optional[str]:
        for (rtype, _), items in self.resources().items():
            if rtype == RT_MANIFEST:
                return items[0][1].decode("utf-8")
        return None

    def version_info(self) -> Tuple[Optional[Tuple[int, int, int, int]], Dict[str, str]]:
        """The fixed file version and the StringFileInfo values."""
        for (rtype, _), items in self.resources().items():
            if rtype == RT_VERSION:
                return _parse_version(items[0][1])
        return None, {}


def _align4(n: int) -> int:
    return (n + 3) & ~3


def _parse_version(data: bytes):
    fixed = None
    strings: Dict[str, str] = {}

    def node(at: int, depth: int):
        nonlocal fixed
        length, value_length, value_type = struct.unpack_from("<HHH", data, at)
        end = at + length
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = _align4(key_end + 2)
        value_size = value_length * 2 if value_type == 1 else value_length
        value = data[value_at:value_at + value_size]
        if depth == 0 and len(value) >= 16 and struct.unpack_from("<I", value, 0)[0] == 0xFEEF04BD:
            ms, ls = struct.unpack_from("<II", value, 8)
            fixed = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if depth == 3:
            strings[key] = value.decode("utf-16-le").rstrip("\0")
        child = _align4(value_at + value_size)
        while child < end:
            child_length = struct.unpack_from("<H", data, child)[0]
            if child_length == 0:
                break
            node(child, depth + 1)
            child = _align4(child + child_length)

    node(0, 0)
    return fixed, strings
