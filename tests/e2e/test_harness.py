"""The harness checked on its own with uidemo.exe, a small program with the
same kinds of windows as setup.exe: what the driver sees and does, the locale,
registry read-back, drive letters, the Windows version and the resets."""

from __future__ import annotations

import zlib

import pytest

from qorwine import APP_TITLE, IDNO, IDOK, IDYES, RegValue, parse_reg_text, rule


@pytest.fixture
def demo(qor):
    return str(qor.env.tool("uidemo.exe"))


ANSWER_ANY_BOX = rule("click:1", kind="messagebox", has=1, count="*")


@pytest.mark.parametrize("mode,flags_icon,buttons,answer", [
    ("info", "information", [IDOK], IDOK),
    ("warn", "warning", [IDOK], IDOK),
    ("ask", "question", [IDYES, IDNO], IDNO),
    ("plain", "none", [IDOK], IDOK),
])
def test_message_box_seen_as_the_user_sees_it(qor, demo, mode, flags_icon, buttons, answer):
    text = "Nie można odczytać pliku:\nC:\\zażółć gęślą jaźń.bin"
    r = qor.run(demo, f"{mode} {text}", rules=[rule(f"click:{answer}", message="odczytać")])
    assert r.exit_code == answer
    [box] = r.windows
    assert (box.kind, box.title, box.icon, box.buttons) == ("messagebox", APP_TITLE, flags_icon, buttons)
    assert box.message == text


def test_argument_text_reaches_the_program_byte_for_byte(qor, demo):
    # Quotes, backslashes before quotes, doubled spaces and Polish letters:
    # setup.exe parses its raw argument text, so nothing may be re-quoted.
    text = '/src="C:\\kit\\" /def=ŻÓŁW  /calc"x y" a\\\\"b \\'
    r = qor.run(demo, "echo " + text)
    assert r.exit_code == 7
    lines = dict(line.split("=", 1) for line in r.stdout.splitlines())
    assert bytes.fromhex(lines["hex"]) == text.encode("cp1250")


def test_locale_gives_code_page_1250(qor, demo):
    r = qor.run(demo, "acp")
    assert r.exit_code == 1250
    assert r.events[0]["acp"] == 1250


def test_dialog_controls_are_typed_checked_and_clicked(qor, demo):
    r = qor.run(demo, "dialog", rules=[
        rule("type:1000:D:\\źródło", "check:1039", "uncheck:1038", "snapshot", "click:1", title="ustawienia")])
    assert r.exit_code == IDOK
    assert r.stdout.splitlines() == ["edit=D:\\źródło check1038=0 check1039=1"]
    dlg = r.window("ustawienia")
    # Positions come back in the template's dialog units.
    assert dlg.client_du == [227, 150]
    assert dlg.control(1000).du == [13, 20, 198, 12]
    assert dlg.control(1000).limit == 250
    assert dlg.control(1000).text == "C:\\Program Files\\Qor_Vex"
    assert dlg.control(1).kind == "defpushbutton" and dlg.control(2).text == "&Przerwij"
    assert dlg.control(1039).text == "&Nie pokazuj więcej tego okna"
    snap = r.changes[-1]
    assert snap.control(1000).text == "D:\\źródło" and snap.control(1039).checked == 1


def test_action_on_a_disabled_button_is_reported(qor, demo):
    r = qor.run(demo, "dialog", rules=[rule("click:1050", title="ustawienia")], timeout=3,
                allow_timeout=True)
    assert r.timed_out and r.exit_code is None
    assert any("1050 is hidden or disabled" in p for p in r.problems())


def test_escape_and_ctrl_break_reach_a_busy_program(qor, demo):
    # Esc while working -> the question, answered No; then Ctrl+Break -> Yes.
    # (A key-down queued while the question is open would be eaten by the
    # message box's own loop, so Ctrl+Break waits for the No: after=1.)
    r = qor.run(demo, "busy 4000", rules=[
        rule("wait:300", "key:esc", title="praca"),
        rule(f"click:{IDNO}", message="przerwać"),
        rule("key:break", title="praca", after=1),
        rule(f"click:{IDYES}", message="przerwać"),
    ])
    assert r.exit_code == 3
    questions = r.messageboxes
    assert [q.message for q in questions] == ["Czy chcesz przerwać\ninstalowanie programu?"] * 2
    assert all(q.icon == "question" and q.buttons == [IDYES, IDNO] for q in questions)
    work = r.window("praca")
    assert all(q.owner == work.hwnd for q in questions)
    assert r.stdout.splitlines() == ["question", "question", "busy done abort=1"]


def test_hanging_program_is_killed_and_the_prefix_recovers(qor, demo):
    r = qor.run(demo, "hang", timeout=2, allow_timeout=True)
    assert r.timed_out and r.exit_code is None
    assert qor.run(demo, "acp").exit_code == 1250


def test_windows_of_child_processes_are_followed(qor, demo):
    r = qor.run(demo, "spawn od dziecka", rules=[ANSWER_ANY_BOX], wait_children=True)
    assert r.exit_code == 0
    assert len(r.processes) == 2
    [box] = r.messageboxes
    assert box.message == "od dziecka" and box.pid == r.processes[1]["pid"]


def test_registry_values_read_back_with_types_and_polish_text(qor, demo):
    assert qor.run(demo, "regwrite").exit_code == 0
    key = r"HKLM\Software\QorTest\Zażółć"
    dump = qor.reg_export(r"HKLM\Software\QorTest")
    values = dump.key(key)
    assert values == {
        "": RegValue("REG_SZ", "domyślna"),
        "Tekst": RegValue("REG_SZ", 'gęślą jaźń "cytat" C:\\ścieżka\\'),
        "Rozwiń": RegValue("REG_EXPAND_SZ", "%WINDIR%\\qor"),
        "Lista": RegValue("REG_MULTI_SZ", ["pierwszy", "drugi ł"]),
        "Dane": RegValue("REG_BINARY", b"\x00\x01\xfe\xff"),
        "Liczba": RegValue("REG_DWORD", 0x12345678),
    }
    assert qor.reg_value(key, "liczba") == 0x12345678
    assert qor.reg_export(r"HKLM\Software\QorTest\Brak") is None
    # A reset brings back the pristine registry.
    qor.env.reset(force=True)
    assert qor.reg_export(r"HKLM\Software\QorTest") is None


def test_reg_add_and_import_round_trip(qor):
    qor.reg_add(r"HKCU\Software\Qor\Qor_Vex", "InstallPath", "C:\\Program Files\\Qor_Vex")
    qor.reg_add(r"HKCU\Software\Qor\Qor_Vex", "LocalRemote", 2)
    qor.reg_import('[HKEY_CURRENT_USER\\Software\\Qor\\Qor_Vex\\Gałąź]\n"Nazwa"="wartość"\n"Bin"=hex:0a,0b\n')
    dump = qor.reg_export(r"HKCU\Software\Qor")
    assert dump.value(r"HKCU\Software\Qor\Qor_Vex", "InstallPath") == "C:\\Program Files\\Qor_Vex"
    assert dump.value(r"HKCU\Software\Qor\Qor_Vex", "LocalRemote") == RegValue("REG_DWORD", 2)
    assert dump.value(r"HKCU\Software\Qor\Qor_Vex\Gałąź", "Nazwa") == "wartość"
    assert dump.value(r"HKCU\Software\Qor\Qor_Vex\Gałąź", "Bin") == b"\x0a\x0b"


def test_reg_text_parser_handles_continued_hex_and_escapes():
    text = ('Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n'
            '"long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n'
            '  17,18\r\n"s"="a\\\\b\\"c\\nd"\r\n"e"=hex(2):25,00,41,00,00,00\r\n"q"=hex(b):01,00,00,00,00,00,00,00\r\n'
            '"x\\"y"=dword:ffffffff\r\n@=""\r\n')
    dump = parse_reg_text(text)
    a = dump.key(r"HKLM\Software\A")
    assert a["long"] == bytes(range(0x19))
    assert a["s"] == 'a\\b"c\nd'
    assert a["e"] == RegValue("REG_EXPAND_SZ", "%A")
    assert a["q"] == RegValue("REG_QWORD", 1)
    assert a['x"y'] == RegValue("REG_DWORD", 0xFFFFFFFF)
    assert a[""] == RegValue("REG_SZ", "")


@pytest.mark.parametrize("kind,drive_type", [("floppy", 2), ("hd", 3), ("network", 4), ("cdrom", 5)])
def test_drive_letters_with_their_types(qor, demo, tmp_path, kind, drive_type):
    qor.add_drive("a", tmp_path / "disk", kind)
    (tmp_path / "disk" / "Plik.TXT").write_bytes(b"x")
    assert qor.run(demo, "drivetype A:\\").exit_code == drive_type
    assert qor.host_path("A:\\plik.txt") == tmp_path / "disk" / "Plik.TXT"


def test_windows_version_for_one_program(qor, demo):
    qor.set_windows_version("uidemo.exe", "win98")
    r = qor.run(demo, "version")
    assert r.stdout.strip() == "version=0xC0000A04"


def test_reset_restores_drive_c_and_drive_letters(qor, tmp_path):
    qor.write_file("C:\\qortest\\sub\\nowy.txt", "zawartość")
    qor.write_file("C:\\Program Files\\Qor_Vex\\qor.dat", b"\x01")
    win_ini = qor.host_path("C:\\windows\\win.ini")
    pristine = win_ini.read_bytes()
    win_ini.write_bytes(pristine + b"[Qor]\r\nx=1\r\n")
    qor.add_drive("b", tmp_path, "floppy")
    qor.env.reset(force=True)
    assert not qor.exists("C:\\qortest") and not qor.exists("C:\\Program Files\\Qor_Vex")
    assert qor.exists("C:\\Program Files")
    assert win_ini.read_bytes() == pristine
    assert not (qor.env.prefix / "dosdevices" / "b:").is_symlink()


def test_paths_map_both_ways(qor, tmp_path):
    p = qor.write_file("C:\\QorTest\\Duże Litery.bin", b"abc")
    assert p == qor.env.prefix / "drive_c" / "QorTest" / "Duże Litery.bin"
    assert qor.host_path("c:\\qortest\\duże litery.BIN") == p
    assert qor.win_path(p) == "C:\\QorTest\\Duże Litery.bin"
    assert qor.win_path(tmp_path / "x") == "Z:" + str(tmp_path / "x").replace("/", "\\")
    assert qor.read_file("C:\\qortest\\duże litery.bin") == b"abc"
    assert zlib.crc32(qor.read_file("C:\\QorTest\\Duże Litery.bin")) == zlib.crc32(b"abc")
