"""Installation from the internet source, against the tests' own HTTP server
on 127.0.0.1 (a Python http.server thread on a free port), through Wine's
WinINet.

The program's default internet path is its string resource 3, fixed at build
time (QOR_INTERNET_HOST); no switch, dialog field or record value changes it.
So the cases run a copy of setup.exe whose resource 3 names the test server
instead (`with_internet_path`, the same program otherwise), and serve a
sample set made from that copy, so that the setup program on the server is
the one that runs. The copy lies alone in C:\\net: with no setup.dat beside
it, no record and no /src=, the source is the internet.

Proxies stay out: tools/wine-env unsets the proxy variables, and the prefix
is told to use no proxy, so WinINet connects to 127.0.0.1 directly.
"""

from __future__ import annotations

import functools
import http.server
import shutil
import socket
import struct
import threading
from pathlib import Path

import pytest

from install_support import (ABORTED, CANNOT_READ_SCRIPT, FAILED, GO_ON, IDCANCEL, IDNO, IDOK, IDYES, OK_TO_EVERY_BOX, SUCCESS,
                             WELCOME_CONTINUE, WhenShown, answer, boxes, cannot_fetch, cannot_read, install_dir, interactive,
                             present, record, result_texts, rule, sample_tools, sp, tools, wrong_files)
from qorwine import IDRETRY

__all__ = ["tools"]  # fixture

AGENT = "Qor_Vex_98 Setup Session"
SERVER_PATH = "/setup/qor_vex/win98"
SETUP = "C:\\net\\setup.exe"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
PROXY_VARIABLES = ("http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy")
NO_WININET = "Brak pliku systemowego WININET.DLL\nNie jest możliwa instalacja przez Internet"
NO_CONNECTION = ("Nie można połączyć się z Internetem.\nWybierz powtórzenie operacji, jeżeli\n"
                 "chcesz powtórzyć próbę połączenia\nlub połączysz się poza programem.")
MISSING = "qor_mcfg.dll"  # its stored form qor_mcfg.dl_ is taken off the server


# ---------------------------------------------------------------- the program's internet path

def with_internet_path(exe: bytes, url: str) -> bytes:
    """A copy of the PE image `exe` whose string resource 3 reads `url`.

    Strings live in blocks of 16 (RT_STRING, block id = string id / 16 + 1),
    each a 16-bit length and that many UTF-16LE units. The block is rewritten
    in place; a new text no longer than the old keeps it within its bytes
    (the rest is zero, which nothing reads)."""
    data = bytearray(exe)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    wide = struct.unpack_from("<H", data, opt)[0] == 0x20B
    resource_rva = struct.unpack_from("<I", data, opt + (112 if wide else 96) + 2 * 8)[0]
    spans = [struct.unpack_from("<IIII", data, opt + optional_size + 40 * i + 8) for i in range(sections)]

    def offset(rva: int) -> int:
        for vsize, va, raw_size, raw in spans:
            if va <= rva < va + max(vsize, raw_size):
                return rva - va + raw
        raise ValueError(f"RVA {rva:#x} lies in no section")

    base = offset(resource_rva)

    def entry(directory: int, wanted: int | None) -> int:
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        raise ValueError(f"no resource entry {wanted}")

    leaf = entry(entry(entry(0, 6), 3 // 16 + 1), None)  # RT_STRING, block 1, its one language
    block_rva, block_size = struct.unpack_from("<II", data, base + leaf)
    at = offset(block_rva)
    strings, pos = [], at
    for _ in range(16):
        n = struct.unpack_from("<H", data, pos)[0]
        strings.append(data[pos + 2:pos + 2 + 2 * n].decode("utf-16-le"))
        pos += 2 + 2 * n
    strings[3 % 16] = url
    block = b"".join(struct.pack("<H", len(s)) + s.encode("utf-16-le") for s in strings)
    if len(block) > block_size:
        raise ValueError(f"{url!r} does not fit where resource 3 ({strings[3]!r}) was")
    data[at:at + block_size] = block.ljust(block_size, b"\0")
    return bytes(data)


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------- the server

class Server:
    """An HTTP server on 127.0.0.1:port serving `root` (a folder whose
    setup/qor_vex/win98 is the installation set), started and stopped by
    the case. It notes every request: (path, User-Agent)."""

    def __init__(self, port: int, root: Path):
        self.port, self.root = port, root
        self.requests: list[tuple[str, str]] = []
        self.httpd: http.server.ThreadingHTTPServer | None = None

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.port}{SERVER_PATH}"

    @property
    def kit(self) -> Path:
        return self.root / SERVER_PATH.lstrip("/")

    def start(self) -> None:
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def do_GET(self):
                server.requests.append((self.path, self.headers.get("User-Agent", "")))
                super().do_GET()

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port),
                                                     functools.partial(Handler, directory=str(self.root)))
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self) -> None:
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None

    def paths(self) -> list[str]:
        return [p for p, _ in self.requests]


@pytest.fixture(scope="module")
def port() -> int:
    return free_port()


@pytest.fixture(scope="module")
def internet_sample(wine_env, port, tmp_path_factory) -> tuple[sp.Sample, bytes]:
    """The sample set made from the copy of setup.exe that names the test
    server, and that copy's bytes."""
    base = tmp_path_factory.mktemp("internet")
    exe = base / "setup.exe"
    exe.write_bytes(with_internet_path((wine_env.build / "setup.exe").read_bytes(),
                                       f"http://127.0.0.1:{port}{SERVER_PATH}"))
    engine = wine_env.build / "standins" / "full" / "qor_engn.dll"
    if not engine.is_file():
        pytest.skip(f"{engine} is missing: build the stand-ins")
    # The copy lies outside the build: the resident programs' stand-in is named.
    resident = wine_env.build / "standins" / "record_start.exe"
    return sp.make_sample(base / "sample", exe, sample_tools(wine_env), engine, resident), exe.read_bytes()


@pytest.fixture
def server(qor, port, internet_sample, tmp_path):
    """The case's server (not yet started) with a private copy of the set,
    and the program at C:\\net\\setup.exe, with no proxy configured."""
    sample, exe = internet_sample
    assert not [v for v in PROXY_VARIABLES if v in qor.env.env or v.upper() in qor.env.env]
    qor.reg_add(INTERNET_SETTINGS, "ProxyEnable", 0)
    qor.write_file(SETUP, exe)
    s = Server(port, tmp_path / "www")
    sp.copy_source(sample, s.kit)
    yield s
    s.stop()


def edit_kit(server: Server, tools, change) -> None:
    script = sp.Script.parse((server.kit / "setup.dat").read_bytes())
    change(script)
    tools.write_script(script, server.kit / "setup.dat")


def temporary_copies(qor) -> list[Path]:
    return sorted(qor.host_path("C:\\users").rglob("fol*.tmp"))


# ---------------------------------------------------------------- cases

def test_quiet_installation_from_the_server(qor, server, internet_sample):
    sample, _ = internet_sample
    server.start()
    r = qor.run_setup("/quiet", exe=SETUP, rules=[OK_TO_EVERY_BOX], timeout=90)
    assert (r.exit_code, boxes(r)) == (0, []), r.describe()
    assert wrong_files(qor, sample) == []
    rec = record(qor)
    assert (rec["LocalRemote"], rec["InetPath"]) == (1, server.url), rec
    # setup.dat first, then every stored file, each a plain GET of the
    # internet path, a slash and the name, from the program's own session.
    paths = server.paths()
    assert paths[0] == SERVER_PATH + "/setup.dat"
    stored = [f.cname for _, f in sample.script().file_lines()][1:]
    assert [p for p in paths if p != SERVER_PATH + "/setup.exe"][1:] == [f"{SERVER_PATH}/{n}" for n in stored]
    assert {agent for _, agent in server.requests} == {AGENT}
    # Downloads went through temporary copies, every one deleted.
    assert temporary_copies(qor) == []


def test_interactive_download_shows_its_url_and_temporary_copy(qor, server, internet_sample, tools):
    # A large file stored as is lasts long enough under the progress window
    # to be seen with its caption, its URL and its temporary copy.
    sample, _ = internet_sample
    big = "qorbig.dat"
    sp.write_big_file(server.kit / big, 24 << 20, big)

    def add_big(script):
        at = next(i for i, f in script.file_lines() if f.name == "readme.txt")
        script.lines.insert(at + 1, f'"","{big}",0,0x0,"{big}",0,0x0,"Dysk 3"')
        sp.fill_sizes(script, server.kit, server.kit, tools)

    edit_kit(server, tools, add_big)
    server.start()
    url = f"{server.url}/{big}"
    r = qor.run_setup(exe=SETUP, rules=interactive(rule("snapshot", has=1001, text=url)), timeout=120)
    assert r.exit_code == 0, r.describe()
    assert result_texts(r)[0] == SUCCESS
    # The window names the file's URL before the download starts (under the
    # caption of the file before it); during the download it shows it with
    # "Pobieranie" and the temporary copy.
    seen = [w for w in r.windows + r.changes
            if w.has(1001) and any(url in t for t in w.texts()) and w.control(1015).text.startswith("Pobieranie")]
    assert seen, r.describe()
    assert any(Path(t.replace("\\", "/")).name.lower().startswith("fol") for t in seen[0].texts()), seen[0].texts()
    assert (install_dir(qor) / big).read_bytes() == (server.kit / big).read_bytes()
    assert wrong_files(qor, sample) == []
    assert temporary_copies(qor) == []


@pytest.mark.parametrize("sized", [True, False], ids=["size-in-table", "no-size-in-table"])
def test_file_missing_on_the_server(qor, server, tools, sized):
    # The server answers 404 with an error page. Whether or not the table
    # could catch that page by its size, the request fails as a refused one
    # does: the user is offered a retry, and Cancel fails the installation
    # (without a size the page used to be installed in the file's place and
    # the run reported success).
    stored = "qor_mcfg.dl_"
    (server.kit / stored).unlink()
    if not sized:
        edit_kit(server, tools, lambda s: s.set_file(MISSING, size="0", checksum="0x0", csize="0", csum="0x0"))
    server.start()
    url = f"{server.url}/{stored}"
    r = qor.run_setup("/quiet", exe=SETUP, rules=[answer(cannot_fetch(url), IDRETRY),
                                                  answer(cannot_fetch(url), IDCANCEL), answer(GO_ON, IDNO),
                                                  OK_TO_EVERY_BOX],
                      timeout=90)
    fetch = (cannot_fetch(url), "warning", [IDRETRY, IDCANCEL])
    assert boxes(r) == [fetch, fetch, (cannot_read(stored), "warning", [IDOK]), (GO_ON, "question", [IDYES, IDNO]),
                        (FAILED, "warning", [IDOK])], r.describe()
    assert r.exit_code == 2
    assert server.paths().count(f"{SERVER_PATH}/{stored}") == 2  # Retry asked for the same URL again
    assert present(qor, [MISSING]) == []
    assert temporary_copies(qor) == []


def test_server_down_retry_until_it_is_up(qor, server, internet_sample):
    # The first Retry finds the server still down and asks again about the
    # same URL; the server is started while the second question is shown, and
    # its Retry goes on to a complete installation.
    sample, _ = internet_sample
    url = f"{server.url}/setup.dat"
    rules = [rule("wait:1000", f"click:{IDRETRY}", kind="messagebox", message="Nie można pobrać pliku", count=2)]
    with WhenShown(qor, "Nie można pobrać pliku", server.start, occurrence=2) as watch:
        r = qor.run_setup("/quiet", exe=SETUP, rules=rules, timeout=90)
    assert watch.acted and watch.error is None
    fetch = (cannot_fetch(url), "warning", [IDRETRY, IDCANCEL])
    assert (r.exit_code, boxes(r)) == (0, [fetch, fetch]), r.describe()
    assert wrong_files(qor, sample) == []
    assert record(qor)["LocalRemote"] == 1


def test_server_down_cancel_fails_the_script(qor, server):
    url = f"{server.url}/setup.dat"
    r = qor.run_setup("/quiet", exe=SETUP, rules=[answer(cannot_fetch(url), IDCANCEL), OK_TO_EVERY_BOX],
                      timeout=60)
    assert boxes(r) == [(cannot_fetch(url), "warning", [IDRETRY, IDCANCEL]),
                        (CANNOT_READ_SCRIPT, "warning", [IDOK]), (FAILED, "warning", [IDOK])], r.describe()
    assert r.exit_code == 2
    assert not install_dir(qor).exists()


# ---------------------------------------------------------------- the library itself

def use_fake_library(qor, form: str) -> None:
    """The stand-in WININET.DLL of that form beside the program, preferred by
    Wine to its own, as a system with that library would load it."""
    qor.write_file("C:\\net\\wininet.dll", qor.env.tool(f"fake-wininet/{form}/wininet.dll").read_bytes())
    qor.reg_add(r"HKCU\Software\Wine\AppDefaults\setup.exe\DllOverrides", "wininet", "native")


def test_settings_refuse_the_internet_source_without_a_complete_library(qor, server):
    # The library lacks HttpSendRequestA, one of the required names: the
    # program starts, and only the internet source is refused; the settings
    # dialog stays open until it is cancelled.
    use_fake_library(qor, "incomplete")
    rules = [WELCOME_CONTINUE,
             rule(f"click:{IDOK}", "wait:1500", f"click:{IDCANCEL}", has=1007),
             OK_TO_EVERY_BOX]
    r = qor.run_setup(exe=SETUP, rules=rules, timeout=60)
    assert boxes(r)[-2:] == [(NO_WININET, "warning", [IDOK]), (ABORTED, "warning", [IDOK])], r.describe()
    assert r.exit_code == 3
    assert server.requests == [] and not install_dir(qor).exists()


def test_connection_prompt_when_no_session_opens(qor, server):
    # A library with every required A name and no wide or optional name
    # binds; its InternetOpenA cannot connect. The program asks to connect and
    # retry; after Cancel the run goes on without a session, and setup.dat
    # cannot be read.
    use_fake_library(qor, "narrow")
    r = qor.run_setup("/quiet", exe=SETUP, rules=[answer(NO_CONNECTION, IDRETRY), answer(NO_CONNECTION, IDCANCEL),
                                                  OK_TO_EVERY_BOX], timeout=60)
    connect = (NO_CONNECTION, "warning", [IDRETRY, IDCANCEL])
    assert boxes(r) == [connect, connect, (CANNOT_READ_SCRIPT, "warning", [IDOK]), (FAILED, "warning", [IDOK])], \
        r.describe()
    assert r.exit_code == 2
    assert r.stdout.splitlines() == [f'InternetOpenA("{AGENT}", 0, null, null, 0)'] * 2
