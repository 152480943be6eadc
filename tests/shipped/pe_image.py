"""A small reader of PE images: the header fields and the import table that
the shipped program's checks look at. Only what those checks need."""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from pathlib import Path

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_GUI = 2
SUBSYSTEM_CONSOLE = 3


@dataclass
class PeImage:
    machine: int
    subsystem: int
    subsystem_version: tuple[int, int]
    os_version: tuple[int, int]
    imports: dict[str, list[str]] = field(default_factory=dict)  # DLL name -> names (or "#ordinal")


def read_pe(path: Path | str) -> PeImage:
    data = Path(path).read_bytes()
    if data[:2] != b"MZ":
        raise ValueError(f"{path}: no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: no PE signature")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    wide = {0x10B: False, 0x20B: True}[magic]
    os_version = struct.unpack_from("<HH", data, opt + 40)
    subsystem_version = struct.unpack_from("<HH", data, opt + 48)
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    directories = opt + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]

    table = opt + optional_size
    spans = []
    for i in range(sections):
        _, vsize, va, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        spans.append((va, max(vsize, raw_size), raw_ptr))

    def offset(rva: int) -> int:
        for va, size, raw in spans:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"{path}: RVA {rva:#x} lies in no section")

    def cstring(rva: int) -> str:
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("ascii")

    image = PeImage(machine, subsystem, tuple(subsystem_version), tuple(os_version))
    if import_rva:
        at = offset(import_rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", data, at)
            if not (lookup or name_rva or thunk):
                break
            names = []
            entry = offset(lookup or thunk)
            size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
            while True:
                value = struct.unpack_from("<Q" if wide else "<I", data, entry)[0]
                if not value:
                    break
                names.append(f"#{value & 0xFFFF}" if value & ordinal_flag else cstring((value & 0x7FFFFFFF) + 2))
                entry += size
            image.imports.setdefault(cstring(name_rva), []).extend(names)
            at += 20
    return image
