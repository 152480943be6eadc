"""The program group, the autostart shortcuts and the resident programs of an
installation: real .lnk files in the prefix's Start menu, the shortcut record
in the registry, and the monitor and the taskbar menu (copies of the
recording stand-in in the sample) started with "/_setup"."""

from __future__ import annotations

import struct
import time

import pytest

from install_support import (FAILED, INSTALL_DIR, OK_TO_EVERY_BOX, SUCCESS_RESTART, Kit, boxes,
                             install_dir, install_quietly, result_texts, sample_set, tools)
from test_install_locked import install_holding

__all__ = ["sample_set", "tools"]  # fixtures

START_MENU = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"
PROGRAMS = START_MENU + "\\Programs"
STARTUP = PROGRAMS + "\\StartUp"
RECORD = r"HKLM\Software\Qor\Qor_Vex\Setup\ProgmanEntries"
SHELL_FOLDERS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"

GROUP = {
    "Monitor Antywirusowy.lnk": "qor_mcfg.exe",
    "Program instalacyjny.lnk": "setup.exe",
    "Skaner Qor_Vex.lnk": "qor_vexw.exe",
    "Usuniecie instalacji.lnk": "qor_unin.exe",
}
AUTOSTART = {
    "Qor_Vex Monitor Antywirusowy.lnk": "qor_mon.exe",
    "Menu Qor_Vex.lnk": "qor_menu.exe",
}
RESIDENTS = ("qor_mon.exe", "qor_menu.exe")


def link_target(data: bytes) -> str:
    """The local path a shell link leads to: the LinkInfo's local base path
    and common path suffix (ANSI), after the header and the item list."""
    assert data[:4] == b"\x4c\x00\x00\x00", "not a shell link"
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    assert flags & 0x2, "the link has no LinkInfo"
    info = at
    base_offset, _, suffix_offset = struct.unpack_from("<III", data, info + 16)

    def text(offset: int) -> str:
        end = data.index(b"\0", info + offset)
        return data[info + offset:end].decode("cp1250")

    return text(base_offset) + text(suffix_offset)


def links(qor, folder: str) -> dict[str, str]:
    """Every file of a folder: name -> link target ("" for a file that is no
    link); {} when the folder is missing."""
    host = qor.host_path(folder)
    if not host.is_dir():
        return {}
    out = {}
    for p in sorted(host.iterdir()):
        data = p.read_bytes()
        out[p.name] = link_target(data) if p.suffix.lower() == ".lnk" and data[:4] == b"L\0\0\0" else ""
    return out


def expected(names: dict[str, str]) -> dict[str, str]:
    return {link: f"{INSTALL_DIR}\\{name}" for link, name in names.items()}


def record_values(qor) -> dict:
    dump = qor.reg_export(RECORD)
    values = (dump.key(RECORD) if dump else None) or {}
    return {name: v.value for name, v in values.items()}


def started(qor, name: str, wait: float, count: int = 1) -> list[tuple[str, str]]:
    """The starts a resident stand-in recorded, as (command line, current
    folder): as soon as `count` are there, else what is there after `wait`
    seconds."""
    log = install_dir(qor) / (name + ".log")
    deadline = time.monotonic() + wait
    while True:
        text = log.read_text("cp1250") if log.exists() else ""
        lines = text.splitlines()
        if len(lines) >= 2 * count or time.monotonic() >= deadline:
            return list(zip(lines[0::2], lines[1::2]))
        time.sleep(0.1)


def resident_start(name: str) -> tuple[str, str]:
    return (f'"{INSTALL_DIR}\\{name}" /_setup', "C:\\windows")


def test_installation_makes_group_autostart_record_and_starts_residents(qor, sample_set, tools):
    install_quietly(qor, Kit(qor, sample_set, tools))
    assert links(qor, PROGRAMS + "\\Qor_Vex") == expected(GROUP)
    assert links(qor, STARTUP) == expected(AUTOSTART)
    assert record_values(qor) == {"Qor_Vex": "*", "AUTOSTART": "Qor_Vex Monitor Antywirusowy;Menu Qor_Vex;"}
    for name in RESIDENTS:
        assert started(qor, name, wait=10) == [resident_start(name)], name
    # Only the autostart block starts programs.
    assert not (install_dir(qor) / "qor_vexw.exe.log").exists()
    # The user's own Start menu is left alone where the system has common folders.
    assert list(qor.host_path("C:\\users").glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Qor_Vex")) \
        == []


@pytest.mark.parametrize("args,autostart,record,residents", [
    # The links and the record as always, but nothing is started.
    ("/noautostart", AUTOSTART, "Qor_Vex Monitor Antywirusowy;Menu Qor_Vex;", ()),
    # The monitor's line is dropped from the script: no link, no record, no start.
    ("/def=NOMONITOR", {"Menu Qor_Vex.lnk": "qor_menu.exe"}, "Menu Qor_Vex;", ("qor_menu.exe",)),
])
def test_switches_change_the_autostart_block(qor, sample_set, tools, args, autostart, record, residents):
    install_quietly(qor, Kit(qor, sample_set, tools), args)
    assert links(qor, PROGRAMS + "\\Qor_Vex") == expected(GROUP)
    assert links(qor, STARTUP) == expected(autostart)
    assert record_values(qor) == {"Qor_Vex": "*", "AUTOSTART": record}
    for name in RESIDENTS:
        want = [resident_start(name)] if name in residents else []
        assert started(qor, name, wait=10 if want else 3) == want, name


def test_reinstallation_leaves_one_set_and_the_users_file(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    group = qor.host_path(PROGRAMS + "\\Qor_Vex")
    (group / "notatki.txt").write_bytes(b"the user's own file")
    for name in RESIDENTS:
        assert len(started(qor, name, wait=10)) == 1, name

    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert links(qor, PROGRAMS + "\\Qor_Vex") == {**expected(GROUP), "notatki.txt": ""}
    assert (group / "notatki.txt").read_bytes() == b"the user's own file"
    assert links(qor, STARTUP) == expected(AUTOSTART)
    assert record_values(qor) == {"Qor_Vex": "*", "AUTOSTART": "Qor_Vex Monitor Antywirusowy;Menu Qor_Vex;"}
    for name in RESIDENTS:
        assert started(qor, name, wait=10, count=2) == [resident_start(name)] * 2, name


def test_restart_pending_links_made_residents_not_started(qor, sample_set, tools):
    # A file in use waits for the restart: the resident programs would start
    # beside it with the old file, so they are left to the restart.
    kit = Kit(qor, sample_set, tools)
    r = install_holding(qor, kit, "qor_vexw.hlp", b"an older help file")
    assert r.exit_code == 0
    assert result_texts(r) == (SUCCESS_RESTART, "")
    assert links(qor, STARTUP) == expected(AUTOSTART)
    assert record_values(qor)["AUTOSTART"] == "Qor_Vex Monitor Antywirusowy;Menu Qor_Vex;"
    for name in RESIDENTS:
        assert started(qor, name, wait=3) == [], name


def test_without_common_folders_the_users_own_are_used(qor, sample_set, tools):
    # As on Windows 95/98 without user profiles: the shell has no common
    # Programs and Startup folders.
    qor.reg_add(SHELL_FOLDERS, "Common Programs", "C:\\NoCommon\\Programs")
    qor.reg_add(SHELL_FOLDERS, "Common Startup", "C:\\NoCommon\\StartUp")
    install_quietly(qor, Kit(qor, sample_set, tools))
    [own] = qor.host_path("C:\\users").glob("*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs")
    own_programs = qor.win_path(own)
    assert links(qor, own_programs + "\\Qor_Vex") == expected(GROUP)
    assert links(qor, own_programs + "\\StartUp") == expected(AUTOSTART)
    assert links(qor, PROGRAMS + "\\Qor_Vex") == {}
    assert not qor.exists("C:\\NoCommon")
    for name in RESIDENTS:
        assert started(qor, name, wait=10) == [resident_start(name)], name


@pytest.mark.parametrize("group,blocker,messages", [
    # A file stands where the group folder belongs: the folder counts as
    # there, but no link can be saved in it.
    ("Qor_Vex", "Qor_Vex", [FAILED]),
    # A file stands where a parent of the group folder belongs: the folder
    # cannot be made, which is said at once.
    ("Plik\\Qor_Vex", "Plik", [f"Nie można utworzyć katalogu:\n{PROGRAMS}\\Plik\\Qor_Vex", FAILED]),
])
def test_a_group_that_cannot_be_made_fails_the_installation(qor, sample_set, tools, group, blocker, messages):
    # Either way the installation says it failed instead of reporting success.
    def rename_group(script):
        script.lines[script.lines.index('NEW,"Qor_Vex"')] = f'NEW,"{group}"'

    kit = Kit(qor, sample_set, tools).edit(rename_group)
    qor.write_file(f"{PROGRAMS}\\{blocker}", b"not a folder")
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 2
    assert [text for text, _, _ in boxes(r)] == messages
    assert qor.read_file(f"{PROGRAMS}\\{blocker}") == b"not a folder"
    assert links(qor, STARTUP) == {}
