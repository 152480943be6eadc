"""The installation record, the engine date stamps, the update marker and the
monitor's start mode, as whole runs of setup.exe leave them in the registry."""

from __future__ import annotations

import os
import struct
import subprocess
import sys
import time
from datetime import date
from pathlib import Path

import pytest

from qorwine import IDCANCEL, IDOK, REPO, RegValue, rule

sys.path.insert(0, str(REPO / "sample"))
import sample_product  # noqa: E402

RECORD = r"HKLM\Software\Qor\Qor_Vex\Setup"
STAMPS = r"HKLM\Software\Qor\Setup"
BASE_STAMP = "{3C9E1B42-8D07-4A6F-B2C3-5E1F7A9D0C64}"
ENGINE_STAMP = "{7E3D2A10-6C4B-4F8E-9A15-2D7C0B3E8F41}"
MONITOR_KEYS = [r"HKCU\Software\Qor\Qor_Vex\Qor_Mon\General", r"HKLM\Software\Qor\Qor_Vex\Qor_Mon\General"]
DEFAULT_INSTALL = "C:\\Program Files\\Qor_Vex"
INTERNET_PATH_END = "/setup/qor_vex/win98"

# Every message box is answered with OK (the runs below are meant to fail
# for want of installation files, and errors show even in quiet mode); the
# program alone with no record turns to the internet source, where no server
# answers at the built-in address: its download prompt is cancelled.
NO_SERVER = rule(f"click:{IDCANCEL}", kind="messagebox", message="Nie można pobrać pliku:", count="*")
OK_TO_EVERY_BOX = rule(f"click:{IDOK}", kind="messagebox", count="*")


def ole_stamp(y: int, m: int, d: int) -> bytes:
    """An OLE Automation date at 01:00 as its 8 little-endian bytes."""
    return struct.pack("<d", (date(y, m, d) - date(1899, 12, 30)).days + 1 / 24)


DEFAULT_STAMP = bytes.fromhex("55555555 8103E240")  # 1 January 2001
assert ole_stamp(2001, 1, 1) == DEFAULT_STAMP


def record(qor) -> dict | None:
    dump = qor.reg_export(RECORD)
    return dump.key(RECORD) if dump else None


def stamps(qor):
    dump = qor.reg_export(STAMPS)
    values = dump.key(STAMPS) if dump else {}
    return values.get(BASE_STAMP), values.get(ENGINE_STAMP)


@pytest.mark.parametrize("digit,startup", [("1", 0), ("2", 1), ("3", 2), ("7", None)])
def test_monitor_start_writes_startup_under_both_keys(qor, digit, startup):
    r = qor.run_setup(f"/monitor_start={digit} /quiet", rules=[NO_SERVER, OK_TO_EVERY_BOX])
    assert r.exit_code == 2  # the installation itself goes on, and fails for want of files
    for key in MONITOR_KEYS:
        value = qor.reg_value(key, "Startup")
        if startup is None:
            assert value is None, key
        else:
            assert value == RegValue("REG_DWORD", startup), key


def test_a_failed_first_run_writes_the_record_without_initialinstall2(qor):
    r = qor.run_setup("/quiet", rules=[NO_SERVER, OK_TO_EVERY_BOX])
    assert r.exit_code == 2
    rec = record(qor)
    assert rec is not None
    assert rec["SetupVersion"] == RegValue("REG_SZ", "1.0")
    # Nothing beside the program and no record: the internet, with no path.
    assert rec["LocalRemote"] == RegValue("REG_DWORD", 1)
    assert rec["LocalSourcePath"] == RegValue("REG_SZ", "")
    assert rec["InstallPath"] == RegValue("REG_SZ", DEFAULT_INSTALL)
    assert rec["InetPath"].type == "REG_SZ" and rec["InetPath"].value.endswith(INTERNET_PATH_END)
    assert "InitialInstall2" not in rec
    assert "InUpdating" not in rec
    assert stamps(qor) == (RegValue("REG_BINARY", DEFAULT_STAMP), RegValue("REG_BINARY", DEFAULT_STAMP))


def test_a_cancelled_welcome_still_writes_the_record(qor):
    r = qor.run_setup("", rules=[rule(f"click:{IDCANCEL}", text="Witamy"), OK_TO_EVERY_BOX])
    assert r.exit_code == 3
    rec = record(qor)
    assert rec["InstallPath"] == RegValue("REG_SZ", DEFAULT_INSTALL)
    assert "InitialInstall2" not in rec


def test_the_record_read_at_start_up_is_written_back(qor):
    qor.reg_add(RECORD, "LocalRemote", 2)                      # Network reads back as Local
    qor.reg_add(RECORD, "LocalSourcePath", "C:\\brak")
    qor.reg_add(RECORD, "InstallPath", "C:\\Programy\\Żółw")
    qor.reg_add(RECORD, "InitialInstall2", 5)                  # any DWORD: an installation happened
    qor.reg_add(RECORD, "InetPath", "http://old.example/setup")
    r = qor.run_setup("/quiet", rules=[OK_TO_EVERY_BOX])
    assert r.exit_code == 2
    rec = record(qor)
    assert rec["LocalRemote"] == RegValue("REG_DWORD", 0)
    assert rec["LocalSourcePath"] == RegValue("REG_SZ", "C:\\brak")
    assert rec["InstallPath"] == RegValue("REG_SZ", "C:\\Programy\\Żółw")
    assert rec["InitialInstall2"] == RegValue("REG_DWORD", 0)
    assert rec["InetPath"].value.endswith(INTERNET_PATH_END)


def test_the_command_line_beats_the_record(qor):
    qor.reg_add(RECORD, "InstallPath", "C:\\Programy\\Stary")
    qor.reg_add(RECORD, "LocalSourcePath", "C:\\brak")
    r = qor.run_setup('/quiet /inst="C:\\Programy\\Nowy" /src="C:\\inny"', rules=[OK_TO_EVERY_BOX])
    assert r.exit_code == 2
    rec = record(qor)
    assert rec["InstallPath"] == RegValue("REG_SZ", "C:\\Programy\\Nowy")
    assert rec["LocalSourcePath"] == RegValue("REG_SZ", "C:\\inny")
    assert rec["LocalRemote"] == RegValue("REG_DWORD", 0)


def test_setup_dat_beside_the_program_is_the_source(qor):
    qor.write_file("C:\\qortest\\setup.dat", "[PRODUCT]\r\nnot a valid script\r\n")
    r = qor.run_setup("/quiet", rules=[OK_TO_EVERY_BOX])
    assert r.exit_code == 2
    rec = record(qor)
    assert rec["LocalRemote"] == RegValue("REG_DWORD", 0)
    assert rec["LocalSourcePath"] == RegValue("REG_SZ", "C:\\qortest\\")


def test_a_program_that_carries_a_package_is_the_source(qor):
    # setup.exe with an (empty) package appended wins over setup.dat beside it.
    program = (qor.env.build / "setup.exe").read_bytes()
    directory = b"\0"
    qor.write_file("C:\\qortest\\pakiet.exe", program + b"LF" + struct.pack("<I", len(directory)) + directory +
                   b"LF" + struct.pack("<I", len(program)))
    qor.write_file("C:\\qortest\\setup.dat", "[PRODUCT]\r\n")
    r = qor.run_setup("/quiet", exe="C:\\qortest\\pakiet.exe", rules=[OK_TO_EVERY_BOX])
    assert r.exit_code == 2
    rec = record(qor)
    assert rec["LocalRemote"] == RegValue("REG_DWORD", 0)
    assert rec["LocalSourcePath"] == RegValue("REG_SZ", "C:\\qortest\\pakiet.exe")


def test_authoring_runs_write_no_record_but_the_monitor_mode(qor):
    r = qor.run_setup('/monitor_start=3 /pack "C:\\qortest\\brak","C:\\qortest\\out.pak"',
                      rules=[OK_TO_EVERY_BOX])
    assert not r.timed_out
    assert qor.reg_export(RECORD) is None
    assert stamps(qor) == (None, None)
    for key in MONITOR_KEYS:
        assert qor.reg_value(key, "Startup") == RegValue("REG_DWORD", 2), key


# ---------------------------------------------------------------- a real installation

def _native_build(cross_build: Path) -> Path:
    """QOR_NATIVE_BUILD, else the ci-native folder beside the cross build (as
    tools/test-all lays them out)."""
    given = os.environ.get("QOR_NATIVE_BUILD")
    if given:
        return Path(given) if Path(given).is_absolute() else REPO / given
    return cross_build.parent / "ci-native"


@pytest.fixture(scope="module")
def sample_set(wine_env, tmp_path_factory):
    tools = sample_product.Tools(_native_build(wine_env.build))
    if not (tools.filesum.is_file() and tools.scriptsum.is_file()):
        pytest.skip(f"no native build with tools/filesum and tools/scriptsum in {tools.native_build} "
                    "(set QOR_NATIVE_BUILD)")
    engine = wine_env.build / "standins" / "full" / "qor_engn.dll"
    if not engine.is_file():
        pytest.skip(f"{engine} is missing: build the stand-ins")
    return sample_product.make_sample(tmp_path_factory.mktemp("sample") / "set", wine_env.build / "setup.exe",
                                      tools, engine)


class Listener:
    """broadcast_listener.exe in a process of its own: a top-level window that
    records every "Qor_Vex: UpdateConfiguration" it receives."""

    def __init__(self, qor, record_win: str, count: int):
        self.qor, self.record_win = qor, record_win
        folder = record_win.rsplit("\\", 1)[0]
        qor.mkdir(folder)
        self.host = qor.host_path(record_win)
        self.host.unlink(missing_ok=True)
        exe = qor.win_path(qor.env.build / "standins" / "broadcast_listener.exe")
        self.process = subprocess.Popen([qor.env.loader, exe, record_win, "-", str(count), "60000"], env=qor.env.env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not self.host.exists():  # made once its window exists
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.stop()
                pytest.fail("the broadcast listener did not come up")
            time.sleep(0.05)

    def received(self) -> list[str]:
        return self.host.read_bytes().decode("cp1250").splitlines()

    def wait(self, seconds: float) -> int | None:
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def test_an_installation_sets_initialinstall2_and_clears_the_marker_with_broadcasts(qor, sample_set):
    kit = qor.host_path("C:\\") / "kit"
    sample_product.copy_source(sample_set, kit)
    # Dates for the engine stand-in that the installation puts in place.
    qor.write_file("C:\\Prog\\Qor\\qor_engn.txt", "base 2004 2 29\nengine 2003 12 31\n")
    listener = Listener(qor, "C:\\qortest\\broadcasts.txt", 2)
    try:
        r = qor.run_setup('/quiet /inst="C:\\Prog\\Qor"', exe="C:\\kit\\setup.exe", rules=[OK_TO_EVERY_BOX],
                          timeout=60)
        assert r.exit_code == 0, r.describe()
        # InUpdating was set and removed, each with a broadcast.
        assert listener.wait(10) == 0
        assert listener.received() == ["Qor_Vex: UpdateConfiguration wParam=0 lParam=0"] * 2
    finally:
        listener.stop()
    rec = record(qor)
    assert "InUpdating" not in rec
    assert rec["InitialInstall2"] == RegValue("REG_DWORD", 0)
    assert rec["InstallPath"] == RegValue("REG_SZ", "C:\\Prog\\Qor")
    assert rec["LocalSourcePath"] == RegValue("REG_SZ", "C:\\kit\\")
    assert rec["LocalRemote"] == RegValue("REG_DWORD", 0)
    assert stamps(qor) == (RegValue("REG_BINARY", ole_stamp(2004, 2, 29)),
                           RegValue("REG_BINARY", ole_stamp(2003, 12, 31)))

