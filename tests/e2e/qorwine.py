"""Wine harness for the end-to-end tests: one prefix per test session, the
UI driver in front of every program run, registry read-back, path mapping.

Used by conftest.py (pytest fixtures) and by tools/main-job (show.py); it does
not import pytest.

    env = WineEnv.start(build_dir)        # Xvfb, prefix, persistent wineserver
    env.reset()                           # pristine registry, drives, drive_c
    r = env.run(r"C:\\qortest\\setup.exe", "/calc C:\\x", rules=[...])
    r.exit_code, r.windows, r.stdout
    env.reg_export(r"HKLM\\Software\\Qor")
    env.stop()

The prefix itself is managed by tools/wine-env (the same script that runs the
Win32 unit tests), so both agree on where it lives and what pristine means.
"""

from __future__ import annotations

import codecs
import json
import os
import re
import shlex
import shutil
import subprocess
import time
from dataclasses import dataclass, field
from pathlib import Path, PurePosixPath
from typing import Iterable

REPO = Path(__file__).resolve().parents[2]
WINE_ENV = REPO / "tools" / "wine-env"

# The caption of every message box of the setup program.
APP_TITLE = "Qor_Vex - program instalacyjny"

# Message box buttons by id (their texts are localised).
IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7

# The driver's exit code after its time limit.
DRIVER_TIMEOUT = 124


class HarnessError(RuntimeError):
    pass


# ---------------------------------------------------------------- rules


def rule(*actions: str, count: int | str = 1, **conditions) -> dict:
    """A driver rule: conditions (match, title, text, message, cls/class,
    kind, has, after=index of a rule that must have fired) and actions in
    order, e.g.
    rule("type:1000:C:\\kit", "click:1", title="Instalacyjny")."""
    r = {k if k != "cls" else "class": str(v) for k, v in conditions.items()}
    r["count"] = str(count)
    r["actions"] = list(actions)
    return r


def _rule_lines(r) -> list[str]:
    if isinstance(r, str):
        # The driver's one-line form: key=value pairs separated by ';'.
        return [field for field in r.split(";") if field]
    lines = [f"{k}={v}" for k, v in r.items() if k != "actions"]
    lines += [f"action={a}" for a in r.get("actions", [])]
    return lines


def rules_text(rules: Iterable) -> str:
    blocks = []
    for r in rules:
        lines = _rule_lines(r)
        for line in lines:
            if "\n" in line or "\r" in line:
                raise HarnessError(f"a rule line cannot hold a line break: {line!r}")
        blocks.append("\n".join(lines))
    return "\n\n".join(blocks) + "\n"


# ---------------------------------------------------------------- transcript


@dataclass
class Control:
    id: int
    cls: str
    kind: str
    text: str
    visible: bool
    enabled: bool
    style: int
    rect: list
    du: list
    checked: int | None = None
    pos: int | None = None
    limit: int | None = None

    @classmethod
    def from_json(cls, d: dict) -> "Control":
        return cls(
            id=d["id"], cls=d["class"], kind=d["kind"], text=d["text"], visible=d["visible"],
            enabled=d["enabled"], style=int(d["style"], 16), rect=d["rect"], du=d["du"],
            checked=d.get("checked"), pos=d.get("pos"), limit=d.get("limit"))


@dataclass
class Window:
    """A top-level window as the user saw it when it appeared (or changed)."""

    event: str
    t: int
    pid: int
    hwnd: str
    title: str
    cls: str
    kind: str
    style: int
    rect: list
    client_du: list
    controls: list
    owner: str | None = None
    message: str | None = None
    buttons: list | None = None
    icon: str | None = None

    @classmethod
    def from_json(cls, d: dict) -> "Window":
        return cls(
            event=d["event"], t=d["t"], pid=d["pid"], hwnd=d["hwnd"], title=d["title"], cls=d["class"],
            kind=d["kind"], style=int(d["style"], 16), rect=d["rect"], client_du=d["client_du"],
            controls=[Control.from_json(c) for c in d["controls"]], owner=d.get("owner"),
            message=d.get("message"), buttons=d.get("buttons"), icon=d.get("icon"))

    def control(self, id: int) -> Control:
        for c in self.controls:
            if c.id == id:
                return c
        raise KeyError(f"window {self.title!r} has no control {id}")

    def has(self, id: int) -> bool:
        return any(c.id == id for c in self.controls)

    def texts(self) -> list[str]:
        return [c.text for c in self.controls if c.text]

    def describe(self) -> str:
        lines = [f"{self.kind} {self.title!r} ({self.cls}, pid {self.pid}, {self.client_du[0]}x{self.client_du[1]} du)"]
        if self.kind == "messagebox":
            lines.append(f"  icon {self.icon}, buttons {self.buttons}")
            lines += ["  | " + line for line in (self.message or "").split("\n")]
            return "\n".join(lines)
        for c in self.controls:
            state = []
            if not c.visible:
                state.append("hidden")
            if not c.enabled:
                state.append("disabled")
            if c.checked is not None:
                state.append(f"checked={c.checked}")
            if c.pos is not None:
                state.append(f"pos={c.pos}")
            extra = f" [{', '.join(state)}]" if state else ""
            lines.append(f"  {c.id:>5} {c.kind:<14} {c.du} {c.text!r}{extra}")
        return "\n".join(lines)


@dataclass
class Result:
    exit_code: int | None
    timed_out: bool
    events: list
    stdout: str
    stderr: str
    transcript: Path
    command: str

    @property
    def windows(self) -> list[Window]:
        """Every window as it first appeared, in order."""
        return [Window.from_json(e) for e in self.events if e["event"] == "window"]

    @property
    def changes(self) -> list[Window]:
        return [Window.from_json(e) for e in self.events if e["event"] in ("change", "snapshot")]

    @property
    def messageboxes(self) -> list[Window]:
        return [w for w in self.windows if w.kind == "messagebox"]

    @property
    def processes(self) -> list[dict]:
        """Each process as it appeared, with the file name Wine gave it later
        where it had none yet ("exe" stays "" for one that never got one)."""
        names = {e["pid"]: e["exe"] for e in self.events if e["event"] == "process-name"}
        return [dict(e, exe=names.get(e["pid"], e["exe"])) for e in self.events if e["event"] == "process"]

    def window(self, title: str) -> Window:
        found = [w for w in self.windows if title in w.title]
        if len(found) != 1:
            raise KeyError(f"{len(found)} windows with {title!r} in the title:\n{self.describe()}")
        return found[0]

    def problems(self) -> list[str]:
        """What went wrong in the driving itself (not in the program under test)."""
        out = []
        for e in self.events:
            if e["event"] == "action_failed":
                out.append(f"action {e['action']!r} failed: {e['reason']}")
            elif e["event"] == "error":
                out.append(f"driver error: {e.get('message')}")
            elif e["event"] == "timeout":
                out.append(f"time limit of {e['limit_ms']} ms reached with windows open: {e['open_windows']}")
        if self.timed_out and not any(e["event"] == "timeout" for e in self.events):
            out.append("the run was killed from outside (the driver itself did not end)")
        return out

    def describe(self) -> str:
        """The run as a readable story, for failure messages and tools/main-job."""
        out = [f"$ {self.command}"]
        for e in self.events:
            ev, t = e["event"], e["t"]
            if ev in ("window", "change", "snapshot"):
                w = Window.from_json(e)
                head = {"window": "appeared", "change": "changed", "snapshot": "snapshot"}[ev]
                out.append(f"[{t:>6} ms] {head}: " + w.describe())
            elif ev == "rule":
                out.append(f"[{t:>6} ms] rule {e['rule']}: {e['source']}")
            elif ev in ("action", "action_failed"):
                extra = f" FAILED: {e['reason']}" if ev == "action_failed" else ""
                out.append(f"[{t:>6} ms]   {e['action']}{extra}")
            elif ev == "closed":
                out.append(f"[{t:>6} ms] closed {e['hwnd']}")
            elif ev == "process":
                out.append(f"[{t:>6} ms] process {e['pid']} {e['exe']}")
            elif ev == "process-name":
                out.append(f"[{t:>6} ms] process {e['pid']} is {e['exe']}")
            elif ev == "start":
                out.append(f"[{t:>6} ms] start (ANSI code page {e['acp']}, screen {e['screen']})")
            elif ev == "exit":
                out.append(f"[{t:>6} ms] exit code {e['code']}")
            else:
                out.append(f"[{t:>6} ms] {ev}: {json.dumps(e, ensure_ascii=False)}")
        if self.stdout:
            out.append("--- standard output ---")
            out.append(self.stdout.rstrip("\n"))
        if self.timed_out:
            out.append("--- TIMED OUT ---")
        return "\n".join(out)


def read_transcript(path: Path) -> list[dict]:
    events = []
    if not path.exists():
        return events
    for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
        line = line.strip()
        if not line:
            continue
        try:
            events.append(json.loads(line))
        except json.JSONDecodeError:
            events.append({"event": "garbled", "t": -1, "line": line})
    return events


# ---------------------------------------------------------------- registry


@dataclass(frozen=True)
class RegValue:
    type: str  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE, hex(N)
    value: object  # str, list[str], int or bytes

    def __eq__(self, other):
        if isinstance(other, RegValue):
            return (self.type, self.value) == (other.type, other.value)
        return self.value == other


_ROOTS = {
    "HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG",
}


def full_key(key: str) -> str:
    root, _, rest = key.partition("\\")
    root = _ROOTS.get(root.upper(), root.upper())
    return root + ("\\" + rest if rest else "")


class RegistryDump(dict):
    """{key path: {value name: RegValue}}, keys compared without case;
    the default value is named ''."""

    def __init__(self):
        super().__init__()
        self._lower = {}

    def add_key(self, key: str) -> dict:
        k = self._lower.get(key.lower())
        if k is None:
            self._lower[key.lower()] = key
            self[key] = {}
            k = key
        return self[k]

    def key(self, key: str) -> dict | None:
        k = self._lower.get(full_key(key).lower())
        return None if k is None else self[k]

    def value(self, key: str, name: str):
        values = self.key(key) or {}
        for n, v in values.items():
            if n.lower() == name.lower():
                return v
        return None


def _unescape_reg_string(s: str) -> str:
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0", "\\": "\\", '"': '"'}.get(n, "\\" + n))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _split_quoted(line: str):
    """'"name"=rest' -> (name, rest); '@=rest' -> ('', rest)."""
    if line.startswith("@="):
        return "", line[2:]
    assert line.startswith('"')
    i = 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == '"':
            break
        i += 1
    return _unescape_reg_string(line[1:i]), line[i + 2:]


def parse_reg_text(text: str) -> RegistryDump:
    """Parses the text of a .reg file as `reg export` writes it."""
    dump = RegistryDump()
    lines = text.lstrip("\ufeff").splitlines()
    # Join continuation lines (a trailing backslash in hex data).
    joined, acc = [], ""
    for line in lines:
        if acc:
            line = line.lstrip()
        if line.endswith("\\") and not line.rstrip().endswith('"') and ("=hex" in acc + line):
            acc += line[:-1]
            continue
        joined.append(acc + line)
        acc = ""
    if acc:
        joined.append(acc)
    current = None
    for line in joined:
        if not line or line.startswith(";") or line.startswith("Windows Registry") or line == "REGEDIT4":
            continue
        if line.startswith("[") and line.endswith("]"):
            current = dump.add_key(line[1:-1])
            continue
        if current is None:
            continue
        name, data = _split_quoted(line)
        current[name] = _parse_reg_data(data)
    return dump


def _parse_reg_data(data: str) -> RegValue:
    if data.startswith('"'):
        return RegValue("REG_SZ", _unescape_reg_string(data[1:-1] if data.endswith('"') else data[1:]))
    if data.startswith("dword:"):
        return RegValue("REG_DWORD", int(data[6:], 16))
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data)
    if not m:
        return RegValue("unknown", data)
    kind = int(m.group(1), 16) if m.group(1) else 3
    raw = bytes(int(b, 16) for b in m.group(2).replace(" ", "").split(",") if b)
    if kind in (1, 2):
        s = raw.decode("utf-16-le")
        return RegValue("REG_SZ" if kind == 1 else "REG_EXPAND_SZ", s[:-1] if s.endswith("\0") else s)
    if kind == 7:
        parts = raw.decode("utf-16-le").split("\0")
        while parts and parts[-1] == "":
            parts.pop()
        return RegValue("REG_MULTI_SZ", parts)
    if kind == 4:
        return RegValue("REG_DWORD", int.from_bytes(raw[:4], "little"))
    if kind == 0xB:
        return RegValue("REG_QWORD", int.from_bytes(raw[:8], "little"))
    if kind == 3:
        return RegValue("REG_BINARY", raw)
    if kind == 0:
        return RegValue("REG_NONE", raw)
    return RegValue(f"hex({kind:x})", raw)


# ---------------------------------------------------------------- the environment


def read_env_file(root: Path) -> dict:
    """The environment of an up Wine root: os.environ with the
    `export NAME='value'` and `unset NAME` lines of ROOT/env applied."""
    path = Path(root) / "env"
    if not path.exists():
        raise HarnessError(f"{root} is not up: {path} is missing")
    env = dict(os.environ)
    for line in path.read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        words = shlex.split(line)
        if words[0] == "export":
            for word in words[1:]:
                name, _, value = word.partition("=")
                env[name] = value
        elif words[0] == "unset":
            for name in words[1:]:
                env.pop(name, None)
        else:
            raise HarnessError(f"{path}: unexpected line {line!r}")
    return env


def build_flavour(build: Path) -> str:
    """The Wine flavour a cross build folder was made for (win32 or win64)."""
    path = Path(build) / "wine-flavour"
    if not path.exists():
        raise HarnessError(f"{path} is missing: configure {build} with a cmake/mingw-*.cmake toolchain")
    return path.read_text().strip()


def default_build(kind: str) -> Path:
    """The cross build folder a tool takes when told none: $QOR_WIN_BUILD, else
    build/KIND-FLAVOUR for the flavour of this host (KIND: ci, main)."""
    given = os.environ.get("QOR_WIN_BUILD")
    return Path(given) if given else REPO / "build" / f"{kind}-{host_flavour()}"


def host_flavour() -> str:
    """The flavour tools/wine-env picks for this host (QOR_WINE_FLAVOUR forces one)."""
    r = subprocess.run(["bash", str(WINE_ENV), "flavour"], capture_output=True, text=True, timeout=60,
                       stdin=subprocess.DEVNULL)
    if r.returncode != 0:
        raise HarnessError(f"tools/wine-env flavour failed:\n{r.stderr}")
    return r.stdout.strip()


class WineEnv:
    """The tests' Wine prefix, its X server and wineserver."""

    # Where the tests keep their files inside the prefix (C:\qortest).
    SCRATCH = "C:\\qortest"

    def __init__(self, build: Path, root: Path, env: dict, owner: bool):
        self.build = Path(build)
        self.root = Path(root)
        self.env = env
        self.owner = owner  # this object brought the environment up
        self.prefix = Path(env["WINEPREFIX"])
        self.cases = self.root / "run" / "cases"
        self.cases.mkdir(parents=True, exist_ok=True)
        self.counter = 0
        # Something ran since the last reset.
        self.dirty = not owner

    # ---- life cycle

    @classmethod
    def start(cls, build: Path | str, root: Path | str | None = None) -> "WineEnv":
        """Uses the environment in $QOR_WINE_ROOT when it is up (as tools/test-all
        brings it up), else brings one up in ROOT (default BUILD/wine) for the
        flavour that BUILD was made for."""
        build = Path(build).resolve()
        active = os.environ.get("QOR_WINE_ROOT")
        if root is None and active and (Path(active) / "env").exists():
            env = read_env_file(Path(active))
            if env.get("QOR_WINE_FLAVOUR") != build_flavour(build):
                raise HarnessError(f"{active} runs the {env.get('QOR_WINE_FLAVOUR')} flavour, "
                                   f"but {build} is a {build_flavour(build)} build")
            return cls(build, Path(active), env, owner=False)
        root = Path(root or build / "wine").resolve()
        up = subprocess.run(["bash", str(WINE_ENV), "up", str(root), build_flavour(build)], capture_output=True,
                            text=True, timeout=600, stdin=subprocess.DEVNULL)
        if up.returncode != 0:
            raise HarnessError(f"tools/wine-env up failed:\n{up.stderr}")
        return cls(build, root, read_env_file(root), owner=True)

    def _wine_env(self, cmd: str, limit: int = 120) -> subprocess.CompletedProcess:
        return subprocess.run(["bash", str(WINE_ENV), cmd, str(self.root)], env=self.env, capture_output=True,
                              text=True, timeout=limit, stdin=subprocess.DEVNULL)

    @property
    def loader(self) -> str:
        """The Wine loader of the prefix's flavour: run programs as [loader, exe, ...]."""
        return self.env["WINELOADER"]

    def stop(self):
        if self.owner:
            self._wine_env("down")

    def reset(self, force: bool = False):
        """Pristine registry, drive letters and drive_c (about 1.2 s); skipped
        when nothing ran since the last reset."""
        if not (self.dirty or force):
            return
        r = self._wine_env("reset")
        if r.returncode != 0:
            raise HarnessError(f"tools/wine-env reset failed:\n{r.stderr}")
        self.dirty = False

    # ---- running programs

    def wine(self, *args: str, timeout: float = 60, cwd: Path | None = None) -> subprocess.CompletedProcess:
        """Runs ARGS through the Wine loader with a time limit; output is
        captured through files (a pipe could be held open by a Wine process
        that lingers)."""
        self.dirty = True
        self.counter += 1
        out = self.cases / f"wine{self.counter}.out"
        err = self.cases / f"wine{self.counter}.err"
        with open(out, "wb") as fo, open(err, "wb") as fe:
            try:
                rc = subprocess.run(["timeout", "-k", "5", str(timeout), self.loader, *args], env=self.env,
                                    stdout=fo, stderr=fe, stdin=subprocess.DEVNULL, cwd=cwd).returncode
            except subprocess.TimeoutExpired:
                rc = 124
        if rc == 124:
            self.kill_all()
        return subprocess.CompletedProcess(args, rc, out.read_bytes(), err.read_bytes())

    def kill_all(self):
        """Ends every Wine process of the prefix (after a hang); the next
        reset starts the server again."""
        self._wine_env("kill")
        self.dirty = True

    def tool(self, name: str) -> Path:
        path = self.build / name
        if not path.exists():
            raise HarnessError(f"{path} is missing: build the cross tree first")
        return path

    def run(self, exe: str, args: str | list = "", rules: Iterable = (), timeout: float = 30,
            cwd: str | None = None, wait_children: bool = False, settle_ms: int = 100) -> Result:
        """Runs the Windows program `exe` (a Windows path, or a host path) under
        the UI driver. `args` is the raw argument text (a list is joined with
        single spaces, as written). Returns the transcript and the output."""
        driver = self.tool("uidriver.exe")
        exe_win = exe if re.match(r"^[A-Za-z]:\\", exe) else self.win_path(Path(exe))
        cwd = cwd or self.SCRATCH
        host_cwd = self.host_path(cwd)
        host_cwd.mkdir(parents=True, exist_ok=True)
        text = args if isinstance(args, str) else " ".join(args)
        self.counter += 1
        base = self.cases / f"case{self.counter}"
        transcript = base.with_suffix(".jsonl")
        rules_file = base.with_suffix(".rules")
        rules_file.write_text(rules_text(rules), encoding="utf-8")
        transcript.unlink(missing_ok=True)
        cmd = [str(driver), "--transcript", self.win_path(transcript), "--rules", self.win_path(rules_file),
               "--timeout", str(int(timeout * 1000)), "--settle", str(settle_ms), "--cwd", cwd]
        if wait_children:
            cmd.append("--wait-children")
        cmd += ["--", exe_win]
        if text:
            cmd.append(text)  # one argument: the driver passes it on byte for byte
        self.dirty = True
        out, err = base.with_suffix(".out"), base.with_suffix(".err")
        outer_killed = False
        for attempt in (1, 2):
            with open(out, "wb") as fo, open(err, "wb") as fe:
                # The driver keeps its own limit; this one only catches a driver that hangs.
                rc = subprocess.run(["timeout", "-k", "5", str(int(timeout) + 20), self.loader, *cmd],
                                    env=self.env, stdout=fo, stderr=fe, stdin=subprocess.DEVNULL,
                                    cwd=host_cwd).returncode
            # The driver records its start before it starts the program. When
            # Wine could not even start the driver (seen once on a loaded
            # machine: exit code 1, no output), nothing of the program under
            # test has run yet; the server is started again and the run is
            # made once more.
            if attempt == 2 or rc in (0, 124) or read_transcript(transcript) or out.stat().st_size:
                break
            self.counter += 1
            (self.cases / f"case{self.counter}.launch-failed").write_text(
                f"{self.loader} {' '.join(cmd)}: exit code {rc} before the driver started\n")
            self.restart_server()
        if rc == 124 and not any(e["event"] == "exit" for e in read_transcript(transcript)):
            outer_killed = True
        events = read_transcript(transcript)
        timed_out = outer_killed or any(e["event"] == "timeout" for e in events)
        if timed_out:
            self.kill_all()
        code = next((e["code"] for e in events if e["event"] == "exit"), None)
        if code is None and not timed_out:
            code = rc
        shown = f"{exe_win} {text}".rstrip()
        return Result(exit_code=code, timed_out=timed_out, events=events,
                      stdout=out.read_bytes().decode("cp1250", errors="replace"),
                      stderr=err.read_bytes().decode("utf-8", errors="replace"), transcript=transcript,
                      command=shown)

    # ---- paths

    def _drive_dir(self, letter: str) -> Path:
        link = self.prefix / "dosdevices" / f"{letter.lower()}:"
        if not (link.exists() or link.is_symlink()):
            raise HarnessError(f"drive {letter.upper()}: is not mapped in the prefix")
        return Path(os.path.realpath(link))

    def host_path(self, win: str) -> Path:
        """The host path of a Windows path on a mapped drive; existing
        components are matched without case, as Windows does."""
        m = re.match(r"^([A-Za-z]):(?:[\\/](.*))?$", win)
        if not m:
            raise HarnessError(f"not an absolute Windows path: {win!r}")
        path = self._drive_dir(m.group(1))
        for part in [p for p in re.split(r"[\\/]+", m.group(2) or "") if p]:
            candidate = path / part
            if not candidate.exists() and path.is_dir():
                for entry in os.listdir(path):
                    if entry.lower() == part.lower():
                        candidate = path / entry
                        break
            path = candidate
        return path

    def win_path(self, host: Path | str) -> str:
        """The Windows path of a host path: C: for drive_c, Z: for the rest."""
        host = Path(os.path.abspath(host))
        drive_c = Path(os.path.realpath(self.prefix / "drive_c"))
        real = Path(os.path.realpath(host)) if host.exists() else host
        try:
            rel = real.relative_to(drive_c)
            return "C:\\" + "\\".join(rel.parts)
        except ValueError:
            return "Z:" + str(PurePosixPath(host)).replace("/", "\\")

    # ---- files

    def write_file(self, win: str, data: bytes | str) -> Path:
        """Creates a file (and its folders) at a Windows path; str is written
        in code page 1250, as the setup program's own texts are."""
        path = self.host_path(win)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data.encode("cp1250") if isinstance(data, str) else data)
        return path

    def read_file(self, win: str) -> bytes:
        return self.host_path(win).read_bytes()

    def exists(self, win: str) -> bool:
        return self.host_path(win).exists()

    def mkdir(self, win: str) -> Path:
        path = self.host_path(win)
        path.mkdir(parents=True, exist_ok=True)
        return path

    def listdir(self, win: str) -> list[str]:
        path = self.host_path(win)
        return sorted(os.listdir(path)) if path.is_dir() else []

    # ---- drives and settings

    def add_drive(self, letter: str, host_dir: Path | str, kind: str = "floppy"):
        """Maps a drive letter to a host folder with a drive type Wine knows:
        floppy, cdrom, network or hd (GetDriveType: removable, CD-ROM, remote,
        fixed). Undone by the next reset."""
        letter = letter.lower()
        link = self.prefix / "dosdevices" / f"{letter}:"
        if link.is_symlink() or link.exists():
            link.unlink()
        Path(host_dir).mkdir(parents=True, exist_ok=True)
        link.symlink_to(Path(host_dir).resolve())
        self.reg_add(r"HKLM\Software\Wine\Drives", f"{letter}:", kind)
        # Wine reads the drive types when its server starts (costs ~1 s).
        self.restart_server()

    def restart_server(self):
        r = self._wine_env("restart")
        if r.returncode != 0:
            raise HarnessError(f"tools/wine-env restart failed:\n{r.stderr}")

    def set_windows_version(self, exe_name: str, version: str = "win98"):
        """Makes Wine report `version` to the program named exe_name (AppDefaults)."""
        self.reg_add(rf"HKCU\Software\Wine\AppDefaults\{exe_name}", "Version", version)

    # ---- registry

    def reg_add(self, key: str, name: str | None, value, type: str | None = None):
        """Writes one value with `wine reg add`. int -> REG_DWORD, bytes ->
        REG_BINARY, str -> REG_SZ unless type says otherwise."""
        args = ["reg", "add", full_key(key), "/f"]
        args += ["/ve"] if name in (None, "") else ["/v", name]
        if isinstance(value, int):
            args += ["/t", type or "REG_DWORD", "/d", str(value)]
        elif isinstance(value, bytes):
            args += ["/t", type or "REG_BINARY", "/d", value.hex()]
        elif value is not None:
            args += ["/t", type or "REG_SZ", "/d", value]
        r = self.wine(*args)
        if r.returncode != 0:
            raise HarnessError(f"reg add {key} {name} failed: {r.stdout!r} {r.stderr!r}")

    def reg_delete(self, key: str):
        self.wine("reg", "delete", full_key(key), "/f")

    def reg_import(self, text: str):
        """Imports .reg text (the 'Windows Registry Editor Version 5.00' header is added)."""
        self.counter += 1
        path = self.cases / f"import{self.counter}.reg"
        path.write_bytes(codecs.BOM_UTF16_LE + ("Windows Registry Editor Version 5.00\r\n\r\n" + text)
                         .replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-16-le"))
        r = self.wine("reg", "import", self.win_path(path))
        if r.returncode != 0:
            raise HarnessError(f"reg import failed: {r.stdout!r} {r.stderr!r}")

    def reg_export(self, key: str) -> RegistryDump | None:
        """The key and everything below it, or None when the key does not exist."""
        self.counter += 1
        path = self.cases / f"export{self.counter}.reg"
        path.unlink(missing_ok=True)
        r = self.wine("reg", "export", full_key(key), self.win_path(path), "/y")
        if r.returncode != 0 or not path.exists():
            return None
        return parse_reg_text(path.read_bytes().decode("utf-16"))

    def reg_value(self, key: str, name: str):
        """One value (RegValue) or None."""
        dump = self.reg_export(key)
        return None if dump is None else dump.value(key, name)
