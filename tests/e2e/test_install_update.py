"""Running the installer again over an installation: the question when every
file is current, the repair of damaged files, and records of size 0."""

from __future__ import annotations

from install_support import (ALL_CURRENT, IDNO, IDYES, MAIL_SCANNER_CONTINUE, OK_TO_EVERY_BOX, OPTIONS, SUCCESS, Kit,
                             RegValue, answer, boxes, install_dir, install_quietly, mail_scanner_dialogs, record,
                             registry_state, result_texts, rule, sample_set, stamps_of, tools, wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures

# An update shows the settings of template 135 (with its banner), no welcome.
UPDATE_SETTINGS = rule("snapshot", "click:1", has=1011)
RESULT_OK = rule("click:1", has=1040)


def test_all_files_current_asks_and_no_changes_nothing(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    qor.reg_delete(OPTIONS)  # written again by every installation that goes ahead
    # The mail-scanner dialog keeps its answer; one given before (go on
    # offering it) is written again unchanged.
    qor.reg_add(r"HKCU\Software\Qor\Qor_Vex\Setup", "ExecuteMailConfWhileUpdate", 1)
    files_before, registry_before = stamps_of(qor, sample_set), registry_state(qor)
    r = qor.run_setup(exe=kit.setup, rules=[UPDATE_SETTINGS, MAIL_SCANNER_CONTINUE, answer(ALL_CURRENT, IDNO),
                                            RESULT_OK], timeout=60)
    assert r.exit_code == 0
    assert [w.title for w in r.windows if w.kind == "dialog"][0] == "Qor_Vex dla Windows 98 - Program Instalacyjny"
    assert len(mail_scanner_dialogs(r)) == 1
    assert not any("Witamy" in " ".join(w.texts()) for w in r.windows)
    assert boxes(r) == [(ALL_CURRENT, "question", [IDYES, IDNO])]
    assert not any("Instalowanie plików" in w.title for w in r.windows), "no progress window"
    assert result_texts(r)[0] == SUCCESS
    assert stamps_of(qor, sample_set) == files_before
    assert registry_state(qor) == registry_before


def test_all_files_current_and_yes_runs_the_update(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    qor.reg_delete(OPTIONS)
    files_before = stamps_of(qor, sample_set)
    r = qor.run_setup("/skipsettings", exe=kit.setup, rules=[MAIL_SCANNER_CONTINUE, answer(ALL_CURRENT, IDYES),
                                                             RESULT_OK], timeout=60)
    assert r.exit_code == 0
    assert len(mail_scanner_dialogs(r)) == 1
    assert qor.reg_value(OPTIONS, "NotifyNewVer") == RegValue("REG_DWORD", 1), "the engine went ahead"
    # Current files are not copied again.
    assert stamps_of(qor, sample_set) == files_before
    assert "InUpdating" not in record(qor)


def test_damaged_and_missing_files_are_repaired(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    folder = install_dir(qor)
    (folder / "qor_vexw.hlp").write_bytes(b"damaged")
    (folder / "qor_vexw.hlp").chmod(0o444)  # read-only: overwritten all the same
    (folder / "qorbase.dat").write_bytes((sample_set.installed / "qorbase.dat").read_bytes()[:-1] + b"\0")
    (folder / "qor_mail.cnt").unlink()
    before = stamps_of(qor, sample_set)
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []
    after = stamps_of(qor, sample_set)
    changed = sorted(name for name in after if after[name] != before.get(name))
    assert changed == ["qor_mail.cnt", "qor_vexw.hlp", "qorbase.dat"]


def test_a_record_of_size_0_is_never_current(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_file("readme.txt", size="0", checksum="0x0"))
    install_quietly(qor, kit)
    before = stamps_of(qor, sample_set)
    r = qor.run_setup("/skipsettings", exe=kit.setup, rules=[MAIL_SCANNER_CONTINUE, answer(ALL_CURRENT, IDNO),
                                                             RESULT_OK], timeout=60)
    assert r.exit_code == 0
    assert len(mail_scanner_dialogs(r)) == 1
    assert boxes(r) == [], "no question: a file of size 0 always needs installing"
    after = stamps_of(qor, sample_set)
    assert sorted(name for name in after if after[name] != before.get(name)) == ["readme.txt"]
    assert wrong_files(qor, sample_set) == []


def test_update_package_is_accepted_over_an_installation(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    (install_dir(qor) / "qor_mon.exe").unlink()
    kit.edit(lambda s: s.set_product("Package", "Update"))
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []
