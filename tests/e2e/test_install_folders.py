"""Folders of an installation: source and install folders whose paths are
longer than the 128 characters that the old file-open call of the LZ library
takes, and an install folder that cannot be made."""

from __future__ import annotations

from install_support import (FAILED, IDOK, OK_TO_EVERY_BOX, OPTIONS, Kit, box_texts, boxes, install_dir, record, sample_set, tools,
                             wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures

LONG = "C:\\" + "\\".join(["Folder of installation kits " + str(i) for i in range(6)])


def test_kit_and_install_folder_with_long_paths(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools, win=LONG)
    target = LONG + "\\Qor_Vex"
    assert 128 < len(kit.setup) < 260 and len(target + "\\qor_vexw.exe") < 260
    r = qor.run_setup(f'/quiet /inst="{target}"', exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert (r.exit_code, r.messageboxes) == (0, []), r.describe()
    assert wrong_files(qor, sample_set, win=target) == []


def test_install_folder_that_cannot_be_created(qor, sample_set, tools):
    # A folder below a file cannot be made: the run stops before any file is
    # copied, shows the folder's full path, and ends as a failure.
    kit = Kit(qor, sample_set, tools)
    r = qor.run_setup('/quiet /inst="C:\\kit\\sub\\..\\setup.dat\\Qor"', exe=kit.setup, rules=[OK_TO_EVERY_BOX],
                      timeout=60)
    assert r.exit_code == 2, r.describe()
    assert boxes(r) == [("Nie można utworzyć katalogu:\nC:\\kit\\setup.dat\\Qor", "warning", [IDOK]),
                        (FAILED, "warning", [IDOK])]
    assert not install_dir(qor).exists()
    rec = record(qor)
    assert "InUpdating" not in rec
    assert rec["InstallPath"].value == "C:\\kit\\setup.dat\\Qor"  # the full name of what was tried
    assert qor.reg_value(OPTIONS, "NotifyNewVer") is None


def test_install_folder_too_long_to_be_named(qor, sample_set, tools):
    # Too long for the full-path buffer: the message shows the path as given,
    # whole.
    kit = Kit(qor, sample_set, tools)
    target = "C:\\" + "\\".join(["d" * 200] * 6)
    r = qor.run_setup(f'/quiet /inst="{target}"', exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 2, r.describe()
    assert box_texts(r) == ["Nie można utworzyć katalogu:\n" + target, FAILED]
