// uidriver: runs a Windows program and plays the user in front of it.
//
//   uidriver.exe [options] -- target.exe [argument text ...]
//
// The target is started, then every --poll milliseconds the driver looks at
// the visible top-level windows of the target and of the processes it started.
// Each window that has stayed visible for --settle milliseconds is written to
// the transcript as the user would see it (title, class, message-box text and
// buttons, every child control with id, class, text, state and position), and
// the rules are tried on it in order; the first rule that matches and has
// firings left queues its actions for that window.  A window that no rule
// matches is left alone.  When a recorded window's contents change, a
// "change" event is written and the rules are tried again.
//
// The arguments after the target are joined with single spaces exactly as
// given (no quoting is added), because the programs under test read their raw
// argument text; quote inside the arguments where the target needs quotes.
//
// Options:
//   --transcript FILE   JSON lines in UTF-8 (default: none)
//   --rule TEXT         a rule as key=value pairs separated by ';' (repeatable)
//   --rules FILE        rules in a UTF-8 file: one key=value per line, rules
//                       separated by blank lines, '#' starts a comment line
//   --timeout MS        overall limit (default 60000); then the target and its
//                       children are killed, "timeout" is written, exit 124
//   --poll MS           polling period (default 50)
//   --settle MS         how long a window must be visible before it is
//                       recorded and answered (default 100)
//   --cwd DIR           current folder of the target
//   --wait-children     after the target ends, keep watching until the
//                       processes it started have ended too (within --timeout)
//   --verbose           echo the transcript to stderr
//
// Rule keys (all conditions must hold; texts are substrings, case-sensitive):
//   match=S    S in the title or in any text of the window
//   title=S    S in the title          text=S     S in any control text
//   message=S  S in a message box's text
//   class=C    window class is C       kind=K     messagebox, dialog or window
//   has=ID     the window has a control with this id
//   after=N    rule N (counted from 0) has fired already: sequences steps
//              that must not overtake each other
//   count=N    how many times the rule may fire in all (default 1; * = no limit)
//   action=A   appended to the rule's action chain, run in order:
//     click:ID        press a button (push buttons: WM_COMMAND to the dialog;
//                     check boxes and radio buttons: BM_CLICK)
//     check:ID / uncheck:ID   click a check box when its state differs
//                     (clicks on check boxes wait until the new state shows;
//                     other clicks are posted and do not wait)
//     type:ID:TEXT    set the text of a control (WM_SETTEXT)
//     key:NAME[:ID]   post a key-down to the window (or its control ID);
//                     NAME is esc, break (Ctrl+Break, VK_CANCEL), enter,
//                     tab, space or a decimal virtual-key code
//     close           the close box (WM_SYSCOMMAND SC_CLOSE)
//     wait:MS         pause the chain; polling goes on meanwhile
//     freeze:MS       suspend the thread that owns the window for MS
//                     milliseconds, then resume it: the window stays on the
//                     screen as it is (for a picture) while its program's work
//                     stands still; the driver itself waits meanwhile
//     snapshot        write the window's current state as a "snapshot" event
//
// Transcript events ("t" is milliseconds since start):
//   start, process (a child process appeared), window, change, snapshot,
//   rule, action, action_failed, closed, exit {code}, timeout {open windows}.
//
// Exit code: the target's exit code; 124 after the time limit; 125 for bad
// options or an unreadable rules file; 126 when the target cannot be started.
// (Under Wine the Unix exit status keeps only the low 8 bits of the code; the
// "exit" event holds the full value.)

#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0501
#define _WIN32_WINNT 0x0501
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- text

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
  return w;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

std::string JsonString(const std::wstring& w) {
  std::string s = Utf8(w);
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Hex(unsigned long v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%lx", v);
  return std::string("\"") + buf + "\"";
}

// Window handles carry 32 significant bits in 32-bit and 64-bit processes
// alike (so that both can name the same window); printing those bits keeps
// the transcript the same in either build.
std::string Hex(HWND h) {
  return Hex(static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(h) & 0xFFFFFFFFu));
}

// A JSON object written field by field.
class Json {
 public:
  Json& Raw(const char* key, const std::string& value) {
    text_ += first_ ? "" : ",";
    first_ = false;
    text_ += "\"";
    text_ += key;
    text_ += "\":";
    text_ += value;
    return *this;
  }
  Json& Str(const char* key, const std::wstring& v) { return Raw(key, JsonString(v)); }
  Json& Str8(const char* key, const std::string& v) { return Raw(key, JsonString(Wide(v))); }
  Json& Num(const char* key, long long v) { return Raw(key, std::to_string(v)); }
  Json& Bool(const char* key, bool v) { return Raw(key, v ? "true" : "false"); }
  Json& Rect(const char* key, const RECT& r) {
    return Raw(key, "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                        std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top) + "]");
  }
  std::string Done() const { return text_ + "}"; }

 private:
  std::string text_ = "{";
  bool first_ = true;
};

// ---------------------------------------------------------------- transcript

DWORD g_start = 0;
std::FILE* g_transcript = nullptr;
bool g_verbose = false;

DWORD Now() { return GetTickCount() - g_start; }

void Emit(const char* event, Json body) {
  Json head;
  head.Str8("event", event).Num("t", Now());
  std::string line = head.Done();
  std::string rest = body.Done();
  if (rest.size() > 2) {
    line.pop_back();
    line += "," + rest.substr(1);
  }
  if (g_transcript) {
    std::fputs(line.c_str(), g_transcript);
    std::fputc('\n', g_transcript);
    std::fflush(g_transcript);
  }
  if (g_verbose) {
    std::fprintf(stderr, "uidriver: %s\n", line.c_str());
    std::fflush(stderr);
  }
}

// ---------------------------------------------------------------- rules

struct Action {
  enum Kind { kClick, kCheck, kUncheck, kType, kKey, kClose, kWait, kFreeze, kSnapshot } kind;
  int id = 0;           // control id, 0 = the window itself (key)
  std::wstring text;    // type
  UINT vk = 0;          // key
  DWORD ms = 0;         // wait, freeze
  std::string source;   // as written, for the transcript
};

struct Rule {
  std::wstring match, title, text, message, cls, kind;
  int has = -1;
  bool hasHas = false;
  int after = -1;
  int count = 1;  // -1: no limit
  int fired = 0;
  std::vector<Action> actions;
  std::string source;
};

bool ParseInt(const std::string& s, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);
  if (*end) return false;
  out = v;
  return true;
}

bool ParseAction(const std::string& actionText, Action& a, std::string& error) {
  a.source = actionText;
  std::string verb = actionText.substr(0, actionText.find(':'));
  std::string rest = actionText.size() > verb.size() ? actionText.substr(verb.size() + 1) : std::string();
  long n = 0;
  if (verb == "click" || verb == "check" || verb == "uncheck") {
    if (!ParseInt(rest, n)) return error = "needs a control id: " + actionText, false;
    a.kind = verb == "click" ? Action::kClick : verb == "check" ? Action::kCheck : Action::kUncheck;
    a.id = static_cast<int>(n);
  } else if (verb == "type") {
    std::size_t colon = rest.find(':');
    if (colon == std::string::npos || !ParseInt(rest.substr(0, colon), n))
      return error = "type needs type:ID:TEXT: " + actionText, false;
    a.kind = Action::kType;
    a.id = static_cast<int>(n);
    a.text = Wide(rest.substr(colon + 1));
  } else if (verb == "key") {
    std::string name = rest.substr(0, rest.find(':'));
    std::string target = rest.size() > name.size() ? rest.substr(name.size() + 1) : std::string();
    a.kind = Action::kKey;
    if (name == "esc" || name == "escape") a.vk = VK_ESCAPE;
    else if (name == "break" || name == "ctrlbreak" || name == "cancel") a.vk = VK_CANCEL;
    else if (name == "enter" || name == "return") a.vk = VK_RETURN;
    else if (name == "tab") a.vk = VK_TAB;
    else if (name == "space") a.vk = VK_SPACE;
    else if (ParseInt(name, n) && n > 0 && n < 256) a.vk = static_cast<UINT>(n);
    else return error = "unknown key: " + actionText, false;
    if (!target.empty()) {
      if (!ParseInt(target, n)) return error = "bad control id: " + actionText, false;
      a.id = static_cast<int>(n);
    }
  } else if (verb == "close" && rest.empty()) {
    a.kind = Action::kClose;
  } else if (verb == "snapshot" && rest.empty()) {
    a.kind = Action::kSnapshot;
  } else if (verb == "wait") {
    if (!ParseInt(rest, n) || n < 0) return error = "wait needs milliseconds: " + actionText, false;
    a.kind = Action::kWait;
    a.ms = static_cast<DWORD>(n);
  } else if (verb == "freeze") {
    if (!ParseInt(rest, n) || n < 0) return error = "freeze needs milliseconds: " + actionText, false;
    a.kind = Action::kFreeze;
    a.ms = static_cast<DWORD>(n);
  } else {
    return error = "unknown action: " + actionText, false;
  }
  return true;
}

// One key=value pair into the rule.
bool AddRuleField(Rule& r, const std::string& field, std::string& error) {
  std::size_t eq = field.find('=');
  if (eq == std::string::npos) return error = "expected key=value: " + field, false;
  std::string key = field.substr(0, eq), value = field.substr(eq + 1);
  if (key == "match") r.match = Wide(value);
  else if (key == "title") r.title = Wide(value);
  else if (key == "text") r.text = Wide(value);
  else if (key == "message") r.message = Wide(value);
  else if (key == "class") r.cls = Wide(value);
  else if (key == "kind") r.kind = Wide(value);
  else if (key == "has") {
    long n;
    if (!ParseInt(value, n)) return error = "has needs a control id: " + field, false;
    r.has = static_cast<int>(n);
    r.hasHas = true;
  } else if (key == "after") {
    long n;
    if (!ParseInt(value, n) || n < 0) return error = "after needs a rule number: " + field, false;
    r.after = static_cast<int>(n);
  } else if (key == "count") {
    long n;
    if (value == "*") r.count = -1;
    else if (ParseInt(value, n) && n >= 0) r.count = static_cast<int>(n);
    else return error = "bad count: " + field, false;
  } else if (key == "action") {
    Action a;
    if (!ParseAction(value, a, error)) return false;
    r.actions.push_back(a);
  } else {
    return error = "unknown rule key: " + key, false;
  }
  if (!r.source.empty()) r.source += ";";
  r.source += field;
  return true;
}

bool ParseRuleLine(const std::string& text, Rule& r, std::string& error) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t semi = text.find(';', start);
    std::string field = text.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
    if (!field.empty() && !AddRuleField(r, field, error)) return false;
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  return true;
}

bool ReadRulesFile(const std::wstring& path, std::vector<Rule>& rules, std::string& error) {
  std::FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return error = "cannot open rules file " + Utf8(path), false;
  std::string all;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  std::fclose(f);
  if (all.compare(0, 3, "\xEF\xBB\xBF") == 0) all.erase(0, 3);
  Rule current;
  bool open = false;
  std::size_t pos = 0;
  while (pos <= all.size()) {
    std::size_t nl = all.find('\n', pos);
    std::string line = all.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (open) rules.push_back(current);
      current = Rule();
      open = false;
    } else if (line[0] != '#') {
      if (!AddRuleField(current, line, error)) return false;
      open = true;
    }
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  if (open) rules.push_back(current);
  return true;
}

// ---------------------------------------------------------------- snapshots

struct Control {
  HWND hwnd = nullptr;
  int id = 0;
  std::wstring cls, text;
  DWORD style = 0, exstyle = 0;
  bool visible = false, enabled = false;
  RECT rect{};        // in the client area of the top-level window, pixels
  int checked = -1;   // check boxes and radio buttons
  int pos = -1, rangeLo = 0, rangeHi = 0;  // progress bars
  int limit = -1;     // edit controls
  std::string kind;
};

struct Snapshot {
  HWND hwnd = nullptr;
  DWORD pid = 0;
  HWND owner = nullptr;
  std::wstring title, cls;
  DWORD style = 0, exstyle = 0;
  RECT rect{}, client{};
  std::string kind;      // messagebox, dialog, window
  std::wstring message;  // message boxes
  std::vector<int> buttons;
  std::string icon;      // message boxes: information, warning, error, question, none, unknown
  std::vector<Control> controls;

  // What counts as a visible change (progress position is left out: it moves
  // all the time and is reported with the next real change).
  std::wstring Key() const {
    std::wstring k = title + L"\x1" + message;
    for (const Control& c : controls) {
      k += L"\x1" + std::to_wstring(c.id) + L":" + c.text + L":" + (c.visible ? L"v" : L"h") +
           (c.enabled ? L"e" : L"d") + std::to_wstring(c.checked);
    }
    return k;
  }
  const Control* Find(int id) const {
    for (const Control& c : controls)
      if (c.id == id) return &c;
    return nullptr;
  }
};

// Base units of the dialog font, to express pixel rectangles in dialog units.
int g_baseX = 0, g_baseY = 0;

void ComputeBaseUnits(const std::wstring& face, int points) {
  HDC dc = GetDC(nullptr);
  int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face.c_str());
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  SIZE sz;
  const wchar_t* alpha = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  GetTextExtentPoint32W(dc, alpha, 52, &sz);
  g_baseX = (sz.cx / 26 + 1) / 2;
  g_baseY = tm.tmHeight;
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
}

int ToDuX(int px) { return g_baseX ? (px * 4 + (px >= 0 ? g_baseX / 2 : -g_baseX / 2)) / g_baseX : px; }
int ToDuY(int px) { return g_baseY ? (px * 8 + (px >= 0 ? g_baseY / 2 : -g_baseY / 2)) / g_baseY : px; }

std::string DuRect(const RECT& r) {
  int x = ToDuX(r.left), y = ToDuY(r.top);
  int w = ToDuX(r.right - r.left), h = ToDuY(r.bottom - r.top);
  return "[" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h) + "]";
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = L"";
  GetClassNameW(h, buf, 256);
  return buf;
}

// How long a question to a control of the target may wait: the target
// answers between two steps of its work, which on a loaded machine can take
// well over 100 ms. A target that stopped pumping altogether is skipped at
// once (SMTO_ABORTIFHUNG).
constexpr UINT kAskMs = 2000;

// Text of a window of another process. Edit controls keep their text to
// themselves, so they are asked with WM_GETTEXT (briefly: a busy target does
// not answer); everything else is read from the window's stored caption,
// which never blocks.
std::wstring TextOf(HWND h, bool ask) {
  if (ask) {
    DWORD_PTR len = 0;
    if (SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAskMs, &len)) {
      std::vector<wchar_t> buf(len + 2, L'\0');
      DWORD_PTR got = 0;
      if (SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                              kAskMs, &got))
        return std::wstring(buf.data());
    }
  }
  wchar_t buf[4096] = L"";
  GetWindowTextW(h, buf, 4096);
  return buf;
}

std::string ButtonKind(DWORD style) {
  switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON: return "pushbutton";
    case BS_DEFPUSHBUTTON: return "defpushbutton";
    case BS_CHECKBOX: return "checkbox";
    case BS_AUTOCHECKBOX: return "autocheckbox";
    case BS_RADIOBUTTON: return "radiobutton";
    case BS_3STATE: return "3state";
    case BS_AUTO3STATE: return "auto3state";
    case BS_GROUPBOX: return "groupbox";
    case BS_AUTORADIOBUTTON: return "autoradiobutton";
    case BS_OWNERDRAW: return "ownerdraw";
    default: return "button";
  }
}

std::string StaticKind(DWORD style) {
  switch (style & SS_TYPEMASK) {
    case SS_LEFT: return "text";
    case SS_CENTER: return "text-center";
    case SS_RIGHT: return "text-right";
    case SS_ICON: return "icon";
    case SS_LEFTNOWORDWRAP: return "text-nowrap";
    case SS_SIMPLE: return "text-simple";
    case SS_BITMAP: return "bitmap";
    case SS_ETCHEDFRAME: return "etchedframe";
    case SS_ETCHEDHORZ: return "etchedhorz";
    case SS_ETCHEDVERT: return "etchedvert";
    case SS_BLACKFRAME: case SS_GRAYFRAME: case SS_WHITEFRAME: return "frame";
    case SS_BLACKRECT: case SS_GRAYRECT: case SS_WHITERECT: return "rect";
    default: return "static";
  }
}

bool IsCheckKind(const std::string& k) {
  return k == "checkbox" || k == "autocheckbox" || k == "radiobutton" || k == "3state" || k == "auto3state" ||
         k == "autoradiobutton";
}

// Which of the system icons a message box shows, found by comparing the
// pixels on the screen with each icon drawn on the dialog's background;
// "unknown" when none matches (yet).
std::string IdentifyIcon(HWND iconCtl) {
  RECT r;
  GetWindowRect(iconCtl, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0 || w > 256 || h > 256) return "unknown";
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* shotBits = nullptr;
  HBITMAP shot = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &shotBits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, shot);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  std::vector<DWORD> captured(static_cast<const DWORD*>(shotBits), static_cast<const DWORD*>(shotBits) + w * h);
  DWORD background = captured[0];

  struct Candidate {
    LPCWSTR id;
    const char* name;
  } candidates[] = {{MAKEINTRESOURCEW(32516), "information"},  // IDI_ASTERISK
                    {MAKEINTRESOURCEW(32515), "warning"},      // IDI_EXCLAMATION
                    {MAKEINTRESOURCEW(32513), "error"},        // IDI_HAND
                    {MAKEINTRESOURCEW(32514), "question"}};    // IDI_QUESTION
  std::string best = "unknown";
  long bestDiff = w * h / 50 + 1;  // at most 2 % of the pixels may differ
  // The control holds an icon; a blank area means it is not painted yet.
  bool blank = true;
  for (DWORD px : captured) blank = blank && px == background;
  HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
  for (const Candidate& c : candidates) {
    if (blank) break;
    HICON icon = static_cast<HICON>(LoadImageW(nullptr, c.id, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    if (!icon) continue;
    RECT all{0, 0, w, h};
    FillRect(mem, &all, brush);
    DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    GdiFlush();
    const DWORD* drawn = static_cast<const DWORD*>(shotBits);
    long diff = 0;
    for (int i = 0; i < w * h; ++i) diff += (drawn[i] & 0xFFFFFF) != (captured[i] & 0xFFFFFF);
    if (diff < bestDiff) {
      bestDiff = diff;
      best = c.name;
    }
  }
  DeleteObject(brush);
  SelectObject(mem, old);
  DeleteObject(shot);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return best;
}

bool IsMessageBox(HWND h, const Snapshot& s) {
  // Wine marks its message boxes with this property; as a fallback, a
  // dialog whose only texts are the 0xFFFF static and buttons is one.
  if (GetPropW(h, L"WINE_MSGBOX_HELPCALLBACK")) return true;
  if (s.cls != L"#32770") return false;
  bool text = false;
  for (const Control& c : s.controls) {
    if (c.cls == L"Static" && c.id == 0xFFFF && (c.style & SS_TYPEMASK) != SS_ICON) text = true;
    else if (c.cls != L"Button" && c.cls != L"Static") return false;
  }
  return text;
}

Snapshot Take(HWND h, DWORD pid, bool identifyIcon) {
  Snapshot s;
  s.hwnd = h;
  s.pid = pid;
  s.owner = GetWindow(h, GW_OWNER);
  s.title = TextOf(h, false);
  s.cls = ClassOf(h);
  s.style = static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE));
  s.exstyle = static_cast<DWORD>(GetWindowLongW(h, GWL_EXSTYLE));
  GetWindowRect(h, &s.rect);
  GetClientRect(h, &s.client);
  for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    Control ctl;
    ctl.hwnd = c;
    ctl.id = GetDlgCtrlID(c);
    ctl.cls = ClassOf(c);
    ctl.style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
    ctl.exstyle = static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE));
    ctl.visible = IsWindowVisible(c) != FALSE;
    ctl.enabled = IsWindowEnabled(c) != FALSE;
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&r), 2);
    ctl.rect = r;
    bool isEdit = _wcsicmp(ctl.cls.c_str(), L"Edit") == 0;
    ctl.text = TextOf(c, isEdit);
    if (_wcsicmp(ctl.cls.c_str(), L"Button") == 0) {
      ctl.kind = ButtonKind(ctl.style);
      if (IsCheckKind(ctl.kind)) {
        DWORD_PTR state = 0;
        if (SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kAskMs, &state)) {
          ctl.checked = static_cast<int>(state);
        } else {
          // Wine's button keeps its state in the first window long.
          ctl.checked = static_cast<int>(GetWindowLongW(c, 0) & 3);
        }
      }
    } else if (_wcsicmp(ctl.cls.c_str(), L"Static") == 0) {
      ctl.kind = StaticKind(ctl.style);
    } else if (isEdit) {
      ctl.kind = "edit";
      DWORD_PTR limit = 0;
      if (SendMessageTimeoutW(c, EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, kAskMs, &limit))
        ctl.limit = static_cast<int>(limit);
    } else if (_wcsicmp(ctl.cls.c_str(), PROGRESS_CLASSW) == 0) {
      ctl.kind = "progress";
      DWORD_PTR pos = 0, lo = 0, hi = 0;
      if (SendMessageTimeoutW(c, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kAskMs, &pos)) ctl.pos = static_cast<int>(pos);
      if (SendMessageTimeoutW(c, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, kAskMs, &lo) &&
          SendMessageTimeoutW(c, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kAskMs, &hi)) {
        ctl.rangeLo = static_cast<int>(lo);
        ctl.rangeHi = static_cast<int>(hi);
      }
    } else {
      ctl.kind = "other";
    }
    s.controls.push_back(ctl);
  }
  if (IsMessageBox(h, s)) {
    s.kind = "messagebox";
    s.icon = "none";
    for (const Control& c : s.controls) {
      if (c.cls == L"Static" && (c.style & SS_TYPEMASK) != SS_ICON && c.id == 0xFFFF) s.message = c.text;
      if (c.cls == L"Button" && c.visible) s.buttons.push_back(c.id);
      if (c.cls == L"Static" && (c.style & SS_TYPEMASK) == SS_ICON && c.visible) {
        // Wine keeps the icon control of a box without icon, just empty.
        DWORD_PTR icon = 0;
        bool empty = SendMessageTimeoutW(c.hwnd, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kAskMs, &icon) && !icon;
        s.icon = empty ? "none" : identifyIcon ? IdentifyIcon(c.hwnd) : "unknown";
      }
    }
  } else {
    s.kind = s.cls == L"#32770" ? "dialog" : "window";
  }
  return s;
}

Json Describe(const Snapshot& s) {
  Json j;
  j.Num("pid", s.pid).Raw("hwnd", Hex(s.hwnd));
  if (s.owner) j.Raw("owner", Hex(s.owner));
  j.Str("title", s.title).Str("class", s.cls).Str8("kind", s.kind).Raw("style", Hex(s.style));
  j.Raw("exstyle", Hex(s.exstyle)).Rect("rect", s.rect);
  RECT c = s.client;
  j.Raw("client", "[" + std::to_string(c.right) + "," + std::to_string(c.bottom) + "]");
  j.Raw("client_du", "[" + std::to_string(ToDuX(c.right)) + "," + std::to_string(ToDuY(c.bottom)) + "]");
  if (s.kind == "messagebox") {
    j.Str("message", s.message);
    std::string b = "[";
    for (std::size_t i = 0; i < s.buttons.size(); ++i) b += (i ? "," : "") + std::to_string(s.buttons[i]);
    j.Raw("buttons", b + "]").Str8("icon", s.icon);
  }
  std::string list = "[";
  for (std::size_t i = 0; i < s.controls.size(); ++i) {
    const Control& ctl = s.controls[i];
    Json cj;
    cj.Num("id", ctl.id).Str("class", ctl.cls).Str8("kind", ctl.kind).Str("text", ctl.text);
    cj.Bool("visible", ctl.visible).Bool("enabled", ctl.enabled).Raw("style", Hex(ctl.style));
    if (ctl.exstyle) cj.Raw("exstyle", Hex(ctl.exstyle));
    cj.Rect("rect", ctl.rect).Raw("du", DuRect(ctl.rect));
    if (ctl.checked >= 0) cj.Num("checked", ctl.checked);
    if (ctl.kind == "progress") cj.Num("pos", ctl.pos).Raw("range", "[" + std::to_string(ctl.rangeLo) + "," +
                                                                    std::to_string(ctl.rangeHi) + "]");
    if (ctl.limit >= 0) cj.Num("limit", ctl.limit);
    list += (i ? "," : "") + cj.Done();
  }
  j.Raw("controls", list + "]");
  return j;
}

// ---------------------------------------------------------------- watching

struct Tracked {
  DWORD firstSeen = 0;
  bool recorded = false;
  bool present = true;
  std::wstring key;
  Snapshot last;
  std::set<std::size_t> firedRules;
  std::vector<Action> pending;
  std::size_t next = 0;
  DWORD due = 0;
  std::size_t rule = 0;
};

struct Options {
  std::wstring transcript, cwd;
  DWORD timeout = 60000, poll = 50, settle = 100;
  bool waitChildren = false;
  std::vector<Rule> rules;
  std::wstring program, arguments;
};

class Driver {
 public:
  explicit Driver(Options& o) : opt_(o) {}

  int Run();

 private:
  void RefreshProcesses();
  void Scan();
  void Consider(HWND h, Tracked& t, const Snapshot& s);
  void RunActions(HWND h, Tracked& t);
  bool Perform(HWND h, Tracked& t, const Action& a, std::string& why);
  void KillAll();

  Options& opt_;
  PROCESS_INFORMATION pi_{};
  std::map<DWORD, HANDLE> processes_;  // pid -> handle (target and children)
  std::set<DWORD> unnamed_;            // processes whose file name is not known yet
  std::map<HWND, Tracked> windows_;
};

bool IsPidAlive(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_TIMEOUT; }

void Driver::RefreshProcesses() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W pe;
  pe.dwSize = sizeof pe;
  bool added = true;
  // Repeat so that grandchildren found before their parents are picked up.
  std::vector<PROCESSENTRY32W> all;
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) all.push_back(pe);
  CloseHandle(snap);
  // A process seen before Wine knew its file name is named once it is known.
  for (const PROCESSENTRY32W& p : all) {
    if (!p.szExeFile[0] || !unnamed_.count(p.th32ProcessID)) continue;
    unnamed_.erase(p.th32ProcessID);
    Emit("process-name", Json().Num("pid", p.th32ProcessID).Str("exe", p.szExeFile));
  }
  while (added) {
    added = false;
    for (const PROCESSENTRY32W& p : all) {
      if (processes_.count(p.th32ProcessID) || !processes_.count(p.th32ParentProcessID)) continue;
      HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, p.th32ProcessID);
      processes_[p.th32ProcessID] = h;
      if (!p.szExeFile[0]) unnamed_.insert(p.th32ProcessID);
      added = true;
      Emit("process", Json().Num("pid", p.th32ProcessID).Num("parent", p.th32ParentProcessID).Str("exe", p.szExeFile));
    }
  }
}

struct EnumState {
  const std::map<DWORD, HANDLE>* pids;
  std::vector<std::pair<HWND, DWORD>> found;
};

BOOL CALLBACK CollectWindow(HWND h, LPARAM lp) {
  EnumState* st = reinterpret_cast<EnumState*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (st->pids->count(pid) && IsWindowVisible(h)) st->found.emplace_back(h, pid);
  return TRUE;
}

void Driver::Scan() {
  EnumState st{&processes_, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&st));
  DWORD now = Now();
  std::set<HWND> seen;
  // EnumWindows lists from the top of the z-order; record bottom-up so that
  // an owner window is written before the message box above it.
  for (auto it = st.found.rbegin(); it != st.found.rend(); ++it) {
    HWND h = it->first;
    seen.insert(h);
    auto found = windows_.find(h);
    if (found == windows_.end() || !found->second.present) {
      Tracked t;
      t.firstSeen = now;
      if (found != windows_.end()) t.firedRules = found->second.firedRules;  // shown again
      windows_[h] = t;
    }
    Tracked& t = windows_[h];
    bool settled = now - t.firstSeen >= opt_.settle;
    Snapshot s = Take(h, it->second, settled && !t.recorded);
    if (t.recorded) s.icon = t.last.icon;  // identified once, when first recorded
    t.last = s;
    if (!settled) continue;
    // A message box is recorded once its icon is known: its pixels may take
    // a moment to reach the screen on a busy machine.
    if (!t.recorded && s.icon == "unknown" && now - t.firstSeen < opt_.settle + 2000) continue;
    Consider(h, t, s);
  }
  for (auto& [h, t] : windows_) {
    if (!t.present || seen.count(h)) continue;
    t.present = false;
    if (!t.recorded) Emit("window", Describe(t.last).Bool("short_lived", true));
    bool destroyed = !IsWindow(h);
    Emit("closed", Json().Raw("hwnd", Hex(h)).Bool("destroyed", destroyed));
    t.pending.clear();
    if (destroyed) t.firedRules.clear();
  }
}

bool Contains(const std::wstring& hay, const std::wstring& needle) {
  return needle.empty() || hay.find(needle) != std::wstring::npos;
}

bool Matches(const Rule& r, const Snapshot& s, const std::vector<Rule>& rules) {
  if (r.after >= 0 && (r.after >= static_cast<int>(rules.size()) || rules[r.after].fired == 0)) return false;
  std::wstring texts = s.message;
  for (const Control& c : s.controls) texts += L"\x1" + c.text;
  if (!r.match.empty() && !Contains(s.title, r.match) && !Contains(texts, r.match)) return false;
  if (!Contains(s.title, r.title) || !Contains(texts, r.text)) return false;
  if (!r.message.empty() && (s.kind != "messagebox" || !Contains(s.message, r.message))) return false;
  if (!r.cls.empty() && s.cls != r.cls) return false;
  if (!r.kind.empty() && Wide(s.kind) != r.kind) return false;
  if (r.hasHas && !s.Find(r.has)) return false;
  return true;
}

void Driver::Consider(HWND h, Tracked& t, const Snapshot& s) {
  std::wstring key = s.Key();
  if (!t.recorded) {
    Emit("window", Describe(s));
    t.recorded = true;
  } else if (key != t.key) {
    Emit("change", Describe(s));
  } else if (t.next < t.pending.size()) {
    RunActions(h, t);
    return;
  } else {
    return;
  }
  t.key = key;
  if (t.next < t.pending.size()) {
    RunActions(h, t);
    return;
  }
  for (std::size_t i = 0; i < opt_.rules.size(); ++i) {
    Rule& r = opt_.rules[i];
    if (t.firedRules.count(i) || (r.count >= 0 && r.fired >= r.count) || !Matches(r, s, opt_.rules)) continue;
    r.fired++;
    t.firedRules.insert(i);
    t.pending = r.actions;
    t.next = 0;
    t.due = Now();
    t.rule = i;
    Emit("rule", Json().Num("rule", static_cast<long long>(i)).Str8("source", r.source)
                       .Raw("hwnd", Hex(h)));
    RunActions(h, t);
    return;
  }
}

void Driver::RunActions(HWND h, Tracked& t) {
  while (t.next < t.pending.size() && Now() >= t.due) {
    const Action& a = t.pending[t.next++];
    if (a.kind == Action::kWait) {
      t.due = Now() + a.ms;
      continue;
    }
    std::string why;
    Json j;
    j.Num("rule", static_cast<long long>(t.rule)).Str8("action", a.source)
        .Raw("hwnd", Hex(h));
    if (Perform(h, t, a, why)) {
      Emit("action", j);
    } else {
      Emit("action_failed", j.Str8("reason", why));
      t.next = t.pending.size();  // the rest of the chain would act on a wrong premise
    }
  }
}

bool Driver::Perform(HWND h, Tracked& t, const Action& a, std::string& why) {
  if (a.kind == Action::kClose) {
    return PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0) || (why = "PostMessage failed", false);
  }
  if (a.kind == Action::kSnapshot) {
    Emit("snapshot", Describe(Take(h, t.last.pid, true)));
    return true;
  }
  if (a.kind == Action::kFreeze) {
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(h, nullptr));
    if (!thread) return why = "the window's thread cannot be opened", false;
    bool suspended = SuspendThread(thread) != static_cast<DWORD>(-1);
    if (suspended) {
      Sleep(a.ms);
      ResumeThread(thread);
    }
    CloseHandle(thread);
    return suspended || (why = "the window's thread cannot be suspended", false);
  }
  HWND target = h;
  if (a.id != 0 || a.kind != Action::kKey) {
    target = GetDlgItem(h, a.id);
    if (!target) return why = "no control with id " + std::to_string(a.id), false;
  }
  switch (a.kind) {
    case Action::kClick:
    case Action::kCheck:
    case Action::kUncheck: {
      if (!IsWindowVisible(target) || !IsWindowEnabled(target))
        return why = "control " + std::to_string(a.id) + " is hidden or disabled", false;
      std::string kind = ButtonKind(static_cast<DWORD>(GetWindowLongW(target, GWL_STYLE)));
      if (a.kind != Action::kClick && !IsCheckKind(kind))
        return why = "control " + std::to_string(a.id) + " is not a check box", false;
      if (IsCheckKind(kind)) {
        DWORD_PTR state = 0;
        if (!SendMessageTimeoutW(target, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state))
          return why = "the target does not answer", false;
        if (a.kind != Action::kClick && (state == BST_CHECKED) == (a.kind == Action::kCheck)) return true;
        if (!PostMessageW(target, BM_CLICK, 0, 0)) return why = "PostMessage failed", false;
        // The click is handled when the target gets to its queue; wait for the
        // new state so that the next action sees it.
        for (DWORD start = GetTickCount(); GetTickCount() - start < 2000; Sleep(10)) {
          DWORD_PTR now = state;
          if (SendMessageTimeoutW(target, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 200, &now) && now != state)
            return true;
        }
        return why = "the check box did not change its state", false;
      }
      return PostMessageW(h, WM_COMMAND, MAKEWPARAM(a.id, BN_CLICKED), reinterpret_cast<LPARAM>(target)) ||
             (why = "PostMessage failed", false);
    }
    case Action::kType: {
      DWORD_PTR result = 0;
      if (!SendMessageTimeoutW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.text.c_str()), SMTO_ABORTIFHUNG,
                               2000, &result))
        return why = "the target does not answer", false;
      return true;
    }
    case Action::kKey: {
      // A real key press: repeat count 1 and the key's scan code.
      UINT scan = MapVirtualKeyW(a.vk, 0);
      LPARAM lp = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
      return PostMessageW(target, WM_KEYDOWN, a.vk, lp) || (why = "PostMessage failed", false);
    }
    default:
      return why = "internal: unhandled action", false;
  }
}

void Driver::KillAll() {
  for (auto& [pid, h] : processes_)
    if (h && IsPidAlive(h)) TerminateProcess(h, 124);
}

int Driver::Run() {
  std::wstring cmd = L"\"" + opt_.program + L"\"";
  if (!opt_.arguments.empty()) cmd += L" " + opt_.arguments;
  std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back(L'\0');

  // The target writes to the driver's own standard handles, so its traces
  // reach whoever runs the driver.
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  HANDLE self = GetCurrentProcess();
  HANDLE std[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
  HANDLE inh[3] = {nullptr, nullptr, nullptr};
  for (int i = 0; i < 3; ++i)
    if (std[i] && std[i] != INVALID_HANDLE_VALUE)
      DuplicateHandle(self, std[i], self, &inh[i], 0, TRUE, DUPLICATE_SAME_ACCESS);
  si.hStdInput = inh[0];
  si.hStdOutput = inh[1];
  si.hStdError = inh[2];

  int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  Emit("start", Json().Str("command", cmd).Num("acp", GetACP()).Num("oemcp", GetOEMCP())
                    .Raw("screen", "[" + std::to_string(screenW) + "," + std::to_string(screenH) + "]")
                    .Raw("base_units", "[" + std::to_string(g_baseX) + "," + std::to_string(g_baseY) + "]"));

  BOOL started = CreateProcessW(opt_.program.c_str(), cmdBuf.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                opt_.cwd.empty() ? nullptr : opt_.cwd.c_str(), &si, &pi_);
  for (HANDLE h : inh)
    if (h) CloseHandle(h);
  if (!started) {
    DWORD err = GetLastError();
    Emit("error", Json().Str8("message", "cannot start the target").Num("win32_error", err));
    std::fprintf(stderr, "uidriver: cannot start %s (error %lu)\n", Utf8(opt_.program).c_str(), err);
    return 126;
  }
  CloseHandle(pi_.hThread);
  processes_[pi_.dwProcessId] = pi_.hProcess;
  Emit("process", Json().Num("pid", pi_.dwProcessId).Num("parent", GetCurrentProcessId()).Str("exe", opt_.program));

  DWORD deadline = opt_.timeout;
  bool targetDone = false;
  for (;;) {
    DWORD wait = WaitForSingleObject(pi_.hProcess, opt_.poll);
    targetDone = wait == WAIT_OBJECT_0;
    RefreshProcesses();
    Scan();
    for (auto& [h, t] : windows_)
      if (t.present && t.recorded && t.next < t.pending.size()) RunActions(h, t);
    if (targetDone) {
      bool others = false;
      if (opt_.waitChildren)
        for (auto& [pid, h] : processes_)
          if (h && h != pi_.hProcess && IsPidAlive(h)) others = true;
      if (!others) break;
    }
    if (Now() >= deadline) {
      std::string open = "[";
      for (auto& [h, t] : windows_) {
        if (!t.present) continue;
        if (!t.recorded) Emit("window", Describe(t.last));
        open += (open.size() > 1 ? "," : "") + Hex(h);
      }
      Emit("timeout", Json().Num("limit_ms", opt_.timeout).Raw("open_windows", open + "]")
                            .Bool("target_running", !targetDone));
      KillAll();
      std::fprintf(stderr, "uidriver: time limit of %lu ms reached, target killed\n", opt_.timeout);
      return 124;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(pi_.hProcess, &code);
  Emit("exit", Json().Num("code", code));
  return static_cast<int>(code);
}

int Usage(const char* why) {
  std::fprintf(stderr, "uidriver: %s\nusage: uidriver.exe [options] -- target.exe [arguments...]\n", why);
  return 125;
}

}  // namespace

int main() {
  g_start = GetTickCount();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Options opt;
  std::string error;
  int i = 1;
  std::wstring fontFace = L"MS Sans Serif";
  int fontPoints = 8;
  for (; i < argc; ++i) {
    std::wstring a = argv[i];
    auto value = [&](std::wstring& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto number = [&](DWORD& out) {
      std::wstring v;
      if (!value(v)) return false;
      long n;
      if (!ParseInt(Utf8(v), n) || n < 0) return false;
      out = static_cast<DWORD>(n);
      return true;
    };
    std::wstring v;
    if (a == L"--") {
      ++i;
      break;
    } else if (a == L"--transcript") {
      if (!value(opt.transcript)) return Usage("--transcript needs a file");
    } else if (a == L"--rule") {
      Rule r;
      if (!value(v)) return Usage("--rule needs a rule");
      if (!ParseRuleLine(Utf8(v), r, error)) return Usage(error.c_str());
      opt.rules.push_back(r);
    } else if (a == L"--rules") {
      if (!value(v)) return Usage("--rules needs a file");
      if (!ReadRulesFile(v, opt.rules, error)) return Usage(error.c_str());
    } else if (a == L"--timeout") {
      if (!number(opt.timeout)) return Usage("--timeout needs milliseconds");
    } else if (a == L"--poll") {
      if (!number(opt.poll) || opt.poll == 0) return Usage("--poll needs milliseconds");
    } else if (a == L"--settle") {
      if (!number(opt.settle)) return Usage("--settle needs milliseconds");
    } else if (a == L"--cwd") {
      if (!value(opt.cwd)) return Usage("--cwd needs a folder");
    } else if (a == L"--dialog-font") {
      DWORD pts = 0;
      if (!value(fontFace) || !number(pts)) return Usage("--dialog-font needs a face and a point size");
      fontPoints = static_cast<int>(pts);
    } else if (a == L"--wait-children") {
      opt.waitChildren = true;
    } else if (a == L"--verbose") {
      g_verbose = true;
    } else {
      return Usage(("unknown option " + Utf8(a)).c_str());
    }
  }
  if (i >= argc) return Usage("no target program given");
  opt.program = argv[i++];
  for (; i < argc; ++i) opt.arguments += (opt.arguments.empty() ? L"" : L" ") + std::wstring(argv[i]);
  LocalFree(argv);

  if (!opt.transcript.empty()) {
    g_transcript = _wfopen(opt.transcript.c_str(), L"wb");
    if (!g_transcript) return Usage("cannot write the transcript file");
  }
  ComputeBaseUnits(fontFace, fontPoints);
  Driver driver(opt);
  int code = driver.Run();
  if (g_transcript) std::fclose(g_transcript);
  return code;
}
