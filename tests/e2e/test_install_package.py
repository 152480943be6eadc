"""Installing from a package: the setup program with the installation set
appended (entries, directory, trailer), and a damaged trailer that leaves the
program to install from its folder."""

from __future__ import annotations

import struct

import pytest

from install_support import (CANNOT_READ_SCRIPT, FAILED, GO_ON, IDNO, IDYES, OK_TO_EVERY_BOX, Kit, RegValue, answer,
                             boxes, cannot_read, product_records, record, sample_set, sp, tools, wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures


def upper_case_entries(kit: Kit) -> list[tuple[str, bytes]]:
    """The package entries of the kit with every name in capitals: the
    installer finds "setup.dat" and the stored files as "SETUP.DAT"..."""
    entries = sp.package_entries(kit.host, kit.script())
    return [(name.upper(), data) for name, data in entries]


def test_carried_package_installs_with_names_in_any_case(qor, sample_set, tools):
    # setup.exe is the first entry, at offset 0: the package runs as the
    # setup program. Reading "setup.dat" (stored without expansion) must stop
    # at the entry's end, or the script would run on into the directory and
    # fail its checksum.
    kit = Kit(qor, sample_set, tools)
    qor.write_file("C:\\pkg\\setup.exe", sp.package_bytes(upper_case_entries(kit)))
    r = qor.run_setup("/quiet", exe="C:\\pkg\\setup.exe", rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []
    assert record(qor).get("LocalSourcePath") == RegValue("REG_SZ", "C:\\pkg\\setup.exe")
    # Temporary copies of the entries are gone.
    temp = qor.host_path("C:\\users")
    assert [p.name for p in temp.rglob("fol*.tmp")] == []


def test_package_with_internet_header_named_by_src(qor, sample_set, tools):
    # The header shifts every offset by 27 bytes; the package is named with
    # /src= and the setup program runs from a folder without setup.dat.
    kit = Kit(qor, sample_set, tools)
    qor.write_file("C:\\pkg\\qor_vex.pkg", sp.package_bytes(sp.package_entries(kit.host, kit.script()), header=True))
    qor.write_file("C:\\runner\\setup.exe", kit.path("setup.exe").read_bytes())
    r = qor.run_setup('/quiet /src="C:\\pkg\\qor_vex.pkg"', exe="C:\\runner\\setup.exe", rules=[OK_TO_EVERY_BOX],
                      timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []


def no_trailer_mark(package: bytes) -> bytes:
    return package[:-6] + b"XF" + package[-4:]


def position_off_by_one(package: bytes) -> bytes:
    (position,) = struct.unpack("<I", package[-4:])
    return package[:-4] + struct.pack("<I", position + 1)


def position_past_the_end(package: bytes) -> bytes:
    return package[:-4] + struct.pack("<I", len(package) + 100)


def directory_longer_than_the_file(package: bytes) -> bytes:
    (position,) = struct.unpack("<I", package[-4:])
    return package[:position] + b"LF" + struct.pack("<I", 0x7FFFFFF0) + package[position + 6:]


@pytest.mark.parametrize("spoil", [no_trailer_mark, position_off_by_one, position_past_the_end])
def test_damaged_trailer_falls_back_to_the_folder(qor, sample_set, tools, spoil):
    # The folder holds setup.dat and the stored files; the program in it
    # carries a package whose trailer does not lead to a directory.
    kit = Kit(qor, sample_set, tools)
    package = sp.package_bytes(sp.package_entries(kit.host, kit.script()))
    kit.path("setup.exe").write_bytes(spoil(package))
    # The script describes this very program, as it would for a set made so.
    kit.edit(lambda s: sp.fill_sizes(s, kit.host, kit.host, tools))
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []
    assert record(qor).get("LocalSourcePath") == RegValue("REG_SZ", "C:\\kit\\")


def test_package_whose_directory_cannot_be_read_fails(qor, sample_set, tools):
    # The trailer leads to a directory header, so the program counts as a
    # package and is its own source, but the directory it announces is
    # longer than the file: no entry can be found, not even setup.dat.
    kit = Kit(qor, sample_set, tools)
    package = sp.package_bytes(sp.package_entries(kit.host, kit.script()))
    qor.write_file("C:\\pkg\\setup.exe", directory_longer_than_the_file(package))
    r = qor.run_setup("/quiet", exe="C:\\pkg\\setup.exe", rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 2
    assert boxes(r) == [(CANNOT_READ_SCRIPT, "warning", [1]), (FAILED, "warning", [1])]


def test_entry_of_another_size_than_the_table_says_fails_without_leftovers(qor, sample_set, tools):
    # The stored size in the table is handed over as the expected size of the
    # entry's temporary copy; a copy of another length is refused and deleted.
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_file("qorbase.dat", csize=str(int(s.file("qorbase.dat").csize) + 1)))
    qor.write_file("C:\\pkg\\setup.exe", sp.package_bytes(sp.package_entries(kit.host, kit.script())))
    r = qor.run_setup("/quiet", exe="C:\\pkg\\setup.exe", rules=[answer(GO_ON, IDYES), OK_TO_EVERY_BOX], timeout=60)
    assert boxes(r) == [(cannot_read("qorbase.da_"), "warning", [1]), (GO_ON, "question", [IDYES, IDNO])]
    assert r.exit_code == 0
    assert wrong_files(qor, sample_set, [f.name for f in product_records(sample_set) if f.name != "qorbase.dat"]) == []
    assert [p.name for p in qor.host_path("C:\\users").rglob("fol*.tmp")] == []
