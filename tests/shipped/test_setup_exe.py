"""Static checks of the program that ships: the 32-bit setup.exe must load and
run on Windows 95 and 98. Needs no Wine; runs on every host.

    QOR_SHIP_BUILD=build/ci-win32 python3 -m pytest tests/shipped -q
"""

from __future__ import annotations

import os
import re
from pathlib import Path

import pytest

import pe_image

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]

# The DLLs of Windows itself that setup.exe may link against.
WINDOWS_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "COMCTL32.DLL",
                "LZ32.DLL", "OLE32.DLL", "OLEAUT32.DLL", "MSVCRT.DLL"}

# Wide-character functions that Windows 95/98 implements for real.
WIDE_ON_9X = {"MultiByteToWideChar", "WideCharToMultiByte"}


def is_wide_character_function(name: str) -> bool:
    """True for a Win32 function of the wide-character family (its name ends
    in W after a lower-case letter or digit) that Windows 95/98 lacks."""
    return re.fullmatch(r"\w*[a-z0-9]W", name) is not None and name not in WIDE_ON_9X


def allowed_imports() -> dict[str, set[str]]:
    allowed, dll = {}, None
    for line in (HERE / "win9x_imports.txt").read_text().splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("["):
            dll = line.strip("[]").upper()
            allowed[dll] = set()
        else:
            allowed[dll].add(line)
    return allowed


@pytest.fixture(scope="module")
def image() -> pe_image.PeImage:
    build = Path(os.environ.get("QOR_SHIP_BUILD") or REPO / "build" / "ci-win32")
    exe = build / "setup.exe"
    if not exe.exists():
        pytest.fail(f"{exe} is missing: build the 32-bit cross tree (cmake/mingw-i686.cmake) first")
    return pe_image.read_pe(exe)


def test_is_a_32_bit_gui_program_for_windows_4(image):
    assert image.machine == pe_image.MACHINE_I386, f"machine {image.machine:#x}, expected i386"
    assert image.subsystem == pe_image.SUBSYSTEM_GUI, f"subsystem {image.subsystem}, expected GUI (2)"
    # Windows 95/98 refuse a program whose subsystem version is above 4.0.
    assert image.subsystem_version == (4, 0), f"subsystem version {image.subsystem_version}"
    assert image.os_version <= (4, 0), f"operating system version {image.os_version}"


@pytest.mark.parametrize("name, wide", [
    ("CreateSemaphoreW", True), ("lstrlenW", True), ("RegSetValueExW", True), ("GetTempPath2W", True),
    ("CreateSemaphoreA", False), ("MultiByteToWideChar", False), ("WideCharToMultiByte", False),
    ("InitCommonControls", False), ("_lopen", False), ("LZOpenFileA", False),
])
def test_wide_character_functions_are_told_apart(name, wide):
    assert is_wide_character_function(name) == wide


def test_the_import_table_is_read(image):
    # Calls setup.exe is known to make, one from each of four DLLs: without
    # them the checks below would pass on a table read as empty.
    found = {f"{dll.upper()}!{name}" for dll, names in image.imports.items() for name in names}
    expected = {"KERNEL32.DLL!CreateFileA", "USER32.DLL!DialogBoxParamA", "ADVAPI32.DLL!RegOpenKeyExA",
                "LZ32.DLL!LZOpenFileA"}
    assert expected <= found, f"missing from the import table as read: {sorted(expected - found)}"


def test_imports_only_dlls_of_windows(image):
    others = sorted(dll for dll in image.imports if dll.upper() not in WINDOWS_DLLS)
    assert not others, f"setup.exe links against DLLs that are not Windows' own: {others}"


def test_imports_no_wide_character_functions(image):
    wide = sorted(f"{dll}!{name}" for dll, names in image.imports.items() for name in names
                  if is_wide_character_function(name))
    assert not wide, f"Windows 95/98 has these only as failing stubs: {wide}"


def test_imports_only_functions_windows_95_and_98_have(image):
    allowed = allowed_imports()
    unknown = sorted(f"{dll}!{name}" for dll, names in image.imports.items() for name in names
                     if name not in allowed.get(dll.upper(), set()))
    assert not unknown, ("imports not known to exist on Windows 95 and 98 "
                         f"(check, then list them in tests/shipped/win9x_imports.txt): {unknown}")
