"""The uninstall (/uninstall) of an installed sample product, quiet and with
its questions: what goes (files, program group, autostart shortcuts, the
recorded registry entries, the product's keys, the date stamps), what stays
(the approved-extensions list, a user's own files, the files of a drive's
root), and the running setup program left for deletion at the restart."""

from __future__ import annotations

import re
import time

import pytest

from install_support import (IDCANCEL, IDNO, IDOK, IDYES, INSTALL_DIR, OK_TO_EVERY_BOX, PENDING, RECORD, Kit,
                             answer, boxes, install_dir, install_quietly, registry_state, sample_set, stamps_of,
                             tools)

__all__ = ["sample_set", "tools"]  # fixtures

CONFIRM = "Program Qor_Vex zostanie usunięty\nz dysku i systemu.\n"
MAIL_WARNING = ("Usunięta zostanie konfiguracja skanowania poczty. Jeśli korzystasz z innego programu niż Outlook, "
                "musisz samodzielnie przywrócić poprzednie ustawienia skrzynki.")
DONE = "Program Qor_Vex został usunięty z dysku oraz systemu."
DONE_RESTART = DONE + "\nZrestartuj system aby dokończyć\nzaległe operacje"


def no_record(folder: str) -> str:
    return ("Brak zapisu ścieżki instalacyjnej\nprogramu z Rejestru Systemowego.\nCzy ma zostać usunięty katalog:\n"
            + folder)


def root_refused(folder: str) -> str:
    return f"Katalog instalacyjny:\n{folder}\njest katalogiem głównym dysku.\nPliki w nim nie zostaną usunięte."


SETUP = INSTALL_DIR + "\\setup.exe"  # the installed copy, which the uninstall entry starts
PRODUCT_KEY = r"HKLM\Software\Qor\Qor_Vex"
MENU_KEY = r"HKLM\Software\Qor\Qor_Menu"
MAKER_KEY = r"HKLM\Software\Qor\Setup"
STAMPS = ("{3C9E1B42-8D07-4A6F-B2C3-5E1F7A9D0C64}", "{7E3D2A10-6C4B-4F8E-9A15-2D7C0B3E8F41}")
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
CLSID = "{9F2B6C31-4E8A-11D0-8A1C-0B5D7E2F4A90}"
APPROVED = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"
# The keys that the sample's [REGISTRY] section makes as the product's own.
SCRIPT_KEYS = (r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qor_Vex_98",
               rf"HKCR\CLSID\{CLSID}",
               r"HKCR\*\shellex\ContextMenuHandlers\Qor_Vex",
               r"HKCR\Folder\shellex\ContextMenuHandlers\Qor_Vex")
PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
GROUP = PROGRAMS + r"\Qor_Vex"
STARTUP = PROGRAMS + r"\StartUp"
AUTOSTART_LINKS = ("Qor_Vex Monitor Antywirusowy.lnk", "Menu Qor_Vex.lnk")

# A quiet uninstall asks only about the mail scanning; an interactive one
# also confirms at the start and reports at the end.
QUIET_RULES = [answer(MAIL_WARNING, IDOK)]
INTERACTIVE_RULES = [answer(CONFIRM, IDOK), answer(MAIL_WARNING, IDOK), answer(DONE, IDOK)]


MAIL_PROGRAMS = ("Qor_Mail.exe", "MailConf.exe")


def installed(qor, sample_set, tools, mail_standins: bool = False) -> Kit:
    """The sample product installed quietly from a folder, its setup program
    in the install folder, and what the product's own programs would add
    once they ran: the mail scanner's autostart entry and the taskbar menu's
    settings key.

    The sample's mail scanner and its configuration program record their
    starts beside themselves, in the install folder, and the uninstall does
    not wait for them: what is left in the folder would depend on how soon
    they ended. They are taken away, so that the uninstall finds no mail
    programs to start; with mail_standins they become stand-ins that record
    their command lines in the folder they are started in (C:\\qortest)."""
    kit = Kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    qor.reg_add(RUN_KEY, "MailScanner", INSTALL_DIR + "\\Qor_Mail.exe")
    qor.reg_add(MENU_KEY, "Visible", 1)
    standin = (qor.env.build / "standins" / "record_start_cwd.exe").read_bytes()
    for name in MAIL_PROGRAMS:
        path = install_dir(qor) / name
        if mail_standins:
            path.write_bytes(standin)
        else:
            path.unlink()
    return kit


def pending_deletions(qor) -> list[str]:
    """The files the system deletes at the next restart (delayed moves
    without a target), as Windows paths."""
    value = qor.reg_value(PENDING, "PendingFileRenameOperations")
    if value is None:
        return []
    ops = list(value.value)
    if len(ops) % 2:
        ops.append("")  # the export's reader drops the empty target that ends the list
    pairs = zip(ops[0::2], ops[1::2])
    return [source.removeprefix("\\??\\") for source, target in pairs if target == ""]


def leftovers(qor) -> dict:
    """What of the product is still on the machine: files and folders, keys
    and values, shortcuts."""
    out = {}
    folder = install_dir(qor)
    out["install folder"] = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else None
    out["group"] = qor.listdir(GROUP) if qor.exists(GROUP) else None
    out["autostart"] = [n for n in AUTOSTART_LINKS if qor.exists(STARTUP + "\\" + n)]
    for key in (PRODUCT_KEY, MENU_KEY, *SCRIPT_KEYS):
        out[key] = qor.reg_export(key) is not None
    maker = qor.reg_export(MAKER_KEY)
    out["stamps"] = None if maker is None else [n for n in STAMPS if maker.value(MAKER_KEY, n) is not None]
    out["approved"] = qor.reg_value(APPROVED, CLSID)
    out["run"] = qor.reg_value(RUN_KEY, "MailScanner")
    return out


# From the installed setup program (the uninstall entry's command) the
# running program can only be scheduled for deletion at the restart; from a
# copy elsewhere the whole folder goes at once.
@pytest.mark.parametrize("quiet,exe", [
    (True, SETUP),
    (False, SETUP),
    (False, None),
], ids=["quiet", "interactive", "interactive-from-elsewhere"])
def test_uninstall_removes_everything_the_installation_recorded(qor, sample_set, tools, quiet, exe):
    installed(qor, sample_set, tools)
    before = leftovers(qor)
    assert before["install folder"] and all(before[k] for k in (PRODUCT_KEY, MENU_KEY, *SCRIPT_KEYS)), before
    assert before["group"] and before["autostart"] == list(AUTOSTART_LINKS), before
    assert before["stamps"] == list(STAMPS) and before["approved"] is not None, before

    r = qor.run_setup("/uninstall /quiet" if quiet else "/uninstall", exe=exe,
                      rules=QUIET_RULES if quiet else INTERACTIVE_RULES, timeout=60)
    assert r.exit_code == 0
    expected = [(MAIL_WARNING, "none", [IDOK])]
    if not quiet:
        expected = [(CONFIRM, "information", [IDOK, IDCANCEL]), *expected,
                    (DONE_RESTART if exe else DONE, "information", [IDOK])]
    assert boxes(r) == expected

    after = leftovers(qor)
    if exe:
        # The running program stays until the restart, and so does its folder.
        assert after["install folder"] == ["setup.exe"]
        assert pending_deletions(qor) == [SETUP]
    else:
        assert after["install folder"] is None
        assert pending_deletions(qor) == []
    assert after["group"] is None and after["autostart"] == []
    assert {k: after[k] for k in (PRODUCT_KEY, MENU_KEY, *SCRIPT_KEYS)} == dict.fromkeys(
        (PRODUCT_KEY, MENU_KEY, *SCRIPT_KEYS), False)
    # The maker's common key stays, without the two stamps; the approved list
    # stays, without the product's shell extension.
    assert after["stamps"] == []
    assert qor.reg_export(APPROVED) is not None and after["approved"] is None
    assert after["run"] is None

    if exe:
        # The restart deletes the setup program; the emptied folder stays.
        qor.env.restart_server()
        qor.run_setup("/calc C:\\nic", rules=[OK_TO_EVERY_BOX], timeout=30)  # any program: the boot runs first
        assert leftovers(qor)["install folder"] == []


def test_cancel_at_the_first_question_changes_nothing(qor, sample_set, tools):
    installed(qor, sample_set, tools)
    registry, files = registry_state(qor), stamps_of(qor, sample_set)
    shortcuts = (qor.listdir(GROUP), [n for n in AUTOSTART_LINKS if qor.exists(STARTUP + "\\" + n)])
    run = qor.reg_value(RUN_KEY, "MailScanner")

    r = qor.run_setup("/uninstall", exe=SETUP, rules=[answer(CONFIRM, IDCANCEL)], timeout=30)
    assert r.exit_code == 0
    assert boxes(r) == [(CONFIRM, "information", [IDOK, IDCANCEL])]
    assert registry_state(qor) == registry and stamps_of(qor, sample_set) == files
    assert (qor.listdir(GROUP), [n for n in AUTOSTART_LINKS if qor.exists(STARTUP + "\\" + n)]) == shortcuts
    assert qor.reg_value(RUN_KEY, "MailScanner") == run
    assert pending_deletions(qor) == []


# Without an installation record the program's own folder is offered, even in
# a quiet run. No and Cancel stop after the mail-scanner steps (its autostart
# entry is gone); Yes removes the folder like a recorded one.
@pytest.mark.parametrize("button", [IDNO, IDCANCEL, IDYES], ids=["no", "cancel", "yes"])
def test_without_a_record_the_programs_own_folder_is_offered(qor, sample_set, tools, button):
    installed(qor, sample_set, tools)
    qor.reg_delete(RECORD)
    registry, files = registry_state(qor), stamps_of(qor, sample_set)

    question = no_record(INSTALL_DIR + "\\")
    r = qor.run_setup("/uninstall /quiet", exe=SETUP,
                      rules=[answer(question, button), answer(MAIL_WARNING, IDOK)], timeout=60)
    assert r.exit_code == 0
    assert boxes(r) == [(question, "information", [IDYES, IDNO, IDCANCEL]), (MAIL_WARNING, "none", [IDOK])]
    assert qor.reg_value(RUN_KEY, "MailScanner") is None
    if button == IDYES:
        assert leftovers(qor)["install folder"] == ["setup.exe"]
        assert pending_deletions(qor) == [SETUP]
        assert qor.reg_export(PRODUCT_KEY) is None
    else:
        assert registry_state(qor) == registry and stamps_of(qor, sample_set) == files
        assert pending_deletions(qor) == []


def test_inst_on_the_uninstall_line_names_the_folder_to_remove(qor, sample_set, tools):
    installed(qor, sample_set, tools)
    qor.write_file("C:\\Drugi\\qor_vexw.exe", b"another copy")
    files = stamps_of(qor, sample_set)
    r = qor.run_setup('/uninstall /quiet /inst="C:\\Drugi"', exe=SETUP, rules=QUIET_RULES, timeout=60)
    assert r.exit_code == 0 and boxes(r) == [(MAIL_WARNING, "none", [IDOK])]
    assert not qor.exists("C:\\Drugi")
    # The recorded folder is not touched; the rest of the removal is done.
    assert stamps_of(qor, sample_set) == files
    assert qor.reg_export(PRODUCT_KEY) is None


def test_a_users_own_files_in_subfolders_and_the_group_stay(qor, sample_set, tools):
    installed(qor, sample_set, tools)
    qor.write_file(INSTALL_DIR + "\\Moje\\notatki.txt", "moje notatki")
    qor.write_file(GROUP + "\\lista.txt", "lista zakupów")
    r = qor.run_setup("/uninstall /quiet", exe=SETUP, rules=QUIET_RULES, timeout=60)
    assert r.exit_code == 0 and boxes(r) == [(MAIL_WARNING, "none", [IDOK])]
    after = leftovers(qor)
    # Every file directly in the install folder goes (the running program at
    # the restart); the subfolder with the user's file, and so the install
    # folder, stay. The group keeps the user's file and loses its shortcuts.
    assert after["install folder"] == ["Moje", "setup.exe"]
    assert qor.read_file(INSTALL_DIR + "\\Moje\\notatki.txt") == "moje notatki".encode("cp1250")
    assert after["group"] == ["lista.txt"]
    assert after["autostart"] == []


def root_listing(qor, root: str) -> dict[str, bytes]:
    folder = qor.host_path(root)
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}


# An install folder that is a drive's or a share's root, however it is
# spelled and wherever it comes from, keeps every file directly in it: the
# user is told, and the rest of the removal (keys, entries, shortcuts) goes on.
@pytest.mark.parametrize("args,recorded,shown", [
    ("", "C:\\", "C:\\"),
    ('/inst="C:"', None, "C:\\"),
    ('/inst="C:\\Program Files\\.."', None, "C:\\"),
    ('/inst="c:/"', None, "c:\\"),
    ('/inst="\\\\server\\share\\"', None, "\\\\server\\share\\"),
], ids=["recorded-C:\\", "inst-C:", "inst-dotdot", "inst-slash", "inst-share"])
def test_a_root_install_folder_keeps_the_roots_files(qor, sample_set, tools, args, recorded, shown):
    installed(qor, sample_set, tools)
    if recorded:
        qor.reg_add(RECORD, "InstallPath", recorded)
    qor.write_file("C:\\notatki.txt", "plik użytkownika")
    root = root_listing(qor, "C:\\")
    files = stamps_of(qor, sample_set)

    r = qor.run_setup(f"/uninstall /quiet {args}".strip(), exe=SETUP,
                      rules=[answer(root_refused(shown), IDOK), *QUIET_RULES], timeout=60)
    assert r.exit_code == 0
    assert boxes(r) == [(root_refused(shown), "warning", [IDOK]), (MAIL_WARNING, "none", [IDOK])]
    assert root_listing(qor, "C:\\") == root
    assert stamps_of(qor, sample_set) == files  # the product folder was not named: it stays too
    assert pending_deletions(qor) == []
    after = leftovers(qor)
    assert not any(after[k] for k in (PRODUCT_KEY, MENU_KEY, *SCRIPT_KEYS)) and after["group"] is None


def test_a_setup_program_run_from_a_floppys_root_without_a_record_keeps_the_floppys_files(qor, tmp_path):
    floppy = tmp_path / "floppy"
    floppy.mkdir()
    (floppy / "setup.exe").write_bytes((qor.env.build / "setup.exe").read_bytes())
    (floppy / "readme.txt").write_bytes(b"dysk 1")
    qor.add_drive("a", floppy, "floppy")
    shown = root_refused("A:\\")
    # Interactive: the refusal takes the place of the question about the folder.
    r = qor.run_setup("/uninstall", exe="A:\\setup.exe",
                      rules=[answer(CONFIRM, IDOK), answer(shown, IDOK), *INTERACTIVE_RULES[1:]], timeout=60)
    assert r.exit_code == 0
    assert boxes(r) == [(CONFIRM, "information", [IDOK, IDCANCEL]), (shown, "warning", [IDOK]),
                        (MAIL_WARNING, "none", [IDOK]), (DONE, "information", [IDOK])]
    assert sorted(p.name for p in floppy.iterdir()) == ["readme.txt", "setup.exe"]
    assert pending_deletions(qor) == []


def started_with(qor, name: str, wait: float) -> list[str]:
    """The parameters each start of the mail program `name` (a stand-in)
    was given, in order; waits up to `wait` seconds for a first start, since
    the uninstall does not wait for the programs it starts."""
    log = qor.host_path(qor.env.SCRATCH) / f"{name}.log"
    deadline = time.time() + wait
    while not log.exists() and time.time() < deadline:
        time.sleep(0.1)
    if not log.exists():
        return []
    lines = log.read_bytes().decode("cp1250").splitlines()
    program = f"{INSTALL_DIR}\\{name}".lower()
    out = []
    for command in lines[0::2]:
        # The program's own path first (quoted or not), then the parameters.
        m = re.match(r'^"?(.*?\.exe)"?(.*)$', command, re.IGNORECASE)
        assert m and re.sub(r"\\+", r"\\", m.group(1)).lower() == program, command
        out.append(m.group(2).strip())
    return out


ABORT = ["/abort"]
UNPROTECT = ["/unprotect_all /autostart_off /no_interactive"]


# The mail scanner is told to stop in every case; its configuration is taken
# away (after the warning) unless /no_uninstall_pop3 says otherwise, even
# when the user then cancels at the question about a folder without record.
@pytest.mark.parametrize("args,record,rules,shown,mailconf,removed", [
    ("/quiet", True, QUIET_RULES, [MAIL_WARNING], UNPROTECT, True),
    ("/quiet /no_uninstall_pop3", True, [], [], [], True),
    ("/quiet", False, [answer(no_record(INSTALL_DIR + "\\"), IDCANCEL), *QUIET_RULES],
     [no_record(INSTALL_DIR + "\\"), MAIL_WARNING], UNPROTECT, False),
], ids=["quiet", "no_uninstall_pop3", "no-record-cancelled"])
def test_the_mail_scanner_is_stopped_and_its_configuration_taken_away(qor, sample_set, tools, args, record, rules,
                                                                      shown, mailconf, removed):
    installed(qor, sample_set, tools, mail_standins=True)
    if not record:
        qor.reg_delete(RECORD)
    r = qor.run_setup(f"/uninstall {args}", exe=SETUP, rules=rules, timeout=60, wait_children=True)
    assert r.exit_code == 0
    assert [w.message for w in r.messageboxes] == shown
    assert started_with(qor, "Qor_Mail.exe", wait=10) == ABORT
    assert started_with(qor, "MailConf.exe", wait=10 if mailconf else 1) == mailconf
    run = qor.reg_value(RUN_KEY, "MailScanner")
    assert run is None if mailconf else run == INSTALL_DIR + "\\Qor_Mail.exe"
    assert (qor.reg_export(PRODUCT_KEY) is None) == removed
    if not removed:
        assert (install_dir(qor) / "qor_vexw.exe").exists()
