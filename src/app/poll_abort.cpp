// The cancel check of every long loop: keeps the windows alive while the work
// runs on the one GUI thread, and turns an Esc or Ctrl+Break into the abort
// question.
#include <windows.h>

#include "app/messages.h"
#include "app/setup_app.h"

namespace qor {
namespace {

bool IsAbortKey(const MSG& msg) {
  return msg.message == WM_KEYDOWN && (msg.wParam == VK_CANCEL || msg.wParam == VK_ESCAPE);
}

// The top-level window that a message is aimed at (null for a thread message).
HWND TopLevelOf(HWND window) {
  while (window && (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) window = GetParent(window);
  return window;
}

bool IsDialogWindow(HWND window) {
  char className[16];
  return window && GetClassNameA(window, className, sizeof className) && lstrcmpA(className, "#32770") == 0;
}

// Removes the message that PeekMessage has just shown and hands it on, letting
// a dialog (the progress window) handle its keyboard navigation first.
// Returns false when it was the quit message.
bool PumpOneMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return true;  // a sent message was all there was
  if (msg.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  HWND top = TopLevelOf(msg.hwnd);
  if (IsDialogWindow(top) && IsDialogMessageA(top, &msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

}  // namespace

bool SetupApp::PollAbort() {
  MSG msg;
  while (!abortRequested && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    if (IsAbortKey(msg)) {
      // Esc or Ctrl+Break, whichever window it was aimed at (the progress
      // window's button posts one without a window).
      PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
      if (ShowMessage("Czy chcesz przerwać\ninstalowanie programu?", MB_YESNO | MB_ICONQUESTION) == IDYES)
        abortRequested = true;
      break;
    }
    if (!PumpOneMessage()) {
      // The system asked the program to end: stop the work, and leave the
      // quit message for whatever waits further out.
      abortRequested = true;
      break;
    }
    // The program keeps no idle-time work (no deferred updates, no temporary
    // objects to free), so nothing runs between messages.
  }
  return abortRequested;
}

}  // namespace qor
