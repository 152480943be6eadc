"""The product's mail scanner and its configuration program around a session,
and the monitor's start mode.

The scanner is played by hold_mutex.exe holding "Qor_Mail: Execution Mutex"
(running) and "Qor_Mail: Activity Mutex" (active); the programs the installer
starts are copies of record_start.exe as "Qor_Mail.Exe" and "MailConf.Exe" in
the install folder, which log each command line. The kits leave those two
files out of their script, so an installation keeps the recorders in place.
"""

from __future__ import annotations

import subprocess
import time

import pytest

from install_support import (ABORTED, ALL_CURRENT, IDCANCEL, IDNO, IDOK, INSTALL_DIR, MAIL_SCANNER_TITLE,
                             NO_SERVER, OK_TO_EVERY_BOX, Kit, RegValue, answer, boxes, install_dir, install_quietly,
                             mail_scanner_dialogs, rule, sample_set, tools)

__all__ = ["sample_set", "tools"]  # fixtures

EXECUTION = "Qor_Mail: Execution Mutex"
ACTIVITY = "Qor_Mail: Activity Mutex"
SCANNER, MAILCONF = "Qor_Mail.Exe", "MailConf.Exe"
USER_SETUP = r"HKCU\Software\Qor\Qor_Vex\Setup"
PROMPT_VALUE = "ExecuteMailConfWhileUpdate"
MAILCONF_MISSING = "Nie znaleziono pliku MailConf.Exe"
MONITOR_KEYS = [r"HKCU\Software\Qor\Qor_Vex\Qor_Mon\General", r"HKLM\Software\Qor\Qor_Vex\Qor_Mon\General"]

# The scanner's Abort is started as the session begins and never waited for:
# holding the first dialog a while lets its log line come first.
LET_ABORT_LAND = "wait:1500"
UPDATE_SETTINGS = rule("snapshot", LET_ABORT_LAND, "click:1", has=1011)
MAIL_CONTINUE = rule("snapshot", "click:1", title=MAIL_SCANNER_TITLE)
NOTHING_TO_DO = answer(ALL_CURRENT, IDNO)  # the update ends at once, successfully
RESULT_OK = rule("click:1", has=1040)


class Scanner:
    """hold_mutex.exe owning the scanner's mutexes while the block runs."""

    def __init__(self, qor, *names: str):
        self.qor, self.names = qor, names
        self.process = None

    def __enter__(self):
        if self.names:
            exe = self.qor.win_path(self.qor.env.build / "standins" / "hold_mutex.exe")
            self.process = subprocess.Popen([self.qor.env.loader, exe, "120", *self.names], env=self.qor.env.env,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL)
            line = self.process.stdout.readline().decode("cp1250", "replace").strip()
            if line != "holding":
                self.__exit__()
                pytest.fail(f"hold_mutex did not take the mutexes: {line!r}")
        return self

    def __exit__(self, *exc):
        if self.process:
            if self.process.poll() is None:
                self.process.kill()
            self.process.wait()
            self.process.stdout.close()
            self.process = None


def place_recorders(qor, win_folder: str = INSTALL_DIR, names=(SCANNER, MAILCONF)) -> None:
    folder = qor.host_path(win_folder)
    folder.mkdir(parents=True, exist_ok=True)
    recorder = (qor.env.build / "standins" / "record_start.exe").read_bytes()
    for name in names:
        (folder / name).write_bytes(recorder)


def companion_kit(qor, sample_set, tools) -> Kit:
    kit = Kit(qor, sample_set, tools)
    return kit.edit(lambda s: [s.remove_file(n) for n in ("Qor_Mail.exe", "MailConf.exe")])


def _log(qor, program: str, win_folder: str):
    folder = qor.host_path(win_folder)
    for p in folder.glob("*.log") if folder.is_dir() else []:
        if p.name.lower() == (program + ".log").lower():
            return p
    return None


def started(qor, program: str, expected: int, win_folder: str = INSTALL_DIR, settle: float = 1.0) -> list[str]:
    """The parameters of every start of `program` that its recorder logged,
    in order. Started programs are not waited for, so this waits until at
    least `expected` starts are in the log (at most 15 s), then `settle`
    seconds more for any start beyond them."""
    prefix = f'"{win_folder}\\{program}" '

    def read() -> list[str]:
        p = _log(qor, program, win_folder)
        lines = p.read_bytes().decode("cp1250").split("\n")[:-1] if p else []
        commands = lines[0::2]  # each start logs its command line and its current folder
        for c in commands:
            assert c.lower().startswith(prefix.lower()), f"{c!r} does not start {prefix!r}"
        return [c[len(prefix):] for c in commands]

    deadline = time.time() + 15
    while len(read()) < expected and time.time() < deadline:
        time.sleep(0.1)
    time.sleep(settle)
    return read()


def texts(r) -> list[str]:
    return [text for text, _, _ in boxes(r)]


def update_with(qor, kit: Kit, extra=()) -> object:
    return qor.run_setup(exe=kit.setup, rules=[UPDATE_SETTINGS, *extra, NOTHING_TO_DO, RESULT_OK, OK_TO_EVERY_BOX],
                         timeout=60)


# ---------------------------------------------------------------- around a session

@pytest.mark.parametrize("mutexes,prompt,commands", [
    ((EXECUTION, ACTIVITY), None, ["/abort", "/start"]),
    ((EXECUTION,), None, ["/abort", "/stop"]),
    # A running scanner is restored as it was, whatever the prompt setting says.
    ((EXECUTION,), 0, ["/abort", "/stop"]),
    # Not running, and the user turned the offer off: the scanner is left alone.
    ((), 0, []),
], ids=["running-and-active", "running-only", "running-only-prompt-off", "not-running-prompt-off"])
def test_scanner_is_paused_and_restored_around_an_update(qor, sample_set, tools, mutexes, prompt, commands):
    kit = companion_kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    place_recorders(qor)
    if prompt is not None:
        qor.reg_add(USER_SETUP, PROMPT_VALUE, prompt)
    with Scanner(qor, *mutexes):
        r = update_with(qor, kit, [MAIL_CONTINUE])
    assert r.exit_code == 0
    assert mail_scanner_dialogs(r) == [], "no offer while the scanner runs or once it is turned off"
    assert started(qor, SCANNER, len(commands)) == commands
    assert started(qor, MAILCONF, 0, settle=0) == []


@pytest.mark.parametrize("run_conf,hide", [(False, False), (True, False), (False, True), (True, True)],
                         ids=["neither", "configure", "hide", "configure-and-hide"])
def test_mail_scanner_dialog_choices_are_kept_and_acted_on(qor, sample_set, tools, run_conf, hide):
    # Not running, the per-user key present (every installation makes it) and
    # no value in it: the dialog is offered, and the scanner is started after
    # the update even when the user asks not to see the dialog again.
    kit = companion_kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    place_recorders(qor)
    assert qor.reg_value(USER_SETUP, PROMPT_VALUE) is None
    ticks = ["check:1038"] * run_conf + ["check:1039"] * hide
    r = update_with(qor, kit, [rule(*ticks, "snapshot", "click:1", title=MAIL_SCANNER_TITLE)])
    assert r.exit_code == 0
    [dialog] = mail_scanner_dialogs(r)
    assert (dialog.control(1038).checked, dialog.control(1039).checked) == (0, 0), "both boxes start cleared"
    assert qor.reg_value(USER_SETUP, PROMPT_VALUE) == RegValue("REG_DWORD", 0 if hide else 1)
    assert started(qor, SCANNER, 1) == ["/start"]
    # The configuration runs after the successful end, when asked for.
    assert started(qor, MAILCONF, int(run_conf)) == (["/protect_all /autostart_on"] if run_conf else [])
    assert texts(r) == [ALL_CURRENT]

    # The next update reads the setting back.
    r = update_with(qor, kit, [MAIL_CONTINUE])
    assert r.exit_code == 0
    assert len(mail_scanner_dialogs(r)) == (0 if hide else 1)
    assert started(qor, SCANNER, 1 if hide else 2) == (["/start"] if hide else ["/start", "/start"])


def test_configuration_asked_for_needs_its_program_and_a_success(qor, sample_set, tools):
    kit = companion_kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    place_recorders(qor, names=[SCANNER])
    configure = rule("check:1038", "click:1", title=MAIL_SCANNER_TITLE)

    # Asked for, and MailConf.Exe is not there: said so after the result.
    r = update_with(qor, kit, [configure, answer(MAILCONF_MISSING, IDOK)])
    assert r.exit_code == 0
    assert [(text, icon) for text, icon, _ in boxes(r)] == [(ALL_CURRENT, "question"), (MAILCONF_MISSING, "warning")]

    # Asked for, and the update fails (its setup.dat is damaged): not
    # started, while the scanner is still started after the engine.
    place_recorders(qor, names=[MAILCONF])
    kit.path("setup.dat").write_bytes(b"[Setup Data File]\r\nnothing else\r\n")
    r = qor.run_setup(exe=kit.setup, rules=[UPDATE_SETTINGS, configure, OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 2
    assert started(qor, SCANNER, 2) == ["/start", "/start"]
    assert started(qor, MAILCONF, 0, settle=0) == []


@pytest.mark.parametrize("cancelled", ["welcome", "settings"])
@pytest.mark.parametrize("mutexes,commands", [
    ((EXECUTION, ACTIVITY), ["/abort", "/start"]),
    ((), ["/start"]),
], ids=["running", "not-running"])
def test_cancel_of_either_first_dialog_restores_the_scanner_alike(qor, mutexes, commands, cancelled):
    # A first installation (no record): Abort went out before the welcome
    # dialog; a cancel of the welcome or the settings dialog then sends Start.
    place_recorders(qor)
    if cancelled == "welcome":
        rules = [rule(LET_ABORT_LAND, f"click:{IDCANCEL}", text="Witamy w programie")]
    else:
        rules = [rule(LET_ABORT_LAND, "click:1", text="Witamy w programie"),
                 rule(f"click:{IDCANCEL}", has=1007)]
    with Scanner(qor, *mutexes):
        r = qor.run_setup(rules=[*rules, answer(ABORTED, IDOK)], timeout=30)
    assert r.exit_code == 3
    assert texts(r)[-1:] == [ABORTED]  # (the welcome dialog counts among the boxes by its look)
    assert started(qor, SCANNER, len(commands)) == commands
    assert sorted(p.name for p in install_dir(qor).iterdir() if not p.name.endswith(".log")) == \
        sorted([MAILCONF, SCANNER]), "nothing installed"


def test_scanner_program_missing_is_silent(qor, sample_set, tools):
    kit = companion_kit(qor, sample_set, tools)
    install_quietly(qor, kit)
    with Scanner(qor, EXECUTION, ACTIVITY):
        r = update_with(qor, kit)
    assert r.exit_code == 0
    assert texts(r) == [ALL_CURRENT] and mail_scanner_dialogs(r) == []


# ---------------------------------------------------------------- the monitor's start mode

@pytest.mark.parametrize("digit", list("0123456789") + ["x"])
def test_monitor_start_digit_sets_startup_under_both_keys(qor, digit):
    # The session that follows fails for want of a source (the internet one,
    # where no server answers); the mode is written before it.
    r = qor.run_setup(f"/quiet /monitor_start={digit}", rules=[NO_SERVER, OK_TO_EVERY_BOX])
    assert r.exit_code == 2
    expected = int(digit) - 1 if digit in "123" else None
    for key in MONITOR_KEYS:
        value = qor.reg_value(key, "Startup")
        assert value == (RegValue("REG_DWORD", expected) if expected is not None else None), key
