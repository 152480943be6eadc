"""A file that cannot be installed: the message that names the trouble, the
question whether to go on, and what Yes and No make of the run."""

from __future__ import annotations

import pytest

from install_support import (BAD_FILES, FAILED, GO_ON, IDNO, IDOK, IDYES, OK_TO_EVERY_BOX, Kit, answer, boxes,
                             cannot_read, install_dir, present, product_records, sample_set, tools, wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures


def wrong_checksum(kit: Kit):
    kit.edit(lambda s: s.set_file("qorbase.dat", checksum="0x12345678"))


def wrong_size(kit: Kit):
    kit.edit(lambda s: s.set_file("qorbase.dat", size=str(int(s.file("qorbase.dat").size) + 1)))


def stored_file_missing(kit: Kit):
    kit.path("qorbase.da_").unlink()


def stored_file_short(kit: Kit):
    # A stored file cut short: its expansion ends early, the size check fails.
    data = kit.path("qorbase.da_").read_bytes()
    kit.path("qorbase.da_").write_bytes(data[: len(data) // 2])


FAULTS = {
    "wrong-checksum": (wrong_checksum, BAD_FILES),
    "wrong-size": (wrong_size, BAD_FILES),
    "short-stored-file": (stored_file_short, BAD_FILES),
    "missing-stored-file": (stored_file_missing, cannot_read("qorbase.da_")),
}
CASES = [(fault, True) for fault in FAULTS] + [("wrong-checksum", False), ("missing-stored-file", False)]


@pytest.mark.parametrize("fault,go_on", CASES, ids=[f"{f}-{'yes' if y else 'no'}" for f, y in CASES])
def test_a_bad_file_asks_whether_to_go_on(qor, sample_set, tools, fault, go_on):
    spoil, message = FAULTS[fault]
    kit = Kit(qor, sample_set, tools)
    spoil(kit)
    names = [f.name for f in product_records(sample_set)]
    bad = names.index("qorbase.dat")
    before, after = names[:bad], names[bad + 1:]
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[answer(GO_ON, IDYES if go_on else IDNO), OK_TO_EVERY_BOX],
                      timeout=60)
    expected = [(message, "warning", [IDOK]), (GO_ON, "question", [IDYES, IDNO])]
    assert wrong_files(qor, sample_set, before) == []
    assert not (install_dir(qor) / "qorbase.dat").exists(), "a file that failed its check is deleted"
    if go_on:
        # The run goes on and ends as a success: the outcome marked failed
        # does not change a result that stayed true.
        assert boxes(r) == expected
        assert r.exit_code == 0
        assert wrong_files(qor, sample_set, after) == []
    else:
        assert boxes(r) == expected + [(FAILED, "warning", [IDOK])]
        assert r.exit_code == 2
        assert present(qor, after) == []


def test_missing_file_of_the_setup_set_without_stored_name(qor, sample_set, tools):
    # A record without a stored name: this set does not carry the file.
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_file("qor_dos.exe", cname=""))
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[answer(GO_ON, IDYES), OK_TO_EVERY_BOX], timeout=60)
    assert boxes(r) == [
        ("Brak pliku instalacyjnego:\nqor_dos.exe\nPotrzeba pełnej wersji instalacyjnej programu.", "warning",
         [IDOK]),
        (GO_ON, "question", [IDYES, IDNO])]
    assert r.exit_code == 0
    assert wrong_files(qor, sample_set, [n for n in (f.name for f in product_records(sample_set))
                                         if n != "qor_dos.exe"]) == []
