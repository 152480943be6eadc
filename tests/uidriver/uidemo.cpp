// uidemo: a small ANSI program with the kinds of windows the setup program
// shows, used to check the UI driver and the Wine harness on their own.
//
//   uidemo.exe MODE [text]
//
//   info TEXT     information message box with TEXT; exits with the button id
//   warn TEXT     exclamation message box
//   ask TEXT      Yes/No question; exits with the answer (6 or 7)
//   plain TEXT    message box without an icon
//   dialog        the settings-like dialog 100; on "&Kontynuuj" prints the
//                 edit text and the check states, exits with the button id
//   busy MS       shows the working window 101 and works for MS milliseconds,
//                 checking for Esc or Ctrl+Break between steps like the setup
//                 program's cancel check; a confirmed abort exits with 3
//   echo          prints the raw argument text (and its bytes in hex), exits 7
//   acp           exits with the ANSI code page
//   hang          never ends
//   spawn TEXT    starts "uidemo info TEXT" and exits with 0 at once
//   drivetype R   exits with GetDriveTypeA(R)
//   version       prints GetVersion() as version=0x%08X
//   regwrite      writes one value of each kind under
//                 HKLM\Software\QorTest\Zażółć (see below), exits 0
//
// Texts given as arguments reach the program in its ANSI code page.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kCaption[] = "Qor_Vex - program instalacyjny";

// The raw argument text after the program name, as the setup program reads it.
const char* ArgumentText() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// First word and the rest of the argument text.
void Split(const char* text, std::string& mode, std::string& rest) {
  const char* p = text;
  while (*p && *p != ' ') mode += *p++;
  while (*p == ' ') ++p;
  rest = p;
}

INT_PTR CALLBACK SettingsProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) {
    SendDlgItemMessageA(dlg, 1000, EM_LIMITTEXT, 250, 0);
    SetDlgItemTextA(dlg, 1000, "C:\\Program Files\\Qor_Vex");
    return TRUE;
  }
  if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    if (LOWORD(wp) == IDOK) {
      char text[300];
      GetDlgItemTextA(dlg, 1000, text, sizeof text);
      std::printf("edit=%s check1038=%u check1039=%u\n", text, IsDlgButtonChecked(dlg, 1038),
                  IsDlgButtonChecked(dlg, 1039));
      std::fflush(stdout);
    }
    EndDialog(dlg, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK WorkProc(HWND, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
    PostMessageA(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);  // asked at the next check
    return TRUE;
  }
  return FALSE;
}

// The cancel check: pump what is waiting, turn Esc or Ctrl+Break into the question.
bool g_abort = false;
bool CheckAbort(HWND work) {
  MSG m;
  while (!g_abort && PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) {
    if (m.message == WM_KEYDOWN && (m.wParam == VK_ESCAPE || m.wParam == VK_CANCEL)) {
      PeekMessageA(&m, m.hwnd, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
      std::printf("question\n");
      std::fflush(stdout);
      if (MessageBoxA(work, "Czy chcesz przerwać\ninstalowanie programu?", kCaption,
                      MB_YESNO | MB_ICONQUESTION) == IDYES)
        g_abort = true;
      break;
    }
    PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
    if (m.message == WM_QUIT) {
      g_abort = true;
      break;
    }
    if (!IsDialogMessageA(work, &m)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  return g_abort;
}

int Busy(int ms) {
  HWND work = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(101), nullptr, WorkProc, 0);
  ShowWindow(work, SW_SHOWNORMAL);
  SendDlgItemMessageA(work, 1001, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  DWORD start = GetTickCount();
  int step = 0;
  while (GetTickCount() - start < static_cast<DWORD>(ms)) {
    if (CheckAbort(work)) break;
    Sleep(20);  // a unit of work during which nothing is pumped
    char line[64];
    std::snprintf(line, sizeof line, "plik%d.dat", ++step / 10);
    SetDlgItemTextA(work, 1012, line);
    SendDlgItemMessageA(work, 1001, PBM_SETPOS, (GetTickCount() - start) * 100 / ms, 0);
  }
  DestroyWindow(work);
  std::printf("busy done abort=%d\n", g_abort ? 1 : 0);
  return g_abort ? 3 : 0;
}

// Values as the setup program writes them: ANSI texts in code page 1250.
int RegWrite() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\QorTest\\Zażółć", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return 1;
  const char text[] = "gęślą jaźń \"cytat\" C:\\ścieżka\\";
  const char expand[] = "%WINDIR%\\qor";
  const char multi[] = "pierwszy\0drugi ł\0";
  const char deflt[] = "domyślna";
  const BYTE binary[] = {0x00, 0x01, 0xFE, 0xFF};
  DWORD number = 0x12345678;
  bool ok = RegSetValueExA(key, "Tekst", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text) == 0 &&
            RegSetValueExA(key, "Rozwiń", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand) == 0 &&
            RegSetValueExA(key, "Lista", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi) == 0 &&
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(deflt), sizeof deflt) == 0 &&
            RegSetValueExA(key, "Dane", 0, REG_BINARY, binary, sizeof binary) == 0 &&
            RegSetValueExA(key, "Liczba", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) == 0;
  RegCloseKey(key);
  return ok ? 0 : 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  std::string mode, rest;
  Split(ArgumentText(), mode, rest);
  if (mode == "info") return MessageBoxA(nullptr, rest.c_str(), kCaption, MB_OK | MB_ICONINFORMATION);
  if (mode == "warn") return MessageBoxA(nullptr, rest.c_str(), kCaption, MB_OK | MB_ICONEXCLAMATION);
  if (mode == "ask") return MessageBoxA(nullptr, rest.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION);
  if (mode == "plain") return MessageBoxA(nullptr, rest.c_str(), kCaption, MB_OK);
  if (mode == "dialog")
    return static_cast<int>(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100), nullptr, SettingsProc, 0));
  if (mode == "busy") return Busy(std::atoi(rest.c_str()));
  if (mode == "echo") {
    const char* text = ArgumentText() + 4;
    while (*text == ' ') ++text;
    std::printf("text=[%s]\nhex=", text);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) std::printf("%02X", *p);
    std::printf("\n");
    return 7;
  }
  if (mode == "acp") return static_cast<int>(GetACP());
  if (mode == "hang") {
    for (;;) Sleep(1000);
  }
  if (mode == "spawn") {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string cmd = std::string("\"") + self + "\" info " + rest;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
  }
  if (mode == "drivetype") return static_cast<int>(GetDriveTypeA(rest.c_str()));
  if (mode == "version") {
    std::printf("version=0x%08lX\n", GetVersion());
    return 0;
  }
  if (mode == "regwrite") return RegWrite();
  std::printf("uidemo: unknown mode '%s'\n", mode.c_str());
  return 99;
}
