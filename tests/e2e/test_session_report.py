"""What a session does after the engine: the engine library's date kept in
the update component's key, and the update component's installer started
after a success unless that component is already registered."""

from __future__ import annotations

import shutil
import time

import pytest

from install_support import NO_SERVER, OK_TO_EVERY_BOX, Kit, RegValue, sample_set, tools

__all__ = ["sample_set", "tools"]  # fixtures

UPDATE_KEY = r"HKLM\SOFTWARE\Qor\Qor_Update\1.0"
SETUP_KEY = r"HKLM\SOFTWARE\Qor\Setup"
UPDATE_COMPONENT = "{5A1C3E77-2B90-4D61-8E2F-0C4B7D9A1F36}"
# The stand-in engine library's own date (tests/standins/CMakeLists.txt).
ENGINE_DATE = "2002,11,30"
INSTALLER = "C:\\install\\qor_update\\qor_update.exe"


def quiet_install(qor, kit):
    # A kit without setup.dat makes the program turn to the internet source.
    return qor.run_setup("/quiet", exe=kit.setup, rules=[NO_SERVER, OK_TO_EVERY_BOX], timeout=60)


@pytest.mark.parametrize("stored,expected", [
    (None, ENGINE_DATE),              # nothing yet: taken from the installed engine library
    ("1,1,1", ENGINE_DATE),           # fewer than 8 characters: written anew
    ("2001,1,15", "2001,1,15"),       # a full date is kept
])
def test_engine_date_is_recorded_once(qor, sample_set, tools, stored, expected):
    if stored is not None:
        qor.reg_add(UPDATE_KEY, "LastInstalledVersion", stored)
    kit = Kit(qor, sample_set, tools)
    r = quiet_install(qor, kit)
    assert r.exit_code == 0
    assert qor.reg_value(UPDATE_KEY, "LastInstalledVersion") == RegValue("REG_SZ", expected)


def test_no_engine_library_no_engine_date(qor, sample_set, tools):
    # The run fails before anything is installed: there is no library to ask.
    kit = Kit(qor, sample_set, tools)
    (kit.host / "setup.dat").unlink()
    r = quiet_install(qor, kit)
    assert r.exit_code == 2
    assert qor.reg_value(UPDATE_KEY, "LastInstalledVersion") is None


def started_installer(qor, wait: float) -> str | None:
    log = qor.host_path(INSTALLER + ".log")
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if log.exists() and log.stat().st_size:
            return log.read_text("cp1250")
        time.sleep(0.1)
    return None


def put_installer(qor):
    target = qor.host_path(INSTALLER)
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(qor.env.build / "standins" / "record_start.exe", target)


def test_update_component_installer_is_started_after_a_success(qor, sample_set, tools):
    put_installer(qor)
    kit = Kit(qor, sample_set, tools)
    r = quiet_install(qor, kit)
    assert r.exit_code == 0
    log = started_installer(qor, wait=10)
    assert log is not None, "the update component's installer was not started"
    assert "qor_update.exe" in log.lower()


@pytest.mark.parametrize("case", ["registered", "failed"])
def test_update_component_installer_is_not_started(qor, sample_set, tools, case):
    put_installer(qor)
    kit = Kit(qor, sample_set, tools)
    if case == "registered":
        qor.reg_add(SETUP_KEY, UPDATE_COMPONENT, "1")
    else:
        (kit.host / "setup.dat").unlink()
    r = quiet_install(qor, kit)
    assert r.exit_code == (0 if case == "registered" else 2)
    assert started_installer(qor, wait=2) is None
