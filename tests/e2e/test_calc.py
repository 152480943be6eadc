"""setup.exe /calc: the size and checksum report of one file."""

from __future__ import annotations

import zlib

import pytest

from qorwine import APP_TITLE, IDOK, rule


def file_checksum(data: bytes) -> int:
    # The reflected CRC-32 register without the final inversion; 0 for no bytes.
    return zlib.crc32(data) ^ 0xFFFFFFFF if data else 0


CLOSE_REPORT = rule(f"click:{IDOK}", kind="messagebox", title=APP_TITLE)


@pytest.mark.parametrize("name,data", [
    ("abc.bin", b"abc"),                                # 0xCADBBE3D: complement of the common CRC-32
    ("pusty.bin", b""),                                 # empty: "0x0"
    ("zażółć_gęślą.bin", bytes(range(256)) * 300),      # Polish name (no space: it ends the name), several chunks
], ids=["abc", "empty", "polish-name"])
def test_calc_reports_name_size_and_checksum(qor, name, data):
    path = "C:\\qortest\\dane\\" + name
    qor.write_file(path, data)
    r = qor.run_setup(f'/calc"{path}"', rules=[CLOSE_REPORT], timeout=20)
    assert r.exit_code == 0
    [box] = r.messageboxes
    assert (box.title, box.icon, box.buttons) == (APP_TITLE, "information", [IDOK])
    assert box.message == f"FileName: {path}\nFileSize: {len(data)}\nChecksum: 0x{file_checksum(data):X}"


def test_calc_on_a_missing_file_warns_and_still_exits_with_0(qor):
    r = qor.run_setup("/calc C:\\qortest\\brak.bin /uninstall", rules=[CLOSE_REPORT], timeout=20)
    # The space after the switch ends the name at once; nothing after /calc is read.
    assert r.exit_code == 0
    [box] = r.messageboxes
    assert (box.icon, box.buttons) == ("warning", [IDOK])
    assert box.message == "Nie można odczytać pliku: \n"


def test_calc_of_a_large_file_matches_an_independent_checksum(qor):
    # 5 MiB and a bit: many 64 KiB reads, the last one partial.
    data = bytes((i * 7919 + (i >> 13)) & 0xFF for i in range(5 * 1024 * 1024 + 777))
    path = "C:\\qortest\\duzy.bin"
    qor.write_file(path, data)
    r = qor.run_setup(f"/calc{path}", rules=[CLOSE_REPORT], timeout=30)
    assert r.exit_code == 0
    [box] = r.messageboxes
    assert box.message == f"FileName: {path}\nFileSize: {len(data)}\nChecksum: 0x{file_checksum(data):X}"


def test_calc_of_a_folder_reports_the_read_failure(qor):
    qor.write_file("C:\\qortest\\katalog\\x.txt", b"x")
    r = qor.run_setup('/calc"C:\\qortest\\katalog"', rules=[CLOSE_REPORT], timeout=20)
    assert r.exit_code == 0
    [box] = r.messageboxes
    assert box.message == "Nie można odczytać pliku: C:\\qortest\\katalog\n"


@pytest.mark.parametrize("args", [
    '/pack "C:\\kit"',                      # one value where two are needed
    '/pack',
    '/build "C:\\a","C:\\b","C:\\c"',       # three values where four are needed
    '/build "C:\\a","C:\\b","C:\\c","FILES',  # the last value never closed
])
def test_malformed_authoring_switch_ends_at_once_with_0_and_no_window(qor, args):
    r = qor.run_setup(args, rules=[], timeout=20)
    assert r.exit_code == 0
    assert r.windows == []


def test_calc_names_a_long_unreadable_name_whole(qor):
    # The name is shown whole however long it is, with the line feed after it.
    # (The box is then wider than the screen, so its icon is not looked at:
    # the driver tells icons by their pixels.)
    name = "C:\\qortest\\" + "d" * 1500 + ".bin"
    r = qor.run_setup(f'/calc"{name}"', rules=[CLOSE_REPORT], timeout=20)
    assert r.exit_code == 0
    [box] = r.messageboxes
    assert box.message == f"Nie można odczytać pliku: {name}\n"
