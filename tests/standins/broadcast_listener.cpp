// A stand-in for a running component of the product: a top-level window in a
// process of its own that waits for the registered window message
// "Qor_Vex: UpdateConfiguration" and records each one it gets.
//
//   broadcast_listener.exe <record file> <ready event> <count> <time-out ms>
//
// Once its window exists it creates the record file empty and signals the
// named event <ready event> when the test made one, so the test knows a
// receiver is there (by the event, or by the file's appearance). Each message appends
// "Qor_Vex: UpdateConfiguration wParam=<w> lParam=<l>" and a line end to the
// record file before the window answers, so a sender that waited for the
// answer finds the line already written. The program ends with 0 after
// <count> messages, or with 1 when <time-out ms> pass first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

UINT g_message = 0;
const char* g_recordPath = nullptr;
long g_wanted = 1;
long g_received = 0;
const UINT_PTR kTimeoutTimer = 1;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_message && g_message != 0) {
    if (std::FILE* f = std::fopen(g_recordPath, "ab")) {
      std::fprintf(f, "Qor_Vex: UpdateConfiguration wParam=%lu lParam=%ld\n", static_cast<unsigned long>(wParam),
                   static_cast<long>(lParam));
      std::fclose(f);
    }
    if (++g_received >= g_wanted) PostQuitMessage(0);
    return 0;
  }
  if (message == WM_TIMER && wParam == kTimeoutTimer) {
    PostQuitMessage(1);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 5) return 2;
  g_recordPath = __argv[1];
  const char* readyEvent = __argv[2];
  g_wanted = std::strtol(__argv[3], nullptr, 10);
  const UINT timeout = static_cast<UINT>(std::strtoul(__argv[4], nullptr, 10));

  g_message = RegisterWindowMessageA("Qor_Vex: UpdateConfiguration");
  WNDCLASSA wc = {};
  wc.lpfnWndProc = ListenerProc;
  wc.hInstance = instance;
  wc.lpszClassName = "QorBroadcastListener";
  if (!RegisterClassA(&wc)) return 3;
  // An ordinary, never shown top-level window: broadcasts reach those too.
  HWND window = CreateWindowExA(0, wc.lpszClassName, "Qor_Vex broadcast listener", WS_OVERLAPPEDWINDOW, 0, 0,
                                100, 100, nullptr, nullptr, instance, nullptr);
  if (!window) return 4;
  SetTimer(window, kTimeoutTimer, timeout, nullptr);
  if (std::FILE* f = std::fopen(g_recordPath, "wb")) std::fclose(f);

  if (HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent)) {
    SetEvent(ready);
    CloseHandle(ready);
  }

  MSG msg;
  int code = 1;
  for (;;) {
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  DestroyWindow(window);
  return g_received >= g_wanted ? 0 : code;
}
