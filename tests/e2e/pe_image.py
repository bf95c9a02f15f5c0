"""Reads what the end-to-end checks need from a Windows executable: machine,
subsystem, imported DLLs and resources (string table, manifest, version
information). Only the parts of the PE format that these use."""

from __future__ import annotations

import struct
from typing import Dict, List, Optional, Tuple

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_GUI = 2
RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24


class PeImage:
    def __init__(self, data: bytes):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE image")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        wide = struct.unpack_from("<H", data, opt)[0] == 0x20B  # PE32+
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        count = struct.unpack_from("<I", data, opt + (108 if wide else 92))[0]
        self.directories = [struct.unpack_from("<II", data, opt + (112 if wide else 96) + 8 * k) for k in range(count)]
        self.sections = [struct.unpack_from("<8xIIII", data, opt + optional_size + 40 * k) for k in range(sections)]

    def offset(self, rva: int) -> int:
        for _, vaddr, rsize, raw in self.sections:
            if vaddr <= rva < vaddr + rsize:
                return raw + rva - vaddr
        raise ValueError(f"RVA {rva:#x} outside the data of every section")

    def imports(self) -> List[str]:
        names, at = [], self.offset(self.directories[1][0])
        while True:
            _, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, at)
            if name_rva == 0 and thunk == 0:
                return names
            start = self.offset(name_rva)
            names.append(self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace"))
            at += 20

    def resources(self, rtype: int) -> Dict[object, bytes]:
        # name -> data of the first language, for every resource of the type
        base = self.offset(self.directories[2][0])

        def entries(dir_offset):
            named, ids = struct.unpack_from("<HH", self.data, base + dir_offset + 12)
            for k in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + dir_offset + 16 + 8 * k)
                if ident & 0x80000000:
                    at = base + (ident & 0x7FFFFFFF)
                    ident = self.data[at + 2:at + 2 + 2 * struct.unpack_from("<H", self.data, at)[0]].decode("utf-16-le")
                yield ident, target & 0x7FFFFFFF

        out = {}
        for t, type_dir in entries(0):
            for name, name_dir in entries(type_dir) if t == rtype else ():
                leaf = next(entries(name_dir))[1]
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                out[name] = self.data[self.offset(rva):self.offset(rva) + size]
        return out

    def string_table(self) -> Dict[int, str]:
        # Every string-table entry by its id (blocks of 16, UTF-16).
        table = {}
        for block, data in self.resources(RT_STRING).items():
            at = 0
            for k in range(16):
                length = struct.unpack_from("<H", data, at)[0]
                if length:
                    table[(block - 1) * 16 + k] = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                at += 2 + 2 * length
        return table

    def manifest(self) -> Optional[str]:
        return next((d.decode("utf-8") for d in self.resources(RT_MANIFEST).values()), None)

    def version_info(self) -> Tuple[Optional[Tuple[int, ...]], bytes]:
        # The fixed file version, and the resource whose StringFileInfo
        # holds the texts in UTF-16.
        data = next(iter(self.resources(RT_VERSION).values()), b"")
        at = data.find(struct.pack("<I", 0xFEEF04BD))
        if at < 0:
            return None, data
        ms, ls = struct.unpack_from("<II", data, at + 8)
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), data
