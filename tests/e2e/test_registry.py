"""The registry entries of an installation: the [REGISTRY] section written
and recorded, the special-files record, the replay of the record by the next
installation, and key paths that name only a root key."""

from __future__ import annotations

import pytest

from install_support import INSTALL_DIR, Kit, install_quietly, sample_set, tools

__all__ = ["sample_set", "tools"]  # fixtures

ENTRIES = r"HKLM\Software\Qor\Qor_Vex\Setup\RegistryEntries"
SPECIAL = r"HKLM\Software\Qor\Qor_Vex\Setup\SpecialFiles"
CLSID = "{9F2B6C31-4E8A-11D0-8A1C-0B5D7E2F4A90}"
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qor_Vex_98"
MENU = r"HKEY_LOCAL_MACHINE\Software\Qor\Qor_Vex\Qor_Menu"
SERVER = rf"HKEY_CLASSES_ROOT\CLSID\{CLSID}"
APPROVED = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"

# The sample's record: key path as the script spells it = what it owns.
SAMPLE_RECORD = {
    UNINSTALL: "*",
    MENU: "*",
    SERVER: "*",
    SERVER + r"\InProcServer32": "ThreadingModel",
    r"HKEY_CLASSES_ROOT\*\shellex\ContextMenuHandlers\Qor_Vex": "*",
    r"HKEY_CLASSES_ROOT\Folder\shellex\ContextMenuHandlers\Qor_Vex": "*",
    APPROVED: CLSID,
}
WITHOUT_CONTEXT_MENU = {UNINSTALL: "*", MENU: "*"}

# What the sample's blocks leave in their keys (the shell extension's
# approval is one value in a key of the system's).
SAMPLE_VALUES = {
    UNINSTALL: {"DisplayName": "Qor_Vex", "UninstallString": INSTALL_DIR + "\\setup.exe /uninstall"},
    MENU: {"Program": INSTALL_DIR + "\\qor_menu.exe", "ShowIcon": 1},
    SERVER: {"": "Qor_Vex Shell Extension"},
    SERVER + r"\InProcServer32": {"": INSTALL_DIR + "\\qor_shex.dll", "ThreadingModel": "Apartment"},
    r"HKEY_CLASSES_ROOT\*\shellex\ContextMenuHandlers\Qor_Vex": {"": CLSID},
    r"HKEY_CLASSES_ROOT\Folder\shellex\ContextMenuHandlers\Qor_Vex": {"": CLSID},
}


def values_of(qor, key: str) -> dict | None:
    """A key's own values as {name: RegValue}, or None when it is missing."""
    dump = qor.reg_export(key)
    return None if dump is None else dump.key(key)


def entries(qor) -> dict[str, str]:
    """The registry entries record, every value a REG_SZ."""
    values = values_of(qor, ENTRIES) or {}
    assert all(v.type == "REG_SZ" for v in values.values()), values
    return {name: v.value for name, v in values.items()}


def key_exists(qor, key: str) -> bool:
    return qor.wine("reg", "query", key).returncode == 0


def add_to_registry_section(*lines: str):
    """A kit edit: lines appended to the end of the [REGISTRY] section."""
    def change(script):
        _, end = script.section_range("REGISTRY")
        script.lines[end:end] = list(lines)
    return change


@pytest.mark.parametrize("defs", ["", "/def=NOCTXMENU"], ids=["all", "NOCTXMENU"])
def test_sample_entries_and_their_record(qor, sample_set, tools, defs):
    install_quietly(qor, Kit(qor, sample_set, tools), defs)
    expected = WITHOUT_CONTEXT_MENU if defs else SAMPLE_RECORD
    assert entries(qor) == expected
    for key, wanted in SAMPLE_VALUES.items():
        got = values_of(qor, key)
        if key in expected:
            assert got == wanted, key
        else:
            assert got is None, key
    approved = values_of(qor, APPROVED) or {}
    if defs:
        assert CLSID not in approved
    else:
        assert approved[CLSID] == "Qor_Vex Shell Extension"
    assert values_of(qor, UNINSTALL)["UninstallString"].type == "REG_SZ"
    assert values_of(qor, MENU)["ShowIcon"].type == "REG_DWORD"
    # The per-user key exists for the companions to read.
    assert key_exists(qor, r"HKEY_CURRENT_USER\Software\Qor\Qor_Vex\Setup")


def test_special_files_record(qor, sample_set, tools):
    # The mail scanner's file named in lower case: the record still names
    # "Qor_Mail.exe", as the companions look for it.
    kit = Kit(qor, sample_set, tools).edit(lambda s: s.set_file("Qor_Mail.exe", name="qor_mail.exe"))
    install_quietly(qor, kit)
    wanted = {f.role: f"{INSTALL_DIR}\\{f.name}" for _, f in kit.script().file_lines() if f.role}
    wanted["MailScanner"] = INSTALL_DIR + "\\Qor_Mail.exe"
    got = values_of(qor, SPECIAL)
    assert {name: v.value for name, v in got.items()} == wanted
    assert all(v.type == "REG_SZ" for v in got.values())


def test_add_block_with_the_default_value_and_its_removal(qor, sample_set, tools):
    key = r"HKEY_LOCAL_MACHINE\Software\QorTest\Add"
    qor.reg_add(key, "Mine", "a value of the user's")
    kit = Kit(qor, sample_set, tools).edit(add_to_registry_section(
        f'ADD,"{key}"', '"A"="1"', '""="default"', '"B"="2"'))
    install_quietly(qor, kit)
    assert entries(qor) == {**SAMPLE_RECORD, key: "A;;B"}
    assert values_of(qor, key) == {"Mine": "a value of the user's", "A": "1", "": "default", "B": "2"}

    # The next installation (a script without the block) replays the record:
    # the list stops at the default value's empty name, so only A goes. The
    # record keeps the value: it is never cleared as a whole.
    install_quietly(qor, Kit(qor, sample_set, tools, win="C:\\kit2"))
    assert values_of(qor, key) == {"Mine": "a value of the user's", "": "default", "B": "2"}
    assert entries(qor) == {**SAMPLE_RECORD, key: "A;;B"}


def test_second_installation_leaves_the_same_keys_and_record(qor, sample_set, tools):
    kit = Kit(qor, sample_set, tools)

    def state():
        keys = {key: values_of(qor, key) for key in SAMPLE_VALUES}
        return keys, entries(qor), values_of(qor, SPECIAL), (values_of(qor, APPROVED) or {}).get(CLSID)

    install_quietly(qor, kit)
    first = state()
    install_quietly(qor, kit)
    assert state() == first
    assert first[1] == SAMPLE_RECORD


def test_root_only_key_paths_are_refused(qor, sample_set, tools):
    qor.reg_add(r"HKCU\Software\QorSentinel", "S", "here")
    kit = Kit(qor, sample_set, tools).edit(add_to_registry_section(
        'NEW,"HKEY_CURRENT_USER\\"', '"QorRootValue"="written"',
        'ADD,"HKEY_LOCAL_MACHINE\\Software\\QorTest\\After"', '"X"="1"'))
    install_quietly(qor, kit)
    # Refused like a key that cannot be opened: no value, no record, and the
    # walk stops at the refused block's value line.
    assert entries(qor) == SAMPLE_RECORD
    assert qor.wine("reg", "query", "HKEY_CURRENT_USER", "/v", "QorRootValue").returncode != 0
    assert not key_exists(qor, r"HKEY_LOCAL_MACHINE\Software\QorTest\After")

    # A record naming a root (as an older program might have left it) is not
    # replayed: the next installation empties no root key.
    qor.reg_import(f"[{ENTRIES.replace('HKLM', 'HKEY_LOCAL_MACHINE')}]\n"
                   '"HKEY_CURRENT_USER\\\\"="*"\n'
                   '"HKEY_CLASSES_ROOT\\\\"="*"\n')
    install_quietly(qor, kit)
    assert values_of(qor, r"HKCU\Software\QorSentinel") == {"S": "here"}
    assert key_exists(qor, r"HKEY_CLASSES_ROOT\CLSID")
    assert key_exists(qor, r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion")
    assert entries(qor) == {**SAMPLE_RECORD, "HKEY_CURRENT_USER\\": "*", "HKEY_CLASSES_ROOT\\": "*"}
