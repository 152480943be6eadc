#include "app/progress_window.h"

#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"

namespace qor {
namespace {

HWND Hwnd(void* window) { return static_cast<HWND>(window); }

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
      return TRUE;
    case WM_COMMAND:
      // The button, Esc handled by the dialog manager and the close box all
      // arrive as IDCANCEL. None of them closes the window: they only ask
      // the working loop to put the abort question.
      if (LOWORD(wParam) == IDCANCEL) {
        if (auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(dialog, DWLP_USER))) self->RequestAbort();
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

ProgressWindow::ProgressWindow() : thread_(GetCurrentThreadId()) {
  window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc,
                               reinterpret_cast<LPARAM>(this));
}

ProgressWindow::~ProgressWindow() {
  if (window_) DestroyWindow(Hwnd(window_));
}

void ProgressWindow::Show() {
  if (!window_) return;
  ShowWindow(Hwnd(window_), SW_SHOWNORMAL);
  UpdateWindow(Hwnd(window_));
}

void ProgressWindow::SetOperation(const std::string& text) {
  if (window_) SetDlgItemTextA(Hwnd(window_), IDC_PROGRESS_OPERATION, OperationCaption(text).c_str());
}

void ProgressWindow::SetSourceLine(const std::string& text) {
  if (window_) SetDlgItemTextA(Hwnd(window_), IDC_PROGRESS_SOURCE, text.c_str());
}

void ProgressWindow::SetTargetLine(const std::string& text) {
  if (window_) SetDlgItemTextA(Hwnd(window_), IDC_PROGRESS_TARGET, text.c_str());
}

void ProgressWindow::SetTotal(std::int32_t total) {
  total_ = total;
  if (window_) SendDlgItemMessageA(Hwnd(window_), IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
}

void ProgressWindow::SetPosition(std::int32_t amount) {
  if (window_)
    SendDlgItemMessageA(Hwnd(window_), IDC_PROGRESS_BAR, PBM_SETPOS, ProgressBarPosition(amount, total_), 0);
}

void ProgressWindow::RequestAbort() {
  // A thread message (no window): PollAbort takes an Esc key-down from any
  // window, this one included, as the request to ask.
  PostThreadMessageA(thread_, WM_KEYDOWN, VK_ESCAPE, 0);
}

}  // namespace qor
