"""A product file held open by another program: the new file is written
beside it as "<name>(new)", verified under that name and left to replace the
old one at the next restart; the run ends with the restart request."""

from __future__ import annotations

import subprocess

import pytest

from install_support import (BAD_FILES, GO_ON, IDNO, IDYES, INSTALL_DIR, OK_TO_EVERY_BOX, PENDING, RESULT_OK,
                             SUCCESS_RESTART, Kit, answer, boxes, install_dir, result_texts, sample_set, tools,
                             wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures

HELD = "qor_vexw.hlp"


class Holder:
    """hold_file.exe keeping a file open with share mode 0."""

    def __init__(self, qor, win_path: str):
        exe = qor.win_path(qor.env.build / "standins" / "hold_file.exe")
        self.process = subprocess.Popen([qor.env.loader, exe, win_path, "120"], env=qor.env.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode("cp1250", "replace").strip()
        if line != "holding":
            self.stop()
            pytest.fail(f"hold_file did not take the file: {line!r}")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.process.stdout.close()


def install_holding(qor, kit, held: str, old: bytes):
    """A quiet installation from the kit while a program holds the install
    folder's file held, which has the bytes old beforehand."""
    folder = install_dir(qor)
    folder.mkdir(parents=True)
    (folder / held).write_bytes(old)
    holder = Holder(qor, f"{INSTALL_DIR}\\{held}")
    try:
        return qor.run_setup("/quiet", exe=kit.setup, rules=[RESULT_OK, OK_TO_EVERY_BOX], timeout=60)
    finally:
        holder.stop()


def test_file_in_use_is_replaced_at_restart(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    folder = install_dir(qor)
    r = install_holding(qor, kit, HELD, b"the help file of an older version")
    assert r.exit_code == 0
    # The restart request shows even in a quiet run, and nothing else does.
    assert result_texts(r) == (SUCCESS_RESTART, "")
    assert boxes(r) == []
    assert (folder / HELD).read_bytes() == b"the help file of an older version"
    assert (folder / (HELD + "(new)")).read_bytes() == (sample_set.installed / HELD).read_bytes()
    assert wrong_files(qor, sample_set, [f.name for _, f in sample_set.script().file_lines()[1:]
                                         if f.name != HELD]) == []
    # The move replaces an existing file ("!" before the target).
    pending = qor.reg_value(PENDING, "PendingFileRenameOperations")
    assert pending is not None and pending.value[-2:] == [f"\\??\\{INSTALL_DIR}\\{HELD}(new)",
                                                          f"!\\??\\{INSTALL_DIR}\\{HELD}"]
    # A restart (a fresh Wine server boots the prefix) makes the swap.
    qor.env.restart_server()
    qor.run_setup("/calc C:\\nic", rules=[OK_TO_EVERY_BOX], timeout=30)  # any program: the boot runs first
    assert (folder / HELD).read_bytes() == (sample_set.installed / HELD).read_bytes()
    assert not (folder / (HELD + "(new)")).exists()


def test_file_in_use_is_verified_under_its_new_name(qor, sample_set, tools):
    # A wrong checksum for the held file: the "(new)" file fails its check and
    # is deleted, and no replacement is scheduled.
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_file(HELD, checksum="0x1"))
    folder = install_dir(qor)
    folder.mkdir(parents=True)
    (folder / HELD).write_bytes(b"old")
    holder = Holder(qor, f"{INSTALL_DIR}\\{HELD}")
    try:
        r = qor.run_setup("/quiet", exe=kit.setup, rules=[answer(GO_ON, IDYES), OK_TO_EVERY_BOX], timeout=60)
    finally:
        holder.stop()
    assert boxes(r) == [(BAD_FILES, "warning", [1]), (GO_ON, "question", [IDYES, IDNO])]
    assert r.exit_code == 0
    assert (folder / HELD).read_bytes() == b"old"
    assert not (folder / (HELD + "(new)")).exists()
    assert qor.reg_value(PENDING, "PendingFileRenameOperations") is None
