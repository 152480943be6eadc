"""Product files that travel as ZIP archives: one deflated, one stored as is,
installed byte for byte from a folder and from a package."""

from __future__ import annotations

import zipfile

import pytest

from install_support import OK_TO_EVERY_BOX, Kit, boxes, sample_set, sp, tools, wrong_files

__all__ = ["sample_set", "tools"]  # fixtures

ZIPPED = {"qor_vexw.hlp": zipfile.ZIP_DEFLATED, "qor_dos.txt": zipfile.ZIP_STORED}


def stored_forms(kit: Kit) -> dict[str, str]:
    return {f.name: f.cname for f in (f for _, f in kit.script().file_lines()) if f.name in ZIPPED}


def test_the_sample_carries_a_deflated_and_a_stored_zip(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)
    for name, cname in stored_forms(kit).items():
        with zipfile.ZipFile(kit.path(cname)) as z:
            [info] = z.infolist()
            assert (info.filename, info.compress_type) == (name, ZIPPED[name])


@pytest.mark.parametrize("source", ["folder", "package"])
def test_zip_forms_install_byte_for_byte(qor, sample_set, tools, source):
    kit = Kit(qor, sample_set, tools)
    if source == "folder":
        exe = kit.setup
    else:
        exe = "C:\\pkg\\setup.exe"
        qor.write_file(exe, sp.package_bytes(sp.package_entries(kit.host, kit.script())))
    r = qor.run_setup("/quiet", exe=exe, rules=[OK_TO_EVERY_BOX], timeout=60)
    assert r.exit_code == 0 and boxes(r) == []
    assert wrong_files(qor, sample_set, names=list(ZIPPED)) == []
    assert wrong_files(qor, sample_set) == []
    # The decoder reports its blocks on standard output (nobody sees them in
    # a GUI run): a dynamic block for the deflated help file.
    assert "blok dynamiczny.... " in r.stdout
