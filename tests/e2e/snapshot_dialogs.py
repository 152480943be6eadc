"""Pictures of every dialog and message a user meets, taken under Wine.

Not a test module (pytest collects test_*.py only): tools/snapshot-dialogs
runs it, with QOR_SNAPSHOT_DIR naming the folder for the PNG files, and then
writes the page docs/dialogs.md from CASES.

Each case is one run of setup.exe, played by the UI driver with the usual
rules. The rule for a window to be pictured holds it open a while ("wait:MS"
before its answer); a thread of the case watches the run's transcript and,
once the window has shown for a moment, takes the part of the Xvfb screen
under the window's rectangle with ImageMagick's `import`.

To add a picture: add a Shot to a case's shots (its file name, its caption,
and what picks its window out), and hold that window in the case's rules;
or add a Case. A case whose feature is not in the repository yet (see
`available`) is left out, and the page says so.
"""

from __future__ import annotations

import json
import os
import shutil
import socket
import subprocess
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

import pytest

from install_support import (REPO, ABORT_QUESTION, ABORTED, ALL_CURRENT, CANNOT_READ_SCRIPT, FAILED, GO_ON, IDCANCEL, IDNO,
                             IDOK, IDYES, INSTALL_DIR, OK_TO_EVERY_BOX, Kit, answer, insert_disk, install_quietly, rule,
                             sample_set, sp, tools)

__all__ = ["sample_set", "tools"]  # fixtures

HOLD = "wait:1500"  # how long a pictured window stays before it is answered
PAINT_S = 0.4       # from the window's first record to the picture

MAIL_TITLE = "Instalacja skanera poczty Qor_Mail"
UNINSTALL_FIRST = "Program Qor_Vex zostanie usunięty\nz dysku i systemu.\n"
UNINSTALL_NO_RECORD = "Brak zapisu ścieżki instalacyjnej"
UNINSTALL_MAIL = "Usunięta zostanie konfiguracja skanowania poczty."
UNINSTALLED = "Program Qor_Vex został usunięty z dysku oraz systemu."
CANNOT_FETCH = "Nie można pobrać pliku:"
NO_SETUP_FILES = "Podany katalog nie zawiera"
NO_WININET = "Brak pliku systemowego WININET.DLL"
NO_CONNECTION = "Nie można połączyć się z Internetem."

# What the internet and uninstall cases need: the internet cases' helpers,
# the uninstall itself.
INTERNET_CASES = "tests/e2e/test_install_internet.py"
UNINSTALL_SOURCE = "src/uninstall/uninstall.cpp"


@dataclass
class Shot:
    """One picture: the first window of the run (as first shown or after a
    change) whose title or texts hold `text`, and that has control `has`
    when given."""
    name: str
    caption: str
    text: str = ""
    has: int | None = None

    def matches(self, event: dict) -> bool:
        texts = [event.get("title") or "", event.get("message") or ""]
        texts += [c.get("text") or "" for c in event.get("controls", [])]
        if self.has is not None and not any(c.get("id") == self.has for c in event.get("controls", [])):
            return False
        return any(self.text in t for t in texts)


@dataclass
class Case:
    name: str
    shots: list[Shot]
    run: Callable  # run(qor, ctx) -> None; ctx holds sample_set, tools, tmp_path
    # A file of the repository that the case's feature brings, without which
    # the case is not made; and the note for the page when it is not.
    needs: str | None = None
    pending: str = ""


# ---------------------------------------------------------------- the cases

BIG = "qorbig.dat"


def big_kit(qor, ctx) -> Kit:
    """The sample folder set with a 12 MiB file, SZDD-compressed: expanding it
    keeps the progress window up for a few seconds."""
    kit = Kit(qor, ctx["sample_set"], ctx["tools"])
    installed = ctx["tmp_path"] / "installed"
    installed.mkdir()
    sp.write_big_file(installed / BIG, 12 << 20, BIG)
    sp.compress(installed / BIG, kit.path(sp.stored_name(BIG)))
    script = kit.script()
    at = next(i for i, f in script.file_lines() if f.name == "readme.txt")
    script.lines.insert(at + 1, f'"","{BIG}",0,0x0,"{sp.stored_name(BIG)}",0,0x0,"Dysk 1"')
    sp.fill_sizes(script, installed, kit.host, ctx["tools"])
    ctx["tools"].write_script(script, kit.path("setup.dat"))
    return kit


def first_installation(qor, ctx):
    kit = big_kit(qor, ctx)
    qor.run_setup(exe=kit.setup, timeout=120, rules=[
        rule(HOLD, f"click:{IDOK}", text="Witamy w programie"),
        rule(HOLD, f"click:{IDOK}", has=1007),
        # The progress window held still while the big file is expanded,
        # then Esc; the question is answered No and the installation goes on.
        rule("freeze:2000", "key:esc", has=1001, text=BIG),
        rule(HOLD, f"click:{IDNO}", kind="messagebox", message=ABORT_QUESTION.split("\n")[0]),
        rule(HOLD, f"click:{IDOK}", has=1040),
    ])


def update(qor, ctx):
    kit = Kit(qor, ctx["sample_set"], ctx["tools"])
    install_quietly(qor, kit)  # the per-user key now exists: the mail-scanner dialog is offered
    qor.run_setup(exe=kit.setup, timeout=60, rules=[
        rule(HOLD, f"click:{IDOK}", has=1011),
        rule("check:1038", HOLD, f"click:{IDOK}", title=MAIL_TITLE),
        rule(HOLD, f"click:{IDNO}", kind="messagebox", message=ALL_CURRENT.split("\n")[0]),
        rule(f"click:{IDOK}", has=1040),
        OK_TO_EVERY_BOX,
    ])


def settings_refused(qor, ctx):
    # A source folder without installation files: refused, then cancelled.
    kit = Kit(qor, ctx["sample_set"], ctx["tools"])
    qor.run_setup(exe=kit.setup, timeout=30, rules=[
        rule(f"click:{IDOK}", text="Witamy w programie"),
        rule("type:1000:C:\\windows", f"click:{IDOK}", "wait:3000", f"click:{IDCANCEL}", has=1007),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=NO_SETUP_FILES),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=ABORTED),
    ])


def disk_prompt(qor, ctx):
    kit = Kit(qor, ctx["sample_set"], ctx["tools"], host=ctx["tmp_path"] / "floppy")
    qor.add_drive("a", kit.host, "floppy")
    kit.path("qorbase.da_").unlink()
    qor.run_setup("/quiet", exe="A:\\setup.exe", timeout=60, rules=[
        rule(HOLD, f"click:{IDCANCEL}", kind="messagebox", message="Włóż dyskietkę"),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message="Nie można odczytać pliku instalacyjnego"),
        rule(HOLD, f"click:{IDNO}", kind="messagebox", message=GO_ON),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=FAILED.split("\n")[0]),
    ])


def use_fake_internet_library(qor, exe: str, form: str) -> None:
    """The stand-in WININET.DLL of that form beside the program, which Wine
    then loads instead of its own."""
    folder, name = exe.rsplit("\\", 1)
    qor.write_file(f"{folder}\\wininet.dll", qor.env.tool(f"fake-wininet/{form}/wininet.dll").read_bytes())
    qor.reg_add(f"HKCU\\Software\\Wine\\AppDefaults\\{name}\\DllOverrides", "wininet", "native")


def internet_library_refused(qor, ctx):
    # No setup.dat beside the program and no record: the internet source; the
    # library lacks names the program needs.
    exe = qor.install_setup()
    use_fake_internet_library(qor, exe, "incomplete")
    qor.run_setup(exe=exe, timeout=30, rules=[
        rule(f"click:{IDOK}", text="Witamy w programie"),
        rule(f"click:{IDOK}", "wait:3000", f"click:{IDCANCEL}", has=1007),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=NO_WININET),
        OK_TO_EVERY_BOX,
    ])


def closed_port(free_port) -> int:
    """Port 9 when nothing listens there (the picture then stays the same
    from run to run), else a free one."""
    with socket.socket() as s:
        s.settimeout(2)
        try:
            s.connect(("127.0.0.1", 9))
        except OSError:
            return 9
    return free_port()


def internet_retry(qor, ctx):
    # The internet cases' own helpers: a copy of setup.exe whose default
    # internet path names a port where nothing listens.
    from test_install_internet import free_port, with_internet_path
    exe = with_internet_path((qor.env.build / "setup.exe").read_bytes(),
                             f"http://127.0.0.1:{closed_port(free_port)}/setup/qor_vex/win98")
    qor.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings", "ProxyEnable", 0)
    qor.write_file("C:\\net\\setup.exe", exe)
    qor.run_setup("/quiet", exe="C:\\net\\setup.exe", timeout=60, rules=[
        rule(HOLD, f"click:{IDCANCEL}", kind="messagebox", message=CANNOT_FETCH),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=CANNOT_READ_SCRIPT),
        OK_TO_EVERY_BOX,
    ])


def internet_no_connection(qor, ctx):
    # A library with every name the program needs whose session never opens.
    exe = qor.install_setup()
    use_fake_internet_library(qor, exe, "narrow")
    qor.run_setup("/quiet", exe=exe, timeout=60, rules=[
        rule(HOLD, f"click:{IDCANCEL}", kind="messagebox", message=NO_CONNECTION),
        OK_TO_EVERY_BOX,
    ])


def uninstall(qor, ctx):
    kit = Kit(qor, ctx["sample_set"], ctx["tools"])
    install_quietly(qor, kit)
    qor.run_setup("/uninstall", exe=f"{INSTALL_DIR}\\setup.exe", timeout=60, rules=[
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message="zostanie usunięty"),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=UNINSTALL_MAIL),
        rule(HOLD, f"click:{IDOK}", kind="messagebox", message=UNINSTALLED),
        OK_TO_EVERY_BOX,
    ])


def uninstall_without_record(qor, ctx):
    qor.run_setup("/uninstall", timeout=60, rules=[
        rule(f"click:{IDOK}", kind="messagebox", message="zostanie usunięty"),
        rule(HOLD, f"click:{IDCANCEL}", kind="messagebox", message=UNINSTALL_NO_RECORD),
        OK_TO_EVERY_BOX,
    ])


CASES = [
    Case("first-installation", [
        Shot("welcome", "Welcome, on a first installation", text="Witamy w programie"),
        Shot("settings-first", "Settings of a first installation: source and install folder", has=1007),
        Shot("progress", "Progress window while a file is copied", text=BIG, has=1001),
        Shot("abort-question", "Esc or Przerwij in the progress window", text=ABORT_QUESTION),
        Shot("result-success", "Result of a successful installation", has=1040),
    ], first_installation),
    Case("update", [
        Shot("settings-update", "Settings of an update", has=1011),
        Shot("mail-scanner", "Mail-scanner prompt (an update while the scanner is not running)", text=MAIL_TITLE),
        Shot("all-current", "An update when every file is already current", text=ALL_CURRENT),
    ], update),
    Case("settings-refused", [
        Shot("settings-refusal", "Settings: a source folder without installation files", text=NO_SETUP_FILES),
        Shot("aborted", "After a cancel", text=ABORTED),
    ], settings_refused),
    Case("disk-prompt", [
        Shot("disk-prompt", "Disk prompt while installing from floppies", text=insert_disk("Dysk 2")),
        Shot("cannot-read", "A file that cannot be read", text="Nie można odczytać pliku instalacyjnego"),
        Shot("go-on", "The question after a file failed", text=GO_ON),
        Shot("failed", "Result of a failed installation", text=FAILED),
    ], disk_prompt),
    Case("internet-library-refused", [
        Shot("settings-no-wininet", "Settings: the internet source without a usable WININET.DLL", text=NO_WININET),
    ], internet_library_refused),
    Case("internet-retry", [
        Shot("internet-retry", "Internet source: a file that cannot be fetched, with Retry", text=CANNOT_FETCH),
    ], internet_retry, needs=INTERNET_CASES,
        pending="made once the internet source (branch i12-net) is in"),
    Case("internet-no-connection", [
        Shot("internet-no-connection", "Internet source: no connection, with Retry", text=NO_CONNECTION),
    ], internet_no_connection, needs=INTERNET_CASES, pending="made once the internet source (branch i12-net) is in"),
    Case("uninstall", [
        Shot("uninstall-question", "Uninstall: the first question", text=UNINSTALL_FIRST),
        Shot("uninstall-mail", "Uninstall: the mail-scanning configuration goes", text=UNINSTALL_MAIL),
        Shot("uninstall-done", "Uninstall: done", text=UNINSTALLED),
    ], uninstall, needs=UNINSTALL_SOURCE, pending="made once the uninstall (branch i12-un) is in"),
    Case("uninstall-without-record", [
        Shot("uninstall-no-record", "Uninstall without an installation record: which folder", text=UNINSTALL_NO_RECORD),
    ], uninstall_without_record, needs=UNINSTALL_SOURCE, pending="made once the uninstall (branch i12-un) is in"),
]


def available(case: Case) -> bool:
    return case.needs is None or (REPO / case.needs).is_file()


# ---------------------------------------------------------------- taking pictures

class Camera:
    """Watches the transcripts of the runs that start while it is on and
    takes each shot at the first window that matches it."""

    def __init__(self, qor, shots: list[Shot], out: Path):
        self.cases, self.display = qor.env.cases, qor.env.env["DISPLAY"]
        self.shots, self.out = list(shots), out
        self.taken: dict[str, Path] = {}
        self.errors: list[str] = []
        self.started = time.time()
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._watch, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join(10)

    def _events(self):
        for p in sorted(self.cases.glob("case*.jsonl")):
            try:
                if p.stat().st_mtime < self.started - 1:
                    continue
                lines = p.read_text(encoding="utf-8", errors="replace").splitlines()
            except OSError:
                continue
            for line in lines:
                try:
                    e = json.loads(line)
                except ValueError:
                    continue
                if e.get("event") in ("window", "change", "snapshot") and e.get("rect"):
                    yield e

    def _watch(self):
        while not self.stop.is_set() and len(self.taken) < len(self.shots):
            for e in list(self._events()):
                for shot in self.shots:
                    if shot.name not in self.taken and shot.matches(e):
                        time.sleep(PAINT_S)
                        self._take(shot, e["rect"])
            time.sleep(0.05)

    def _take(self, shot: Shot, rect: list[int]):
        x, y, w, h = rect
        target = self.out / f"{shot.name}.png"
        # The window's rectangle of the screen; metadata and time stamps
        # stripped so that a picture remade unchanged has the same bytes.
        r = subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", f"{w}x{h}+{x}+{y}",
                            "+repage", "-strip", "-define", "png:exclude-chunks=date,time", f"png:{target}"],
                           capture_output=True, text=True, timeout=30)
        if r.returncode != 0:
            self.errors.append(f"{shot.name}: import failed: {r.stderr.strip()}")
        self.taken[shot.name] = target


def output_dir() -> Path:
    given = os.environ.get("QOR_SNAPSHOT_DIR")
    if not given:
        pytest.skip("QOR_SNAPSHOT_DIR is not set: run tools/snapshot-dialogs")
    path = Path(given)
    path.mkdir(parents=True, exist_ok=True)
    return path


@pytest.mark.parametrize("case", CASES, ids=[c.name for c in CASES])
def test_snapshot(qor, sample_set, tools, tmp_path, case):
    out = output_dir()
    if shutil.which("import") is None:
        pytest.fail("ImageMagick's import is missing (bash .ci/install-deps installs it)")
    if not available(case):
        pytest.skip(f"{case.name}: {case.pending}")
    ctx = {"sample_set": sample_set, "tools": tools, "tmp_path": tmp_path}
    with Camera(qor, case.shots, out) as camera:
        case.run(qor, ctx)
        deadline = time.time() + 5
        while len(camera.taken) < len(case.shots) and time.time() < deadline:
            time.sleep(0.1)
    missing = [s.name for s in case.shots if s.name not in camera.taken]
    assert not camera.errors and not missing, f"errors {camera.errors}, no window for {missing}\n" + \
        "\n".join(r.describe() for r in qor.results)


# ---------------------------------------------------------------- the page

def write_page(page: Path, pictures: Path) -> None:
    rel = os.path.relpath(pictures, page.parent)
    lines = ["# Dialogs and messages", "",
             "Every window a user of `setup.exe` meets, as Wine shows it with the Polish",
             "code page. Remade by `tools/snapshot-dialogs`.", ""]
    for case in CASES:
        made = [s for s in case.shots if (pictures / f"{s.name}.png").is_file()]
        for shot in case.shots:
            lines.append(f"## {shot.caption}")
            lines.append("")
            if shot in made:
                lines.append(f"![{shot.caption}]({rel}/{shot.name}.png)")
            else:
                lines.append(f"Not pictured yet: {case.pending or 'run tools/snapshot-dialogs'}.")
            lines.append("")
    page.write_text("\n".join(lines), encoding="utf-8")


if __name__ == "__main__":
    import sys
    write_page(Path(sys.argv[1]), Path(sys.argv[2]))
