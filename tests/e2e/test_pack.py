"""The authoring modes: /pack (and /pack2) writes a package from a folder set,
/build refreshes the sizes and checksums of a script section."""

from __future__ import annotations

import struct

import pytest

from install_support import (BAD_FILES, FAILED, OK_TO_EVERY_BOX, Kit, RegValue, boxes, cannot_read, interactive,
                             record, result_texts, sample_set, sp, tools, wrong_files, SUCCESS)

__all__ = ["sample_set", "tools"]  # fixtures

PACKAGE = "C:\\out\\qor_vex.exe"
HEADER = b"Qor_Vex Internet Package\r\n\0"
NOT_UPDATED = "Nie można uaktualnić projektu"


def read_package(data: bytes, header: bool) -> list[tuple[str, int, int]]:
    """An independent reading of a package: the trailer, the directory header
    and every entry, with the layout checked on the way. Returns the entries
    as (name, offset, size) in directory order."""
    assert data[-6:-4] == b"LF"
    (position,) = struct.unpack("<I", data[-4:])
    assert data[position:position + 2] == b"LF"
    (length,) = struct.unpack("<I", data[position + 2:position + 6])
    directory = data[position + 6:position + 6 + length]
    # The directory fills the space between its header and the trailer and
    # ends with the empty name.
    assert position + 6 + length == len(data) - 6 and directory[-1:] == b"\0"
    entries, pos = [], 0
    while directory[pos] != 0:
        end = directory.index(b"\0", pos)
        offset, size = struct.unpack("<II", directory[end + 1:end + 9])
        entries.append((directory[pos:end].decode("cp1250"), offset, size))
        pos = end + 9
    assert pos == length - 1
    # The entries' data lie back to back from the start (after the header)
    # up to the directory header.
    expected = len(HEADER) if header else 0
    assert data[:expected] == (HEADER if header else b"")
    for _, offset, size in entries:
        assert offset == expected
        expected += size
    assert expected == position
    return entries


def pack(qor, kit: Kit, output: str = PACKAGE, digit: str = "", rules=None):
    qor.host_path("C:\\out").mkdir(parents=True, exist_ok=True)
    return qor.run_setup(f'/pack{digit}"{kit.win}","{output}"', exe=kit.setup, rules=rules or [OK_TO_EVERY_BOX],
                         timeout=90)


@pytest.mark.parametrize("header", [False, True], ids=["plain", "internet"])
def test_pack_writes_the_layout_the_writer_of_the_tests_writes(qor, sample_set, tools, header):
    kit = Kit(qor, sample_set, tools)
    r = pack(qor, kit, digit="2" if header else "")
    assert r.exit_code == 0 and boxes(r) == [], r.describe()
    data = qor.host_path(PACKAGE).read_bytes()
    entries = read_package(data, header)
    script = kit.script()
    stored = [f.cname for _, f in script.file_lines() if f.cname]
    assert [name for name, _, _ in entries] == stored + ["qorapps.dat", "setup.dat"]
    for name, offset, size in entries:
        assert data[offset:offset + size] == kit.path(name).read_bytes(), name
    assert data == sp.package_bytes(sp.package_entries(kit.host, script), header=header)
    # The progress window named the work.
    assert any(w.has(1015) and w.control(1015).text.startswith("Kompresja") for w in r.windows + r.changes)
    if not header:
        # A package without the header is itself a setup program that carries
        # its installation set.
        qor.write_file("C:\\pkg\\setup.exe", data)
        r = qor.run_setup("/quiet", exe="C:\\pkg\\setup.exe", rules=[OK_TO_EVERY_BOX], timeout=60)
        assert r.exit_code == 0 and boxes(r) == [], r.describe()
        assert wrong_files(qor, sample_set) == []
        assert record(qor).get("LocalSourcePath") == RegValue("REG_SZ", "C:\\pkg\\setup.exe")


def test_packed_setup_program_installs_interactively(qor, sample_set, tools):
    # Sizes the table leaves at 0 are taken from the bytes copied.
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_file("qorbase.dat", csize="0", csum="0x0"))
    r = pack(qor, kit)
    assert r.exit_code == 0 and boxes(r) == [], r.describe()
    entries = read_package(qor.host_path(PACKAGE).read_bytes(), False)
    cname = kit.script().file("qorbase.dat").cname
    assert [size for name, _, size in entries if name == cname] == [kit.path(cname).stat().st_size]
    qor.write_file("C:\\pkg\\setup.exe", qor.host_path(PACKAGE).read_bytes())
    r = qor.run_setup(exe="C:\\pkg\\setup.exe", rules=interactive(), timeout=90)
    assert r.exit_code == 0, r.describe()
    assert result_texts(r)[0] == SUCCESS
    assert wrong_files(qor, sample_set) == []
    assert record(qor).get("LocalSourcePath") == RegValue("REG_SZ", "C:\\pkg\\setup.exe")


def missing_stored_file(kit: Kit) -> list:
    kit.path(kit.script().file("qorbase.dat").cname).unlink()
    return [(cannot_read(kit.script().file("qorbase.dat").cname), "warning", [1])]


def missing_companion_data(kit: Kit) -> list:
    kit.path("qorapps.dat").unlink()
    return []


def stale_size(kit: Kit) -> list:
    # The table says one byte more than the stored file holds.
    kit.edit(lambda s: s.set_file("qorbase.dat", csize=str(int(s.file("qorbase.dat").csize) + 1)))
    return [(BAD_FILES, "warning", [1])]


@pytest.mark.parametrize("spoil", [missing_stored_file, missing_companion_data, stale_size])
def test_a_package_that_cannot_be_made_whole_is_deleted(qor, sample_set, tools, spoil):
    kit = Kit(qor, sample_set, tools)
    expected = spoil(kit)
    qor.write_file(PACKAGE, b"an older package")
    r = pack(qor, kit)
    assert r.exit_code == 2
    assert boxes(r) == expected + [(FAILED, "warning", [1])]
    assert not qor.host_path(PACKAGE).exists()


@pytest.mark.parametrize("output", ["C:\\kit\\setup.exe", "c:\\KIT\\..\\kit\\QORAPPS.DAT", "C:\\kit\\setup.dat",
                                    "C:\\no such folder\\qor_vex.exe"],
                         ids=["program", "companion", "script", "unwritable"])
def test_output_that_is_an_input_or_cannot_be_written_fails_touching_nothing(qor, sample_set, tools, output):
    kit = Kit(qor, sample_set, tools)
    before = {p.name: p.read_bytes() for p in kit.host.iterdir()}
    r = pack(qor, kit, output=output)
    assert r.exit_code == 2
    assert boxes(r) == [(FAILED, "warning", [1])]
    assert {p.name: p.read_bytes() for p in kit.host.iterdir()} == before


# ---------------------------------------------------------------- /build

def test_build_rewrites_the_numbers_and_keeps_the_rest(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    right = kit.script()
    installed = qor.host_path("C:\\inst")
    installed.mkdir(parents=True)
    for _, f in right.file_lines():
        (installed / f.name).write_bytes((sample_set.installed / f.name).read_bytes())

    def spoil(s: sp.Script) -> None:
        lines = s.file_lines()
        # Wrong numbers in both pairs, a label with text after it, and a
        # line whose pairs are 0 and 0x0, which stays unmeasured.
        _, first = lines[1]
        s.set_file(first.name, size="1", checksum="0x1", csize="2", csum="0x2", rest=first.rest + " ; kept")
        _, second = lines[2]
        s.set_file(second.name, size="0", checksum="0x0", csize="0", csum="0x0")
        _, third = lines[3]
        s.set_file(third.name, size="17", checksum="0XABC", csize="5", csum="0x5")

    kit.edit(spoil)
    spoiled = kit.script()
    r = qor.run_setup(f'/build"{kit.win}","C:\\inst","{kit.win}\\setup.dat","FILES"', exe=kit.setup,
                      rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == [], r.describe()
    data = kit.path("setup.dat").read_bytes()
    # The tail is the checksum of what stands before it.
    rebuilt = sp.Script.parse(data)
    resealed = kit.host / "resealed.dat"
    tools.write_script(rebuilt, resealed)
    assert resealed.read_bytes() == data
    resealed.unlink()
    got = [f for _, f in rebuilt.file_lines()]
    want = [f for _, f in right.file_lines()]
    was = [f for _, f in spoiled.file_lines()]
    for i, (g, w, old) in enumerate(zip(got, want, was)):
        if i == 2:
            assert g == old  # 0 and 0x0 are left as written
            continue
        assert (g.size, g.checksum, g.csize, g.csum) == (w.size, w.checksum, w.csize, w.csum), g.name
        assert (g.role, g.name, g.cname, g.rest, g.prefix) == (old.role, old.name, old.cname, old.rest, old.prefix)
    assert got[1].rest.endswith(" ; kept")
    # Every line outside the rewritten fields is as it was.
    start, end = spoiled.section_range("FILES")
    assert rebuilt.lines[:start] == spoiled.lines[:start] and rebuilt.lines[end:] == spoiled.lines[end:]
    # The script left behind installs, verifying every file it measured.
    kit.edit(lambda s: s.set_file(got[2].name, size=want[2].size, checksum=want[2].checksum))
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == [], r.describe()
    assert wrong_files(qor, sample_set) == []


def unreadable_installed(kit: Kit, qor) -> tuple[str, list]:
    name = kit.script().file_lines()[1][1].name
    (qor.host_path("C:\\inst") / name).unlink()
    return "FILES", [(f"Nie można odczytać pliku źródłowego:\nC:\\inst\\{name}", "none", [1])]


def unreadable_stored(kit: Kit, qor) -> tuple[str, list]:
    cname = kit.script().file_lines()[1][1].cname
    kit.path(cname).unlink()
    return "FILES", [(f"Nie można odczytać pliku docelowego:\n{kit.win}\\{cname}", "none", [1])]


def missing_section(kit: Kit, qor) -> tuple[str, list]:
    return "NO SUCH SECTION", []


def conditional_line(kit: Kit, qor) -> tuple[str, list]:
    def change(s: sp.Script) -> None:
        i, f = s.file_lines()[1]
        s.lines[i] = "?SOME?" + f.text()
    kit.edit(change)
    return "FILES", []


def role_reference(kit: Kit, qor) -> tuple[str, list]:
    # An installed name given as a role's path means nothing before an install.
    def change(s: sp.Script) -> None:
        i, f = s.file_lines()[1]
        s.lines[i] = f.text().replace(f'"{f.name}"', '$"Main"', 1)
    kit.edit(change)
    return "FILES", []


@pytest.mark.parametrize("spoil", [unreadable_installed, unreadable_stored, missing_section, conditional_line,
                                   role_reference])
def test_build_failures_leave_the_script_alone(qor, sample_set, tools, spoil):
    kit = Kit(qor, sample_set, tools)
    installed = qor.host_path("C:\\inst")
    installed.mkdir(parents=True)
    for _, f in kit.script().file_lines():
        (installed / f.name).write_bytes((sample_set.installed / f.name).read_bytes())
    kit.edit(lambda s: s.set_file(s.file_lines()[1][1].name, size="1", checksum="0x1", csize="2", csum="0x2"))
    section, expected = spoil(kit, qor)
    before = kit.path("setup.dat").read_bytes()
    r = qor.run_setup(f'/build"{kit.win}","C:\\inst","{kit.win}\\setup.dat","{section}"', exe=kit.setup,
                      rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 2
    assert boxes(r) == expected + [(NOT_UPDATED, "none", [1]), (FAILED, "warning", [1])], r.describe()
    assert kit.path("setup.dat").read_bytes() == before
