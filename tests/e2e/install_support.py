"""Helpers of the installation cases: the sample set, kits made from it in the
prefix, the texts the user must see, and checks of what an installation left.

The sample set (sample/sample_product.py) is made once per test session from
the cross-built setup.exe and the native tools filesum and scriptsum (found
beside the cross build as tools/test-all lays them out, or in
QOR_NATIVE_BUILD). A `Kit` is a private copy of its folder source at a Windows
path, to be changed by one case.
"""

from __future__ import annotations

import json
import os
import shutil
import sys
import threading
import time
from pathlib import Path

import pytest

from qorwine import IDCANCEL, IDNO, IDOK, IDYES, REPO, RegValue, rule  # noqa: F401 (the cases import them here)

sys.path.insert(0, str(REPO / "sample"))
import sample_product as sp  # noqa: E402

INSTALL_DIR = "C:\\Program Files\\Qor_Vex"
RECORD = r"HKLM\Software\Qor\Qor_Vex\Setup"
OPTIONS = r"HKCU\Software\Qor\Qor_Vex\Options"
PENDING = r"HKLM\System\CurrentControlSet\Control\Session Manager"

# ---------------------------------------------------------------- texts

SUCCESS = "Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie.\nProgram jest gotowy do pracy"
SUCCESS_RESTART = SUCCESS + "\nWykonaj restart systemu aby dokończyć\nzaległe operacje"
REMINDER = ("Musisz jeszcze przeprowadzić aktualizację bazy wirusów.\r\n"
            "(np. za pomocą uaktualnienia baz pobranego ze strony Qor_Vex-a)")
FAILED = ("Nie można było przeprowadzić instalacji.\nMożesz w każdej chwili powtórzyć próbę\n"
          "zainstalowania programu.")
ABORTED = "Instalowanie programu zostało przerwane."
CANNOT_READ_SCRIPT = "Nie można odczytać pliku setup.dat"
BAD_SCRIPT = "Niewłaściwy format pliku setup.dat lub\nniewłaściwa wersja programu instalacyjnego"
NOT_FOR_WIN95 = "Ten produkt nie jest przeznaczony do pracy\nna platformie Windows 95."
UPDATE_ONLY = ("Ten program instalacyjny służy wyłącznie\ndo aktualizowania instalacji.\n"
               "Przed uaktualnieniem zainstaluj program\nz dyskietek instalacyjnych")
ALL_CURRENT = "Masz aktualne wszystkie pliki programu.\nCzy chcesz mimo tego uaktualnić instalację?"
BAD_FILES = "Błąd w plikach instalacyjnych"
GO_ON = "Czy chcesz kontynuować instalowanie?"
ABORT_QUESTION = "Czy chcesz przerwać\ninstalowanie programu?"


def cannot_read(stored_name: str) -> str:
    return f"Nie można odczytać pliku instalacyjnego:\n{stored_name}"


def insert_disk(label: str) -> str:
    return f'Włóż dyskietkę oznaczoną jako "{label}"'


def no_file(path: str) -> str:
    return f'Brak pliku "{path}"\nZmień dyskietkę lub przerwij instalowanie.'


def cannot_fetch(url: str) -> str:
    return f"Nie można pobrać pliku:\n{url}\nCzy chcesz powtórzyć próbę?"


# ---------------------------------------------------------------- rules

OK_TO_EVERY_BOX = rule(f"click:{IDOK}", kind="messagebox", has=IDOK, count="*")
# A program that finds no setup.dat beside it and no record installs from the
# internet; in the tests no server answers at the built-in address, and the
# download prompt is cancelled.
NO_SERVER = rule(f"click:{IDCANCEL}", kind="messagebox", message="Nie można pobrać pliku:", count="*")
WELCOME_CONTINUE = rule(f"click:{IDOK}", text="Witamy w programie")
SETTINGS_CONTINUE = rule("snapshot", f"click:{IDOK}", has=1007)
RESULT_OK = rule("snapshot", f"click:{IDOK}", has=1040)
# The mail-scanner dialog, offered on an update (the per-user key that every
# installation makes exists) while the scanner is not running.
MAIL_SCANNER_TITLE = "Instalacja skanera poczty Qor_Mail"
MAIL_SCANNER_CONTINUE = rule("snapshot", f"click:{IDOK}", title=MAIL_SCANNER_TITLE)


def answer(message: str, button: int, count: int | str = 1) -> dict:
    """Presses `button` on the message box whose text holds `message` (its
    first line: a rule's texts cannot hold line breaks)."""
    return rule(f"click:{button}", kind="messagebox", message=message.split("\n")[0], count=count)


def interactive(*extra) -> list:
    """Rules of an interactive run that goes straight through: welcome and
    settings continued, the given answers, the final result confirmed."""
    return [WELCOME_CONTINUE, SETTINGS_CONTINUE, *extra, RESULT_OK]


def boxes(result) -> list[tuple[str, str, list]]:
    """Every message box of a run as (text, icon, buttons), in order. The
    mail-scanner dialog, which the driver counts among them by its look, is
    left out: mail_scanner_dialogs gives it."""
    return [(w.message, w.icon, w.buttons) for w in result.messageboxes if w.title != MAIL_SCANNER_TITLE]


def mail_scanner_dialogs(result) -> list:
    return [w for w in result.windows if w.title == MAIL_SCANNER_TITLE]


def box_texts(result) -> list[str]:
    return [w.message for w in result.messageboxes]


def result_texts(result) -> tuple[str, str]:
    """The main and second text of the final result dialog."""
    w = next(w for w in result.windows if w.has(1040))
    return w.control(1040).text, w.control(1041).text


# ---------------------------------------------------------------- the sample set

_samples: dict[Path, sp.Sample] = {}


def native_build(cross_build: Path) -> Path:
    """QOR_NATIVE_BUILD, else the ci-native folder beside the cross build."""
    given = os.environ.get("QOR_NATIVE_BUILD")
    if given:
        return Path(given) if Path(given).is_absolute() else REPO / given
    return cross_build.parent / "ci-native"


def sample_tools(wine_env) -> sp.Tools:
    tools = sp.Tools(native_build(wine_env.build))
    if not (tools.filesum.is_file() and tools.scriptsum.is_file()):
        pytest.skip(f"no native build with tools/filesum and tools/scriptsum in {tools.native_build} "
                    "(set QOR_NATIVE_BUILD)")
    return tools


def make_sample_once(wine_env, base: Path) -> sp.Sample:
    """The session's sample set, made on first use."""
    key = wine_env.build
    if key not in _samples:
        engine = wine_env.build / "standins" / "full" / "qor_engn.dll"
        resident = wine_env.build / sp.RECORDING_STANDIN
        for standin in (engine, resident):
            if not standin.is_file():
                pytest.skip(f"{standin} is missing: build the stand-ins")
        _samples[key] = sp.make_sample(base / "sample", wine_env.build / "setup.exe", sample_tools(wine_env),
                                       engine)
    return _samples[key]


@pytest.fixture(scope="session")
def sample_set(wine_env, tmp_path_factory) -> sp.Sample:
    return make_sample_once(wine_env, tmp_path_factory.getbasetemp())


@pytest.fixture(scope="session")
def tools(wine_env) -> sp.Tools:
    return sample_tools(wine_env)


class Kit:
    """A private copy of the sample's folder source: setup.exe, setup.dat and
    the stored files, at a Windows path of the prefix (or a host folder)."""

    def __init__(self, qor, sample: sp.Sample, tools: sp.Tools, win: str = "C:\\kit", host: Path | None = None):
        self.qor, self.sample, self.tools = qor, sample, tools
        self.host = Path(host) if host else qor.host_path(win)
        self.win = win if host is None else qor.win_path(self.host)
        sp.copy_source(sample, self.host)

    @property
    def setup(self) -> str:
        return self.win + "\\setup.exe"

    def script(self) -> sp.Script:
        return sp.Script.parse((self.host / "setup.dat").read_bytes())

    def edit(self, change) -> "Kit":
        """Changes setup.dat with change(script) and gives it a fresh tail."""
        script = self.script()
        change(script)
        self.tools.write_script(script, self.host / "setup.dat")
        return self

    def path(self, name: str) -> Path:
        return self.host / name


def product_records(sample: sp.Sample) -> list[sp.FileLine]:
    """The records that the file copy installs: all but the setup program,
    which its own step keeps current."""
    return [f for _, f in sample.script().file_lines()][1:]


def install_dir(qor, win: str = INSTALL_DIR) -> Path:
    return qor.host_path(win)


def wrong_files(qor, sample: sp.Sample, names=None, win: str = INSTALL_DIR) -> list[str]:
    """The product files (or `names`) that are missing from the install folder
    or differ from the sample's bytes; empty when all arrived byte for byte."""
    folder = install_dir(qor, win)
    names = names if names is not None else [f.name for f in product_records(sample)]
    out = []
    for name in names:
        got = folder / name
        if not got.is_file():
            out.append(f"{name}: missing")
        elif got.read_bytes() != (sample.installed / name).read_bytes():
            out.append(f"{name}: {got.stat().st_size} bytes, differs from the expected "
                       f"{(sample.installed / name).stat().st_size}")
    return out


def present(qor, names, win: str = INSTALL_DIR) -> list[str]:
    folder = install_dir(qor, win)
    return [n for n in names if (folder / n).exists()]


def stamps_of(qor, sample: sp.Sample, win: str = INSTALL_DIR) -> dict[str, int]:
    """Modification time of every file of the table in the install folder
    (the engine stand-in keeps a log of its own there)."""
    folder = install_dir(qor, win)
    names = [f.name for _, f in sample.script().file_lines()]
    return {n: (folder / n).stat().st_mtime_ns for n in names if (folder / n).exists()}


def record(qor) -> dict:
    dump = qor.reg_export(RECORD)
    return (dump.key(RECORD) if dump else None) or {}


def install_quietly(qor, kit: Kit, args: str = "") -> None:
    """A first installation from the kit, with nothing asked; then the setup
    program itself is made sure to be in the install folder (its own step
    puts it there when the program has it), so that the installation matches
    its script whole."""
    r = qor.run_setup(("/quiet " + args).strip(), exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and not r.messageboxes, r.describe()
    setup = install_dir(qor) / "setup.exe"
    if not setup.exists():
        shutil.copyfile(kit.path("setup.exe"), setup)


def registry_state(qor) -> dict:
    """What an installation keeps in the registry, for before/after checks."""
    out = {}
    for key in (r"HKLM\Software\Qor", r"HKCU\Software\Qor"):
        dump = qor.reg_export(key)
        out[key] = dict(dump) if dump else None
    return out


# ---------------------------------------------------------------- acting during a run

class WhenShown:
    """Runs `act` in a thread of the test once a window whose texts hold
    `text` has appeared (for the `occurrence`-th time) in the run's
    transcript, which the driver writes as it goes. Used with a rule that gives the test time to act, e.g.
    rule("wait:1500", "click:1", message=...)."""

    def __init__(self, qor, text: str, act, timeout: float = 60, occurrence: int = 1):
        self.cases, self.text, self.act, self.timeout = qor.env.cases, text, act, timeout
        self.occurrence = occurrence  # act when this many such windows have appeared
        self.started = time.time()
        # Transcripts of earlier runs (this session's, or an earlier session's
        # of the same name, which a new run rewrites) may still be within the
        # mtime slack below; they count only once written again.
        self.earlier = {p: self._stamp(p) for p in self.cases.glob("case*.jsonl")}
        self.done = threading.Event()
        self.error: BaseException | None = None
        self.thread = threading.Thread(target=self._watch, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.done.set()
        self.thread.join(5)

    _acted = False

    @property
    def acted(self) -> bool:
        return self._acted

    def _transcripts(self):
        for p in self.cases.glob("case*.jsonl"):
            if p in self.earlier and self._stamp(p) == self.earlier[p]:
                continue
            try:
                if p.stat().st_mtime >= self.started - 1:
                    yield p
            except FileNotFoundError:
                pass

    def _watch(self):
        deadline = self.started + self.timeout
        while not self.done.is_set() and time.time() < deadline:
            if any(self._seen(p) for p in self._transcripts()):
                try:
                    self.act()
                except BaseException as e:  # reported by the test
                    self.error = e
                self._acted = True
                return
            time.sleep(0.05)

    @staticmethod
    def _stamp(path: Path) -> tuple[int, int] | None:
        try:
            st = path.stat()
        except FileNotFoundError:
            return None
        return st.st_ino, st.st_mtime_ns

    def _seen(self, path: Path) -> bool:
        seen = 0
        try:
            lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
        except OSError:
            return False
        for line in lines:
            try:
                e = json.loads(line)
            except ValueError:
                continue
            if e.get("event") != "window":
                continue
            texts = [e.get("title") or "", e.get("message") or ""]
            texts += [c.get("text") or "" for c in e.get("controls", [])]
            if any(self.text in t for t in texts):
                seen += 1
        return seen >= self.occurrence


