"""Cancelling in the progress window while a large file is being copied:
Yes ends the run (the partly written file deleted, exit code 3), No lets
the installation finish."""

from __future__ import annotations

import pytest

from install_support import (ABORT_QUESTION, ABORTED, IDNO, IDOK, IDYES, RESULT_OK, SETTINGS_CONTINUE, SUCCESS,
                             WELCOME_CONTINUE, answer, boxes, install_dir, present, result_texts, rule, sample_set,
                             sp, tools, wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures

BIG = "qorbig.dat"
# Long enough to copy (a few tenths of a second here) that the Esc lands in
# the middle of it, well before its last cancel check, even on a quiet machine.
BIG_SIZE = 512 << 20
AFTER = "readme.txt"  # the big file comes right after this one in the table


@pytest.fixture(scope="module")
def big_kit(sample_set, tools, tmp_path_factory):
    """A folder set with a 128 MiB file stored as is, outside the prefix (on
    Z:), shared by the cases of this module: they only read it."""
    folder = tmp_path_factory.mktemp("bigkit") / "kit"
    sp.copy_source(sample_set, folder)
    sp.write_big_file(folder / BIG, BIG_SIZE, BIG)
    script = sp.Script.parse((folder / "setup.dat").read_bytes())
    at = next(i for i, f in script.file_lines() if f.name == AFTER)
    script.lines.insert(at + 1, f'"","{BIG}",0,0x0,"{BIG}",0,0x0,"Dysk 3"')
    sp.fill_sizes(script, folder, folder, tools)
    tools.write_script(script, folder / "setup.dat")
    return folder, [f.name for _, f in script.file_lines()][1:]


@pytest.mark.parametrize("stop", [True, False], ids=["yes", "no"])
def test_esc_during_a_large_copy(qor, big_kit, sample_set, stop):
    folder, names = big_kit
    rules = [WELCOME_CONTINUE, SETTINGS_CONTINUE,
             rule("key:esc", has=1001, text=BIG),
             answer(ABORT_QUESTION, IDYES if stop else IDNO),
             answer(ABORTED, IDOK),
             RESULT_OK]
    r = qor.run_setup(exe=qor.win_path(folder / "setup.exe"), rules=rules, timeout=120)
    question = (ABORT_QUESTION, "question", [IDYES, IDNO])
    big_at = names.index(BIG)
    before, after = names[:big_at], names[big_at + 1:]
    assert wrong_files(qor, sample_set, before) == []
    copying = [w for w in r.windows + r.changes if w.has(1001) and any(BIG in t for t in w.texts())]
    assert copying and copying[0].control(1015).text == "Kopiowanie:"
    if stop:
        assert r.exit_code == 3
        # The welcome dialog is counted among the message boxes by its look.
        assert boxes(r)[-2:] == [question, (ABORTED, "warning", [IDOK])]
        assert present(qor, [BIG, BIG + "(new)"] + after) == []
    else:
        assert r.exit_code == 0
        assert boxes(r)[-1:] == [question]
        assert result_texts(r) == (SUCCESS, "")
        assert (install_dir(qor) / BIG).read_bytes() == (folder / BIG).read_bytes()
        assert wrong_files(qor, sample_set, after) == []
