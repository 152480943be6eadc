"""The setup program keeps itself current: the hand-over of an outdated
installed copy to "Setup2.exe", the start of the installed copy when the
running program is another version than the script's, and a setup program
record that was never measured (0/0x0), which must neither hand over nor
start anything.

"Older" setup programs are the built setup.exe with a few bytes appended: they
run as the same program, but their size and checksum are not the script's.
"""

from __future__ import annotations

import ntpath
import shutil
import time

import pytest

from install_support import (INSTALL_DIR, OK_TO_EVERY_BOX, PENDING, SUCCESS, Kit, answer, box_texts, boxes,
                             install_dir, install_quietly, record, result_texts, rule, sample_set, tools,
                             wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures

INSTALLED_SETUP = INSTALL_DIR + "\\setup.exe"
SETUP2 = INSTALL_DIR + "\\Setup2.exe"
OLD_SETUP = "C:\\old\\setup.exe"
NOTICE = "Zostanie uruchomiony program instalacyjny\nz katalogu instalacyjnego programu Qor_Vex"
ENTRIES = r"HKLM\Software\Qor\Qor_Vex\Setup\RegistryEntries"
UPDATE_SETTINGS = rule("click:1", has=1011)
RESULT_OK = rule("click:1", has=1040)


def older(sample) -> bytes:
    return (sample.installed / "setup.exe").read_bytes() + b"\0an older build of the setup program"


SETUP_PROGRAMS = ("setup.exe", "setup2.exe")
RESIDENTS = ("qor_mon.exe", "qor_menu.exe")


def forget_resident_starts(qor) -> None:
    """Removes the logs in which the resident stand-ins record their starts
    (a command line and a folder per start), once the starts of the
    installation before have been written: those residents run on their own
    and may log after that installation has ended."""
    deadline = time.monotonic() + 10
    for name in RESIDENTS:
        log = install_dir(qor) / (name + ".log")
        while time.monotonic() < deadline:
            if log.exists() and len(log.read_bytes().splitlines()) >= 2:
                break
            time.sleep(0.1)
        log.unlink(missing_ok=True)


def resident_starts(qor) -> list[str]:
    return [name for name in RESIDENTS if (install_dir(qor) / (name + ".log")).exists()]


def started(result, names) -> list[dict]:
    """The processes of a run whose file is one of names (any letter case)."""
    return [p for p in result.processes if ntpath.basename(p["exe"]).lower() in names]


def programs(result) -> list[int]:
    """The pids of a run's setup programs, in the order they appeared: the one
    started, then each one it started, and so on down the line. Other
    programs are not part of the line: the mail scanner's commands, and
    Wine's menu builder, which its shell starts for every link saved (the
    prefix disables it, so it ends before Wine knows its name)."""
    line = started(result, SETUP_PROGRAMS)
    assert line and line[0] == result.processes[0], result.processes
    pids = [line[0]["pid"]]
    for p in line[1:]:
        assert p["parent"] == pids[-1], result.processes
        pids.append(p["pid"])
    return pids


def damage(qor) -> None:
    """Something for the taking-over program to put right."""
    (install_dir(qor) / "qor_mon.exe").unlink()


def entry_keys(qor) -> list[str]:
    dump = qor.reg_export(ENTRIES)
    return sorted((dump.key(ENTRIES) or {}).keys()) if dump else []


# The running program counts as the installed copy whatever the letter case
# of the path it was started by.
@pytest.mark.parametrize("quiet,exe", [(True, INSTALLED_SETUP), (False, INSTALLED_SETUP),
                                       (True, INSTALLED_SETUP.lower().replace("setup.exe", "SETUP.EXE"))],
                         ids=["quiet", "interactive", "quiet, other letter case"])
def test_outdated_installed_copy_hands_over_to_setup2(qor, sample_set, tools, quiet, exe):
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit, "/def=NOCTXMENU")
    folder = install_dir(qor)
    (folder / "setup.exe").write_bytes(older(sample_set))
    damage(qor)
    current = (sample_set.installed / "setup.exe").read_bytes()

    args = "/quiet /noautostart /def=NOCTXMENU" if quiet else "/noautostart /def=NOCTXMENU"
    rules = [OK_TO_EVERY_BOX] if quiet else [UPDATE_SETTINGS, RESULT_OK, OK_TO_EVERY_BOX]
    forget_resident_starts(qor)
    r = qor.run_setup(args, exe=exe, rules=rules, timeout=90, wait_children=True)
    assert r.exit_code == 0
    first, setup2 = programs(r)  # the old copy started Setup2, and no other setup program ran
    assert resident_starts(qor) == [], "/noautostart reached Setup2"
    if quiet:
        # Quiet from start to end: the hand-over itself shows nothing, and
        # Setup2 got /quiet.
        assert r.windows == []
    else:
        # The old copy showed the settings; Setup2 skipped them and ended
        # with the success message.
        assert boxes(r) == []
        [settings] = [w for w in r.windows if w.has(1011)]
        assert settings.pid == first
        [result] = [w for w in r.windows if w.has(1040)]
        assert result.pid == setup2 and result_texts(r)[0] == SUCCESS
    # Setup2 waited for the old copy to end and copied itself over it ...
    assert (folder / "setup.exe").read_bytes() == current
    assert (folder / "Setup2.exe").read_bytes() == current
    assert not (folder / "setup.exe(new)").exists()
    # ... and completed the update, with the names the first run was given.
    assert wrong_files(qor, sample_set) == []
    assert entry_keys(qor) == [r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qor_Vex_98",
                               r"HKEY_LOCAL_MACHINE\Software\Qor\Qor_Vex\Qor_Menu"]
    assert "InUpdating" not in record(qor)
    # The swap is also promised for the next restart, should the copy fail.
    pending = qor.reg_value(PENDING, "PendingFileRenameOperations")
    assert pending is not None and pending.value[-2:] == [f"\\??\\{SETUP2}", f"!\\??\\{INSTALLED_SETUP}"]


def test_hand_over_from_a_source_of_installed_names(qor, sample_set, tools):
    """/srcinst=: the source holds the files under their installed names. The
    script's setup program is read from it as "setup.exe", though it is
    written as "Setup2.exe"."""
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    source = qor.host_path("C:\\src")
    shutil.copytree(sample_set.installed, source)
    shutil.copyfile(kit.path("setup.dat"), source / "setup.dat")
    folder = install_dir(qor)
    (folder / "setup.exe").write_bytes(older(sample_set))
    damage(qor)
    r = qor.run_setup('/quiet /noautostart /srcinst="C:\\src"', exe=INSTALLED_SETUP, rules=[OK_TO_EVERY_BOX], timeout=90,
                      wait_children=True)
    assert r.exit_code == 0
    assert box_texts(r) == []
    assert len(programs(r)) == 2
    assert (folder / "setup.exe").read_bytes() == (sample_set.installed / "setup.exe").read_bytes()
    assert not (source / "Setup2.exe").exists()
    assert wrong_files(qor, sample_set) == []


@pytest.mark.parametrize("installed_is", ["current", "older"])
def test_another_version_starts_the_installed_copy(qor, sample_set, tools, installed_is):
    """An older setup program run from elsewhere: when the installed copy is
    the script's, it is started as it is (no arguments of its own); when it is
    outdated too, the script's copy is installed first and started with
    /skipsettings. Either way the user is told, even in a quiet run, and the
    quiet run stays quiet."""
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    folder = install_dir(qor)
    if installed_is == "older":
        (folder / "setup.exe").write_bytes(older(sample_set))
    qor.write_file(OLD_SETUP, older(sample_set))
    damage(qor)

    forget_resident_starts(qor)
    r = qor.run_setup("/quiet /noautostart", exe=OLD_SETUP, rules=[answer(NOTICE, 1)], timeout=90, wait_children=True)
    assert r.exit_code == 0
    assert boxes(r) == [(NOTICE, "information", [1])]
    # The old program told the user and started the installed copy, which
    # did the update quietly; no Setup2 was needed.
    first, installed = programs(r)
    assert resident_starts(qor) == [], "/noautostart reached the installed copy"
    assert r.messageboxes[0].pid == first
    assert [w for w in r.windows if w.pid == installed] == []
    assert (folder / "setup.exe").read_bytes() == (sample_set.installed / "setup.exe").read_bytes()
    assert not (folder / "Setup2.exe").exists()
    assert wrong_files(qor, sample_set) == []
    assert qor.read_file(OLD_SETUP) == older(sample_set)


@pytest.mark.parametrize("running", ["kit copy", "installed copy"])
def test_unmeasured_setup_record_neither_hands_over_nor_relaunches(qor, sample_set, tools, running):
    """A "SetupProgram" record written 0/0x0 matches no file. Handing over or
    starting the installed copy would start the same decision again in the
    next process, for ever; the run goes on in the process that runs."""
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    kit.edit(lambda s: s.set_file("setup.exe", size="0", checksum="0x0"))
    damage(qor)
    exe = kit.setup if running == "kit copy" else INSTALLED_SETUP
    r = qor.run_setup("/quiet /noautostart", exe=exe, rules=[OK_TO_EVERY_BOX], timeout=60, wait_children=True)
    assert r.exit_code == 0
    assert box_texts(r) == []
    assert len(programs(r)) == 1, "no other setup program was started"
    assert not (install_dir(qor) / "Setup2.exe").exists()
    assert (install_dir(qor) / "setup.exe").read_bytes() == (sample_set.installed / "setup.exe").read_bytes()
    assert wrong_files(qor, sample_set) == []


@pytest.mark.parametrize("case", ["network source", "no SetupProgram role"])
def test_nothing_to_keep_current(qor, sample_set, tools, case):
    """A network installation runs the product from the source itself, and a
    script without a "SetupProgram" record names no setup program: the run
    goes on in this process whatever the setup program's record says."""
    kit = Kit(qor, sample_set, tools)
    if case == "network source":
        # The record does not match the running program, which in a network
        # installation is also the installed one.
        kit.edit(lambda s: s.set_file("setup.exe", checksum="0x1"))
        r = qor.run_setup(f'/quiet /noautostart /src="{kit.win}" /netinst', exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60,
                          wait_children=True)
        assert not kit.path("Setup2.exe").exists()
        assert kit.path("setup.exe").read_bytes() == (sample_set.installed / "setup.exe").read_bytes()
    else:
        install_quietly(qor, kit)
        (install_dir(qor) / "setup.exe").write_bytes(older(sample_set))
        kit.edit(lambda s: s.set_file("setup.exe", role=""))
        damage(qor)
        r = qor.run_setup("/quiet /noautostart", exe=INSTALLED_SETUP, rules=[OK_TO_EVERY_BOX], timeout=60, wait_children=True)
        assert (install_dir(qor) / "setup.exe").read_bytes() == older(sample_set), "left as it is"
        assert not (install_dir(qor) / "Setup2.exe").exists()
        assert wrong_files(qor, sample_set) == []
    assert r.exit_code == 0
    assert box_texts(r) == []
    assert len(programs(r)) == 1
