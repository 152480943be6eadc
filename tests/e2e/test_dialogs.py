"""The setup dialogs, the progress window and the cancel check, opened one at a
time by dialogdemo.exe (the program's own dialog code and resources) and
driven by the UI driver: layouts as the user sees them, the settings dialog's
refusals and path resolution, the mail-scanner check boxes, the result
dialog's two shapes, and the abort question of a working loop."""

from __future__ import annotations

import pytest

from qorwine import APP_TITLE, IDCANCEL, IDNO, IDOK, IDYES, rule

DIALOG_TITLE = "Qor_Vex dla Windows 98 - Program Instalacyjny"
MAIL_TITLE = "Instalacja skanera poczty Qor_Mail"
RESULT_TITLE = "Qor_Vex - Instalacja/Aktualizacja"
PROGRESS_TITLE = "Qor_VEX - Instalowanie plików"
NONE = 0xFFFF  # controls without an id

WS_MINIMIZEBOX = 0x00020000
DS_CENTER = 0x0800
SS_SUNKEN = 0x1000
ES_AUTOHSCROLL = 0x0080

SUCCESS = "Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie.\nProgram jest gotowy do pracy"
REMINDER = ("Musisz jeszcze przeprowadzić aktualizację bazy wirusów.\r\n"
            "(np. za pomocą uaktualnienia baz pobranego ze strony Qor_Vex-a)")
ABORT_QUESTION = "Czy chcesz przerwać\ninstalowanie programu?"

# Each template as (id, kind, position and size in dialog units, text), in
# the template's order. Icons follow the size of their picture, so only their
# position is compared; None stands for a text that is not compared.
WELCOME = [
    (1, "defpushbutton", [71, 112, 50, 14], "&Kontynuuj"),
    (2, "pushbutton", [137, 112, 50, 14], "&Przerwij"),
    (NONE, "groupbox", [7, 7, 263, 90], ""),
    (NONE, "text", [54, 21, 209, 38],
     "Witamy w programie Qor_Vex dla Windows 98!\n\nProgram instalacyjny, który uruchomiłeś, przeprowadza "
     "kompletną\ninstalację programu na dysku oraz w systemie."),
    (NONE, "text", [54, 66, 209, 25],
     "Program ten służy także do uaktualniania programu w przypadku\nnowej wersji, uszkodzenia lub aktualizacji "
     "(np. bazy wirusów)."),
    (NONE, "icon", [19, 46], None),
]
SETTINGS_FIRST = [
    (NONE, "groupbox", [7, 7, 213, 35], "Pliki instalacyjne"),
    (1000, "edit", [13, 20, 198, 12], "A:\\"),
    (NONE, "groupbox", [7, 45, 213, 39], "Instalacja"),
    (NONE, "text", [13, 55, 126, 8], "Kata&log instalacji plików programu:"),
    (1007, "edit", [13, 64, 198, 12], "C:\\Program Files\\Qor_Vex"),
    (1, "defpushbutton", [55, 128, 50, 14], "&Kontynuuj"),
    (2, "pushbutton", [121, 128, 50, 14], "&Przerwij"),
]
SETTINGS_UPDATE = [
    (1011, "text-center", [7, 7, 207, 11], "Aktualizacja instalacji"),
    (NONE, "groupbox", [7, 25, 213, 35], "Pliki instalacyjne"),
    (1000, "edit", [13, 40, 198, 12], "A:\\"),
    (NONE, "groupbox", [7, 65, 213, 39], "Instalacja"),
    (NONE, "text", [13, 75, 120, 8], "Kata&log instalacji plików programu:"),
    (1007, "edit", [13, 84, 198, 12], "C:\\Program Files\\Qor_Vex"),
    (1, "defpushbutton", [54, 148, 50, 14], "&Kontynuuj"),
    (2, "pushbutton", [120, 148, 50, 14], "&Przerwij"),
]
MAIL = [
    (1, "defpushbutton", [132, 86, 50, 14], "&Dalej >"),
    (NONE, "text-center", [37, 3, 145, 57],
     "\nPakiet Qor_Vex zawiera moduł Qor_Mail skanujący pocztę przychodzącą. Jeśli chcesz, aby po zainstalowaniu "
     "programu zostało wyświetlone okno konfiguracyjne skanera poczty, włącz opcję poniżej."),
    (1038, "autocheckbox", [11, 59, 161, 13], "&Uruchom konfigurację skanera poczty"),
    (NONE, "icon", [10, 22], None),
    (1039, "autocheckbox", [11, 87, 114, 11], "&Nie pokazuj więcej tego okna"),
]
RESULT = [
    (1, "defpushbutton", [65, 109, 50, 14], "OK"),
    (NONE, "icon", [8, 15], None),
    (1040, "text", [44, 3, 131, 41], SUCCESS),
    (1041, "text", [5, 62, 170, 37], REMINDER),
]
PROGRESS = [
    (2, "pushbutton", [211, 85, 50, 14], "&Przerwij"),
    (NONE, "groupbox", [7, 7, 254, 51], ""),
    (1015, "text-right", [15, 24, 57, 8], "Kopiowanie:"),
    (1012, "text", [82, 24, 171, 8], "A:\\qor_vexw.ex_"),
    (NONE, "text-right", [14, 37, 57, 8], "do:"),
    (1014, "text", [82, 37, 171, 8], "C:\\Program Files\\Qor_Vex\\qor_vexw.exe"),
    (1001, "progress", [7, 60, 254, 14], ""),
]

FIELDS = 'source=A:\\ "install=C:\\Program Files\\Qor_Vex" kind=2'


@pytest.fixture
def demo(qor):
    return str(qor.env.tool("dialogdemo.exe"))


def output(result) -> dict:
    """dialogdemo's key=value lines."""
    return dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)


def layout(window) -> list:
    out = []
    for c in window.controls:
        du = c.du[:2] if c.kind == "icon" else c.du
        out.append((c.id, c.kind, du, None if c.kind == "icon" else c.text))
    return out


def app_boxes(result) -> list:
    """The message boxes of the program (captioned with the application title)."""
    return [w for w in result.windows if w.title == APP_TITLE]


@pytest.mark.parametrize("args,title,size,centred,expected,close", [
    ("welcome", DIALOG_TITLE, [277, 133], True, WELCOME, "click:2"),
    ("settings-first " + FIELDS, DIALOG_TITLE, [227, 150], True, SETTINGS_FIRST, "click:2"),
    ("settings-update " + FIELDS, DIALOG_TITLE, [227, 170], True, SETTINGS_UPDATE, "click:2"),
    ("mail", MAIL_TITLE, [186, 103], False, MAIL, "click:1"),
    ("result", RESULT_TITLE, [180, 127], False, RESULT, "click:1"),
    ("progress steps=30 delay=100", PROGRESS_TITLE, [268, 106], True, PROGRESS, "key:esc"),
], ids=["welcome-131", "settings-132", "settings-135", "mail-147", "result-150", "progress-133"])
def test_each_template_shows_its_controls_where_the_template_puts_them(qor, demo, args, title, size, centred,
                                                                        expected, close):
    r = qor.run(demo, args, rules=[rule("wait:300", "snapshot", close, title=title),
                                   rule(f"click:{IDYES}", message="przerwać")])
    [window] = [w for w in r.windows if w.title == title]
    assert window.client_du == size
    assert layout(window) == expected
    screen = r.events[0]["screen"]
    x, y, w, h = window.rect
    if centred:
        assert (abs(2 * x + w - screen[0]) <= 2, abs(2 * y + h - screen[1]) <= 2) == (True, True), window.rect
        assert window.style & DS_CENTER
    else:
        assert (x, y) == (0, 0)
    assert bool(window.style & WS_MINIMIZEBOX) == (title == PROGRESS_TITLE)
    for c in window.controls:
        if c.kind == "edit":
            assert (c.limit, bool(c.style & ES_AUTOHSCROLL)) == (250, True)
        if c.id == 1011:
            assert c.style & SS_SUNKEN
    if title == PROGRESS_TITLE:
        [moving] = [w for w in r.changes if w.event == "snapshot"]
        assert 0 < moving.control(1001).pos < 100


# ---------------------------------------------------------------- settings


def package_bytes() -> bytes:
    # The smallest package: an empty directory at offset 0 ("LF", length 1,
    # the closing zero byte) and the trailer pointing back at it.
    return b"LF" + (1).to_bytes(4, "little") + b"\0" + b"LF" + (0).to_bytes(4, "little")


def settings(qor, demo, fields: str, answer_boxes=True, cwd="C:\\qortest"):
    """Presses "&Kontynuuj" once; a refusal is acknowledged and the dialog is
    then cancelled, after a snapshot of what it shows."""
    rules = [
        rule("click:1", "wait:1500", "snapshot", "click:2", title=DIALOG_TITLE),
        rule(f"click:{IDOK}", title=APP_TITLE, kind="messagebox", count="*"),
    ]
    return qor.run(demo, "settings-first " + fields, rules=rules, cwd=cwd)


REFUSED_FOLDER = "\nPodany katalog nie zawiera\nplików instalacyjnych"


def test_settings_refuses_a_folder_without_setup_dat_and_shows_its_full_path(qor, demo):
    qor.mkdir("C:\\qortest\\pusty")
    r = settings(qor, demo, 'source=pusty "install=C:\\Program Files\\Qor_Vex" kind=0')
    [box] = app_boxes(r)
    assert (box.message, box.icon, box.buttons) == ("C:\\qortest\\pusty" + REFUSED_FOLDER, "warning", [IDOK])
    # The dialog stayed open, with the resolved path written into the field.
    [after] = [w for w in r.changes if w.event == "snapshot"]
    assert after.control(1000).text == "C:\\qortest\\pusty"
    # Cancelled: the caller's fields are untouched.
    out = output(r)
    assert (r.exit_code, out["result"], out["source"]) == (IDCANCEL, "2", "pusty")


@pytest.mark.parametrize("source,kind,cwd,expected", [
    ("..\\kit", "0", "C:\\qortest\\sub", "C:\\qortest\\kit"),          # a folder with setup.dat, relative
    ("C:\\qortest\\kit\\", "0", "C:\\qortest", "C:\\qortest\\kit\\"),   # trailing backslash kept
    ("pakiet.exe", "0", "C:\\qortest", "C:\\qortest\\pakiet.exe"),      # a package file
    ("..\\nic", "2", "C:\\qortest\\sub", "C:\\qortest\\nic"),           # network: not checked
    ("", "2", "C:\\qortest", ""),                                        # empty: nothing to resolve
    ("", "1", "C:\\qortest", ""),                                        # internet with the library bound
], ids=["relative-folder", "folder", "package", "network", "empty", "internet"])
def test_settings_accepts_and_writes_back_full_paths(qor, demo, source, kind, cwd, expected):
    qor.write_file("C:\\qortest\\kit\\setup.dat", "[PRODUCT]\r\n")
    qor.write_file("C:\\qortest\\pakiet.exe", package_bytes())
    qor.mkdir("C:\\qortest\\sub")
    r = settings(qor, demo, f'"source={source}" "install=..\\Qor Vex" kind={kind} internet=http://x/y', cwd=cwd)
    assert app_boxes(r) == []
    out = output(r)
    assert r.exit_code == IDOK
    assert out["source"] == expected
    assert out["install"] == cwd.rsplit("\\", 1)[0] + "\\Qor Vex"
    assert (out["kind"], out["internet"]) == (kind, "http://x/y")


@pytest.mark.parametrize("fields,message", [
    ("source=C:\\qortest\\kit\\setup.dat kind=0", "C:\\qortest\\kit\\setup.dat" + REFUSED_FOLDER),  # not a package
    ("source=C:\\qortest\\brak kind=0", "C:\\qortest\\brak" + REFUSED_FOLDER),                      # missing
    ("source= kind=1 wininet=0",
     "Brak pliku systemowego WININET.DLL\nNie jest możliwa instalacja przez Internet"),
    ("source=C:\\qortest install=" + "x" * 240 + " kind=2", "Please enter no more than 250 characters."),
    ("source=" + "y" * 240 + " kind=2", "Please enter no more than 250 characters."),
], ids=["not-a-package", "missing-folder", "no-wininet", "install-251", "source-251"])
def test_settings_refusals(qor, demo, fields, message):
    qor.write_file("C:\\qortest\\kit\\setup.dat", "[PRODUCT]\r\n")
    r = settings(qor, demo, fields)
    [box] = app_boxes(r)
    assert (box.message, box.icon, box.buttons) == (message, "warning", [IDOK])
    assert r.exit_code == IDCANCEL


def test_settings_accepts_a_full_path_of_exactly_250_characters(qor, demo):
    name = "x" * (250 - len("C:\\qortest\\"))
    r = settings(qor, demo, f"source=C:\\qortest install={name} kind=2")
    assert app_boxes(r) == []
    assert (r.exit_code, output(r)["install"]) == (IDOK, "C:\\qortest\\" + name)


# ---------------------------------------------------------------- mail scanner


@pytest.mark.parametrize("closing,result,run,hide", [
    ("click:1", IDOK, "1", "1"),
    ("key:esc", IDCANCEL, "0", "0"),
    ("close", IDCANCEL, "0", "0"),
], ids=["continue", "esc", "close-box"])
def test_mail_scanner_boxes_count_only_when_continued(qor, demo, closing, result, run, hide):
    r = qor.run(demo, "mail", rules=[rule("check:1038", "check:1039", "snapshot", closing, title=MAIL_TITLE)])
    [checked] = [w for w in r.changes if w.event == "snapshot"]
    assert (checked.control(1038).checked, checked.control(1039).checked) == (1, 1)
    out = output(r)
    assert (r.exit_code, out["run"], out["hide"]) == (result, run, hide)


# ---------------------------------------------------------------- result


def test_result_without_second_text_is_shorter_by_the_bold_area_and_its_gap(qor, demo):
    close = [rule("click:1", title=RESULT_TITLE)]
    full = qor.run(demo, "result", rules=close).window(RESULT_TITLE)
    plain = qor.run(demo, "result-plain", rules=close).window(RESULT_TITLE)

    assert full.control(1041).text == REMINDER
    assert (full.control(1040).text, plain.control(1040).text) == (SUCCESS, SUCCESS)
    assert plain.control(1041).text == ""
    shrink = full.control(1041).rect[3] + 40  # pixels
    assert plain.rect[2] == full.rect[2]
    assert plain.rect[3] == full.rect[3] - shrink
    ok_full, ok_plain = full.control(1).rect, plain.control(1).rect
    assert (ok_plain[0], ok_plain[1]) == (ok_full[0], ok_full[1] - shrink)
    # The OK button is still inside the shorter dialog.
    assert ok_plain[1] + ok_plain[3] <= plain.rect[3]


# ---------------------------------------------------------------- progress and the abort question


@pytest.mark.parametrize("trigger", ["key:esc", "click:2", "key:break"], ids=["esc", "button", "ctrl-break"])
def test_abort_question_yes_stops_the_work(qor, demo, trigger):
    r = qor.run(demo, "progress steps=40 delay=100", rules=[
        rule("wait:800", trigger, title=PROGRESS_TITLE),
        rule(f"click:{IDYES}", message="przerwać"),
    ])
    [box] = app_boxes(r)
    assert (box.message, box.icon, box.buttons) == (ABORT_QUESTION, "question", [IDYES, IDNO])
    out = output(r)
    assert (r.exit_code, out["aborted"]) == (3, "1")
    assert 0 < int(out["steps"]) < 40


@pytest.mark.parametrize("trigger", ["key:esc", "click:2", "key:break"], ids=["esc", "button", "ctrl-break"])
def test_abort_question_no_lets_the_work_go_on_and_can_be_asked_again(qor, demo, trigger):
    r = qor.run(demo, "progress steps=40 delay=100", rules=[
        rule("wait:800", trigger, "wait:1200", trigger, title=PROGRESS_TITLE),
        rule(f"click:{IDNO}", message="przerwać", count=2),
    ])
    # One question per request, each answered No; the loop ran to its end.
    boxes = app_boxes(r)
    assert [b.message for b in boxes] == [ABORT_QUESTION, ABORT_QUESTION]
    out = output(r)
    assert (r.exit_code, out["aborted"], out["steps"]) == (0, "0", "40")


# ---------------------------------------------------------------- the internet library's binding


@pytest.mark.parametrize("form,refused", [
    ("incomplete", True),   # lacks HttpSendRequestA, required though never called
    ("narrow", False),      # no wide-character names at all: still binds
], ids=["missing-required-name", "without-wide-names"])
def test_internet_source_depends_on_a_complete_internet_library(qor, form, refused):
    # The stand-in library lies beside the program and Wine is told to prefer
    # it to its own, as a system with that library would load it.
    folder = f"C:\\qortest\\{form}"
    qor.write_file(folder + "\\dialogdemo.exe", qor.env.tool("dialogdemo.exe").read_bytes())
    qor.write_file(folder + "\\wininet.dll", qor.env.tool(f"fake-wininet/{form}/wininet.dll").read_bytes())
    qor.reg_add(r"HKCU\Software\Wine\AppDefaults\dialogdemo.exe\DllOverrides", "wininet", "native")
    r = settings(qor, folder + "\\dialogdemo.exe", "source= kind=1")
    if refused:
        [box] = app_boxes(r)
        assert box.message == "Brak pliku systemowego WININET.DLL\nNie jest możliwa instalacja przez Internet"
        assert r.exit_code == IDCANCEL
    else:
        assert app_boxes(r) == []
        assert r.exit_code == IDOK
