"""A first installation of the sample product from a folder, quiet and with
the dialogs, and the final message with and without the virus-base reminder."""

from __future__ import annotations

import pytest

from install_support import (ABORTED, IDCANCEL, IDOK, INSTALL_DIR, OK_TO_EVERY_BOX, OPTIONS, REMINDER, SUCCESS, Kit,
                             RegValue, answer, install_dir, interactive, record, result_texts, rule, sample_set, tools,
                             wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures


def test_quiet_first_installation_puts_every_file_in_place(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0
    assert r.windows == [], "a quiet installation shows nothing, not even the progress window"
    assert wrong_files(qor, sample_set) == []
    rec = record(qor)
    assert rec.get("InitialInstall2") == RegValue("REG_DWORD", 0)
    assert "InUpdating" not in rec
    assert rec.get("InstallPath") == RegValue("REG_SZ", INSTALL_DIR)
    assert rec.get("LocalSourcePath") == RegValue("REG_SZ", "C:\\kit\\")
    assert qor.reg_value(OPTIONS, "NotifyNewVer") == RegValue("REG_DWORD", 1)


def test_interactive_first_installation_shows_welcome_settings_progress_and_success(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    r = qor.run_setup(exe=kit.setup, rules=interactive(), timeout=60)
    assert r.exit_code == 0
    welcome, settings, progress, result = r.windows
    assert "Witamy w programie Qor_Vex" in " ".join(welcome.texts())
    # Template 132: the settings of a first installation, without the update
    # banner, both paths filled in.
    assert settings.client_du == [227, 150] and not settings.has(1011)
    assert settings.control(1000).text == "C:\\kit\\"
    assert settings.control(1007).text == INSTALL_DIR
    assert progress.title == "Qor_VEX - Instalowanie plików"
    assert result_texts(r) == (SUCCESS, "")
    assert wrong_files(qor, sample_set) == []
    assert record(qor).get("InitialInstall2") == RegValue("REG_DWORD", 0)
    assert qor.reg_value(OPTIONS, "NotifyNewVer") == RegValue("REG_DWORD", 1)


def test_settings_choose_the_install_folder(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    rules = interactive()
    rules[1] = {**rules[1], "actions": ["type:1007:C:\\Inna\\Qor", "click:1"]}
    r = qor.run_setup(exe=kit.setup, rules=rules, timeout=60)
    assert r.exit_code == 0
    assert wrong_files(qor, sample_set, win="C:\\Inna\\Qor") == []
    assert not install_dir(qor).exists()
    assert record(qor).get("InstallPath") == RegValue("REG_SZ", "C:\\Inna\\Qor")


# The reminder follows the table: the main program listed without the virus base.
@pytest.mark.parametrize("removed,second_text", [
    (["qorbase.dat"], REMINDER),
    (["qorbase.dat", "qor_vexw.exe"], ""),
    (["qor_vexw.exe"], ""),
], ids=["main-program-without-base", "neither", "base-without-main-program"])
def test_virus_base_reminder_under_the_success_text(qor, sample_set, tools, removed, second_text):
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: [s.remove_file(name) for name in removed])
    r = qor.run_setup("/skipsettings", exe=kit.setup, rules=interactive(), timeout=60)
    assert r.exit_code == 0
    assert result_texts(r) == (SUCCESS, second_text)
    kept = [f.name for _, f in kit.script().file_lines()][1:]
    assert wrong_files(qor, sample_set, kept) == []


def test_welcome_cancelled_installs_nothing(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    r = qor.run_setup(exe=kit.setup, rules=[rule(f"click:{IDCANCEL}", text="Witamy w programie"),
                                            answer(ABORTED, IDOK)], timeout=30)
    assert r.exit_code == 3
    assert [w.message for w in r.messageboxes if w.message == ABORTED] == [ABORTED]
    assert not install_dir(qor).exists()
