"""Installing from a set of floppies: a file missing from the floppy drive
brings up the prompt for its disk until it can be read or the user cancels;
the same file missing from a hard disk fails at once."""

from __future__ import annotations

import shutil

import pytest

from install_support import (FAILED, GO_ON, IDCANCEL, IDNO, IDOK, OK_TO_EVERY_BOX, Kit, WhenShown, answer, boxes,
                             cannot_read, insert_disk, no_file, rule, sample_set, tools, wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures

SETUP = "A:\\setup.exe"


def floppy_kit(qor, sample_set, tools, tmp_path, kind="floppy") -> Kit:
    """The sample set on drive A: of the given drive type."""
    kit = Kit(qor, sample_set, tools, host=tmp_path / "floppy")
    qor.add_drive("a", kit.host, kind)
    return kit


def test_missing_file_asks_for_its_disk_until_it_is_there(qor, sample_set, tools, tmp_path):
    kit = floppy_kit(qor, sample_set, tools, tmp_path)
    aside = tmp_path / "qorbase.da_"
    shutil.move(kit.path("qorbase.da_"), aside)
    prompt = insert_disk("Dysk 2")
    rules = [
        # OK with the disk still missing: asked again.
        answer(prompt, IDOK),
        # The second time, the disk is put in while the prompt shows.
        rule("wait:1500", f"click:{IDOK}", kind="messagebox", message="Włóż dyskietkę", count="*"),
        OK_TO_EVERY_BOX,
    ]
    with WhenShown(qor, prompt, lambda: shutil.move(aside, kit.path("qorbase.da_")), occurrence=2) as disk:
        r = qor.run_setup("/quiet", exe=SETUP, rules=rules, timeout=60)
    assert disk.acted and disk.error is None
    shown = boxes(r)
    assert len(shown) >= 2 and all(box == (prompt, "warning", [IDOK, IDCANCEL]) for box in shown), shown
    assert r.exit_code == 0
    assert wrong_files(qor, sample_set) == []


PROMPTS = [
    ("floppy-labelled", "floppy", None, [(insert_disk("Dysk 2"), "warning", [IDOK, IDCANCEL])]),
    ("floppy-unlabelled", "floppy", "", [(no_file("A:\\qorbase.da_"), "warning", [IDOK, IDCANCEL])]),
    ("hard-disk", "hd", None, []),
]


@pytest.mark.parametrize("kind,label,prompts", [p[1:] for p in PROMPTS], ids=[p[0] for p in PROMPTS])
def test_cancelled_prompt_or_hard_disk_fails_the_file(qor, sample_set, tools, tmp_path, kind, label, prompts):
    kit = floppy_kit(qor, sample_set, tools, tmp_path, kind)
    if label is not None:
        kit.edit(lambda s: s.set_file("qorbase.dat", rest=f',"{label}"' if label else ""))
    kit.path("qorbase.da_").unlink()
    rules = [rule(f"click:{IDCANCEL}", kind="messagebox", has=IDCANCEL), answer(GO_ON, IDNO), OK_TO_EVERY_BOX]
    r = qor.run_setup("/quiet", exe=SETUP, rules=rules, timeout=60)
    assert boxes(r) == prompts + [(cannot_read("qorbase.da_"), "warning", [IDOK]),
                                  (GO_ON, "question", [6, 7]),
                                  (FAILED, "warning", [IDOK])]
    assert r.exit_code == 2
