// The dialog templates as stored in the program's resources (language,
// font, styles, every control), the length-limit string, and the result
// dialog's bold font, opened in-process and answered by a second thread.
#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "check.h"
#include "resource.h"
#include "window_driver.h"

namespace {

// ---------------------------------------------------------------- templates

struct Item {
  DWORD style = 0;
  int id = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string cls;   // "button", "edit", "static" or the class name
  std::string text;  // in code page 1250; "#N" for an ordinal (icons)
};

struct Template {
  bool found = false;
  DWORD style = 0;
  short cx = 0, cy = 0;
  std::string title, face;
  int points = 0;
  std::vector<Item> items;
};

class Reader {
 public:
  explicit Reader(const BYTE* p) : p_(p) {}
  WORD Word() {
    WORD w;
    std::memcpy(&w, p_, 2);
    p_ += 2;
    return w;
  }
  DWORD Dword() {
    DWORD d;
    std::memcpy(&d, p_, 4);
    p_ += 4;
    return d;
  }
  short Short() { return static_cast<short>(Word()); }
  std::string Text() {
    std::wstring w;
    for (WORD c = Word(); c; c = Word()) w += static_cast<wchar_t>(c);
    return Narrow(w);
  }
  // A string or an ordinal (0xFFFF followed by the number).
  std::string TextOrOrdinal() {
    WORD first;
    std::memcpy(&first, p_, 2);
    if (first == 0xFFFF) {
      p_ += 2;
      return "#" + std::to_string(Word());
    }
    return Text();
  }
  void AlignDword(const BYTE* base) {
    while ((p_ - base) % 4) ++p_;
  }
  void Skip(std::size_t n) { p_ += n; }

 private:
  static std::string Narrow(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(1250, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(1250, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
  }
  const BYTE* p_;
};

// Predefined classes by their atoms; other names in lower case (class names
// do not depend on case, and windres writes them in upper case).
std::string ClassName(const std::string& raw) {
  if (raw == "#128") return "button";
  if (raw == "#129") return "edit";
  if (raw == "#130") return "static";
  std::string lower = raw;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "static" ? "static" : lower;
}

// The template in Polish (language 1045), as windres stored it: a DLGTEMPLATE
// with DS_SETFONT, followed by DWORD-aligned DLGITEMTEMPLATEs.
Template LoadTemplate(int id) {
  Template t;
  HRSRC res = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(id), MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT));
  if (!res) return t;
  const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
  Reader r(base);
  t.found = true;
  t.style = r.Dword();
  r.Dword();  // extended style
  WORD count = r.Word();
  r.Short();
  r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  r.TextOrOrdinal();  // menu
  r.TextOrOrdinal();  // class
  t.title = r.Text();
  if (t.style & DS_SETFONT) {
    t.points = r.Word();
    t.face = r.Text();
  }
  for (WORD i = 0; i < count; ++i) {
    r.AlignDword(base);
    Item item;
    item.style = r.Dword();
    r.Dword();  // extended style
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = static_cast<short>(r.Word());
    item.cls = ClassName(r.TextOrOrdinal());
    item.text = r.TextOrOrdinal();
    r.Skip(r.Word());  // creation data
    t.items.push_back(item);
  }
  return t;
}

// What a control must be: its class, (style & mask) == bits, place and text.
struct Expected {
  int id;
  const char* cls;
  DWORD mask, bits;
  short x, y, cx, cy;
  const char* text;
};

constexpr DWORD kButtonType = 0x0F;
constexpr DWORD kStaticType = SS_TYPEMASK;

void CheckTemplate(int id, const char* title, short cx, short cy, DWORD windowBits, const std::vector<Expected>& want) {
  Template t = LoadTemplate(id);
  REQUIRE(t.found) << "template " << id << " in language 1045";
  CHECK_EQ(t.title, std::string(title)) << "template " << id;
  CHECK_EQ(t.cx, cx) << "template " << id;
  CHECK_EQ(t.cy, cy) << "template " << id;
  CHECK_EQ(t.points, 8) << "template " << id;
  CHECK_EQ(t.face, std::string("MS Sans Serif")) << "template " << id;
  const DWORD windowMask = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | WS_MINIMIZEBOX |
                           WS_MAXIMIZEBOX | WS_VISIBLE | WS_THICKFRAME;
  CHECK_EQ(t.style & windowMask, windowBits) << "template " << id;
  REQUIRE_EQ(t.items.size(), want.size()) << "controls of template " << id;
  for (std::size_t i = 0; i < want.size(); ++i) {
    const Item& got = t.items[i];
    const Expected& w = want[i];
    CHECK_EQ(got.id, w.id) << "template " << id << ", control " << i;
    CHECK_EQ(got.cls, std::string(w.cls)) << "template " << id << ", control " << w.id;
    CHECK_EQ(got.style & (w.mask | WS_CHILD | WS_VISIBLE), w.bits | WS_CHILD | WS_VISIBLE)
        << "template " << id << ", control " << w.id << " (" << w.text << ")";
    CHECK_EQ(got.x, w.x) << "template " << id << ", control " << w.id;
    CHECK_EQ(got.y, w.y) << "template " << id << ", control " << w.id;
    CHECK_EQ(got.cx, w.cx) << "template " << id << ", control " << w.id;
    CHECK_EQ(got.cy, w.cy) << "template " << id << ", control " << w.id;
    CHECK_EQ(got.text, std::string(w.text)) << "template " << id << ", control " << w.id;
  }
}

const DWORD kModal = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
const char kSetupTitle[] = "Qor_Vex dla Windows 98 - Program Instalacyjny";
const DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER;

TEST_CASE(DialogTemplateWelcome) {
  CheckTemplate(IDD_WELCOME, kSetupTitle, 277, 133, kModal | DS_CENTER, {
      {IDOK, "button", kButtonType, BS_DEFPUSHBUTTON, 71, 112, 50, 14, "&Kontynuuj"},
      {IDCANCEL, "button", kButtonType, BS_PUSHBUTTON, 137, 112, 50, 14, "&Przerwij"},
      {-1, "button", kButtonType, BS_GROUPBOX, 7, 7, 263, 90, ""},
      {-1, "static", kStaticType, SS_LEFT, 54, 21, 209, 38,
       "Witamy w programie Qor_Vex dla Windows 98!\n\nProgram instalacyjny, który uruchomiłeś, przeprowadza "
       "kompletną\ninstalację programu na dysku oraz w systemie."},
      {-1, "static", kStaticType, SS_LEFT, 54, 66, 209, 25,
       "Program ten służy także do uaktualniania programu w przypadku\nnowej wersji, uszkodzenia lub aktualizacji "
       "(np. bazy wirusów)."},
      {-1, "static", kStaticType, SS_ICON, 19, 46, 20, 20, "#128"},
  });
}

TEST_CASE(DialogTemplateSettingsFirstInstallation) {
  CheckTemplate(IDD_SETTINGS_FIRST, kSetupTitle, 227, 150, kModal | DS_CENTER, {
      {-1, "button", kButtonType, BS_GROUPBOX, 7, 7, 213, 35, "Pliki instalacyjne"},
      {1000, "edit", kEdit, kEdit, 13, 20, 198, 12, ""},
      {-1, "button", kButtonType, BS_GROUPBOX, 7, 45, 213, 39, "Instalacja"},
      {-1, "static", kStaticType, SS_LEFT, 13, 55, 126, 8, "Kata&log instalacji plików programu:"},
      {1007, "edit", kEdit, kEdit, 13, 64, 198, 12, ""},
      {IDOK, "button", kButtonType, BS_DEFPUSHBUTTON, 55, 128, 50, 14, "&Kontynuuj"},
      {IDCANCEL, "button", kButtonType, BS_PUSHBUTTON, 121, 128, 50, 14, "&Przerwij"},
  });
}

TEST_CASE(DialogTemplateSettingsUpdate) {
  CheckTemplate(IDD_SETTINGS_UPDATE, kSetupTitle, 227, 170, kModal | DS_CENTER, {
      {1011, "static", kStaticType | SS_SUNKEN, SS_CENTER | SS_SUNKEN, 7, 7, 207, 11, "Aktualizacja instalacji"},
      {-1, "button", kButtonType, BS_GROUPBOX, 7, 25, 213, 35, "Pliki instalacyjne"},
      {1000, "edit", kEdit, kEdit, 13, 40, 198, 12, ""},
      {-1, "button", kButtonType, BS_GROUPBOX, 7, 65, 213, 39, "Instalacja"},
      {-1, "static", kStaticType, SS_LEFT, 13, 75, 120, 8, "Kata&log instalacji plików programu:"},
      {1007, "edit", kEdit, kEdit, 13, 84, 198, 12, ""},
      {IDOK, "button", kButtonType, BS_DEFPUSHBUTTON, 54, 148, 50, 14, "&Kontynuuj"},
      {IDCANCEL, "button", kButtonType, BS_PUSHBUTTON, 120, 148, 50, 14, "&Przerwij"},
  });
}

TEST_CASE(DialogTemplateProgressWindowIsCreatedHidden) {
  // No WS_VISIBLE: the window is created hidden and shown only outside quiet runs.
  CheckTemplate(IDD_PROGRESS, "Qor_VEX - Instalowanie plików", 268, 106, kModal | DS_CENTER | WS_MINIMIZEBOX, {
      {IDCANCEL, "button", kButtonType, BS_PUSHBUTTON, 211, 85, 50, 14, "&Przerwij"},
      {-1, "button", kButtonType, BS_GROUPBOX, 7, 7, 254, 51, ""},
      {1015, "static", kStaticType, SS_RIGHT, 15, 24, 57, 8, ""},
      {1012, "static", kStaticType | SS_NOPREFIX, SS_LEFT | SS_NOPREFIX, 82, 24, 171, 8, ""},
      {-1, "static", kStaticType, SS_RIGHT, 14, 37, 57, 8, "do:"},
      {1014, "static", kStaticType | SS_NOPREFIX, SS_LEFT | SS_NOPREFIX, 82, 37, 171, 8, ""},
      {1001, "msctls_progress32", WS_BORDER, WS_BORDER, 7, 60, 254, 14, ""},
  });
}

TEST_CASE(DialogTemplateMailScanner) {
  CheckTemplate(IDD_MAIL_SCANNER, "Instalacja skanera poczty Qor_Mail", 186, 103, kModal, {
      {IDOK, "button", kButtonType, BS_DEFPUSHBUTTON, 132, 86, 50, 14, "&Dalej >"},
      {-1, "static", kStaticType, SS_CENTER, 37, 3, 145, 57,
       "\nPakiet Qor_Vex zawiera moduł Qor_Mail skanujący pocztę przychodzącą. Jeśli chcesz, aby po "
       "zainstalowaniu programu zostało wyświetlone okno konfiguracyjne skanera poczty, włącz opcję poniżej."},
      {1038, "button", kButtonType, BS_AUTOCHECKBOX, 11, 59, 161, 13, "&Uruchom konfigurację skanera poczty"},
      {-1, "static", kStaticType, SS_ICON, 10, 22, 21, 20, "#149"},
      {1039, "button", kButtonType, BS_AUTOCHECKBOX, 11, 87, 114, 11, "&Nie pokazuj więcej tego okna"},
  });
}

TEST_CASE(DialogTemplateResult) {
  CheckTemplate(IDD_RESULT, "Qor_Vex - Instalacja/Aktualizacja", 180, 127, kModal, {
      {IDOK, "button", kButtonType, BS_DEFPUSHBUTTON, 65, 109, 50, 14, "OK"},
      {-1, "static", kStaticType, SS_ICON, 8, 15, 20, 20, "#151"},
      {1040, "static", kStaticType, SS_LEFT, 44, 3, 131, 41, ""},
      {1041, "static", kStaticType, SS_LEFT, 5, 62, 170, 37, ""},
  });
}

TEST_CASE(DialogTemplateIconsArePresent) {
  for (int id : {IDI_SETUP, IDI_MAIL, IDI_RESULT})
    CHECK(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)) != nullptr) << "icon " << id;
}

TEST_CASE(DialogLengthLimitMessageIsThePlatformsWording) {
  char text[128] = {};
  LoadStringA(GetModuleHandleA(nullptr), IDS_TEXT_TOO_LONG, text, sizeof text);
  CHECK_EQ(std::string(text), std::string("Please enter no more than %1 characters."));
}

// ---------------------------------------------------------------- result dialog

struct ResultSeen {
  LOGFONTA font = {};
  bool gotFont = false;
  HFONT handle = nullptr;
  std::string main, second;
  RECT frame = {}, ok = {};
};

// Opens the result dialog, records what it shows, and presses OK.
ResultSeen ShowResult(const std::string& mainText, const std::string& secondText) {
  ResultSeen seen;
  int result = 0;
  {
    qortest::WindowDriver driver([&](HWND dialog) {
      HWND second = GetDlgItem(dialog, IDC_RESULT_SECOND_TEXT);
      seen.handle = reinterpret_cast<HFONT>(SendMessageA(second, WM_GETFONT, 0, 0));
      seen.gotFont = seen.handle && GetObjectA(seen.handle, sizeof seen.font, &seen.font) == sizeof seen.font;
      seen.main = qortest::WindowText(dialog, IDC_RESULT_TEXT);
      seen.second = qortest::WindowText(dialog, IDC_RESULT_SECOND_TEXT);
      GetWindowRect(dialog, &seen.frame);
      GetWindowRect(GetDlgItem(dialog, IDOK), &seen.ok);
      return IDOK;
    });
    result = qor::ResultDialog(mainText, secondText).Show();
  }
  CHECK_EQ(result, IDOK);
  return seen;
}

TEST_CASE(ResultDialogShowsTheSecondTextInBoldArialCe) {
  const std::string reminder = "Musisz jeszcze przeprowadzić aktualizację bazy wirusów.\r\n(np. za pomocą)";
  ResultSeen seen = ShowResult("Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie.", reminder);
  REQUIRE(seen.gotFont);
  CHECK_EQ(seen.font.lfHeight, -12);
  CHECK_EQ(seen.font.lfWidth, 0);
  CHECK_EQ(seen.font.lfWeight, 700);
  CHECK_EQ(seen.font.lfItalic, 0);
  CHECK_EQ(seen.font.lfUnderline, 0);
  CHECK_EQ(seen.font.lfStrikeOut, 0);
  CHECK_EQ(seen.font.lfCharSet, ANSI_CHARSET);
  CHECK_EQ(seen.font.lfPitchAndFamily, FF_SWISS | DEFAULT_PITCH);
  CHECK_EQ(std::string(seen.font.lfFaceName), std::string("Arial CE"));
  CHECK_EQ(seen.main, std::string("Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie."));
  CHECK_EQ(seen.second, reminder);
  // The dialog owned the font: it is gone with the dialog.
  CHECK_EQ(GetObjectType(seen.handle), 0u) << "the bold font outlived its dialog";
}

INT_PTR CALLBACK IdleProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_CASE(ResultDialogWithoutSecondTextIsShorter) {
  ResultSeen full = ShowResult("A", "B");
  ResultSeen plain = ShowResult("A", "");
  CHECK_EQ(plain.second, std::string());
  // 37 dialog units of the second text in pixels, plus 40 pixels.
  RECT area = {0, 0, 1, 37};
  HWND probe = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RESULT), nullptr, IdleProc, 0);
  REQUIRE(probe != nullptr);
  MapDialogRect(probe, &area);
  DestroyWindow(probe);
  const int shrink = area.bottom + 40;
  CHECK_EQ(plain.frame.right - plain.frame.left, full.frame.right - full.frame.left);
  CHECK_EQ(plain.frame.bottom - plain.frame.top, full.frame.bottom - full.frame.top - shrink);
  CHECK_EQ(plain.ok.top - plain.frame.top, full.ok.top - full.frame.top - shrink);
  CHECK_EQ(plain.ok.left - plain.frame.left, full.ok.left - full.frame.left);
}

TEST_CASE(ResultDialogCutsEachTextTo999Bytes) {
  qor::ResultDialog dialog(std::string(1500, 'a'), std::string(1000, 'b'));
  CHECK_EQ(dialog.MainText().size(), 999u);
  CHECK_EQ(dialog.SecondText().size(), 999u);
}

}  // namespace
