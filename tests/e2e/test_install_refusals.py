"""Scripts that the installer refuses before it changes anything, each with
its own message and exit code 2, and the update-only package that an
installed copy of the product may still install."""

from __future__ import annotations

import pytest

from install_support import (BAD_SCRIPT, CANNOT_READ_SCRIPT, FAILED, NOT_FOR_WIN95, OK_TO_EVERY_BOX, UPDATE_ONLY, Kit,
                             boxes, install_dir, record, sample_set, tools, wrong_files)

__all__ = ["sample_set", "tools"]  # fixtures


def change_tail_digit(kit: Kit):
    path = kit.path("setup.dat")
    data = bytearray(path.read_bytes())
    data[-1] = ord("0") if data[-1] != ord("0") else ord("1")
    path.write_bytes(bytes(data))


def change_last_line(kit: Kit):
    # A changed letter of the last entry line (a shortcut's target role).
    path = kit.path("setup.dat")
    data = path.read_bytes()
    at = data.rindex(b"TaskBarMenu")
    path.write_bytes(data[:at] + b"TaskBarMenv" + data[at + 11:])


def product(key: str, value: str):
    return lambda kit: kit.edit(lambda s: s.set_product(key, value))


WARNING = "warning"  # the exclamation icon
INFORMATION = "information"

REFUSALS = [
    ("tail-digit", change_tail_digit, (CANNOT_READ_SCRIPT, WARNING)),
    ("last-line", change_last_line, (CANNOT_READ_SCRIPT, WARNING)),
    ("another-product", product("Name", "Qor_Vix"), (BAD_SCRIPT, WARNING)),
    ("no-product-section", lambda kit: kit.edit(lambda s: s.lines.__setitem__(
        s.section_range("PRODUCT")[0] - 1, "[PRODUKT]")), (BAD_SCRIPT, WARNING)),
    ("platform-win98-only", product("Platform", "Win98"), (NOT_FOR_WIN95, WARNING)),
    ("platform-lower-case", product("Platform", "win95,win98"), (NOT_FOR_WIN95, WARNING)),
    ("update-package", product("Package", "Update"), (UPDATE_ONLY, INFORMATION)),
    ("update-package-any-case", product("Package", "uPDATE"), (UPDATE_ONLY, INFORMATION)),
]


@pytest.mark.parametrize("spoil,message", [r[1:] for r in REFUSALS], ids=[r[0] for r in REFUSALS])
def test_refused_script_changes_nothing(qor, sample_set, tools, spoil, message):
    kit = Kit(qor, sample_set, tools)
    spoil(kit)
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=30)
    assert r.exit_code == 2
    assert boxes(r) == [(*message, [1]), (FAILED, WARNING, [1])]
    assert not install_dir(qor).exists()
    assert "InitialInstall2" not in record(qor)


def test_product_name_in_any_letter_case_is_accepted(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_product("Name", "QOR_vex"))
    r = qor.run_setup("/quiet", exe=kit.setup, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []


def test_update_package_installs_from_an_installed_copy(qor, sample_set, tools):
    # An installed copy of the product: every file under its installed name,
    # with an update-only script. The setup program runs from a folder
    # without setup.dat, so /srcinst= names the source.
    kit = Kit(qor, sample_set, tools)
    kit.edit(lambda s: s.set_product("Package", "Update"))
    copy = qor.mkdir("C:\\copy")
    for f in sample_set.installed.iterdir():
        (copy / f.name).write_bytes(f.read_bytes())
    (copy / "setup.dat").write_bytes(kit.path("setup.dat").read_bytes())
    qor.write_file("C:\\runner\\setup.exe", kit.path("setup.exe").read_bytes())
    r = qor.run_setup('/quiet /srcinst="C:\\copy"', exe="C:\\runner\\setup.exe", rules=[OK_TO_EVERY_BOX],
                      timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set) == []
