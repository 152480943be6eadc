"""Source and install folders whose paths are longer than the 128 characters
that the old file-open call of the LZ library takes."""

from __future__ import annotations

from install_support import OK_TO_EVERY_BOX, Kit, sample_set, tools, wrong_files

__all__ = ["sample_set", "tools"]  # fixtures

LONG = "C:\\" + "\\".join(["Folder of installation kits " + str(i) for i in range(6)])


def test_kit_and_install_folder_with_long_paths(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools, win=LONG)
    target = LONG + "\\Qor_Vex"
    assert 128 < len(kit.setup) < 260 and len(target + "\\qor_vexw.exe") < 260
    r = qor.run_setup(f'/quiet /inst="{target}"', exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert (r.exit_code, r.messageboxes) == (0, []), r.describe()
    assert wrong_files(qor, sample_set, win=target) == []
