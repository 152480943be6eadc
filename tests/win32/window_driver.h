// Plays the user for modal windows that a test opens on its own thread: a
// second thread watches for every new visible dialog-class window (dialogs and
// message boxes) of the test's thread, hands it to a handler, and presses the
// button that the handler names.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>

namespace qortest {

class WindowDriver {
 public:
  // Called on the driver's thread once per new window; returns the id of the
  // button to press (0 leaves the window alone).
  using Handler = std::function<int(HWND window)>;

  explicit WindowDriver(Handler handler) : handler_(std::move(handler)), owner_(GetCurrentThreadId()) {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &WindowDriver::Main, this, 0, nullptr);
  }
  ~WindowDriver() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(stop_);
  }
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  // How many windows the handler was given (read after the modal call returned).
  int Seen() const { return seen_; }

 private:
  static DWORD WINAPI Main(void* self) {
    static_cast<WindowDriver*>(self)->Run();
    return 0;
  }

  void Run() {
    while (WaitForSingleObject(stop_, 20) == WAIT_TIMEOUT) {
      found_.clear();
      EnumThreadWindows(owner_, &WindowDriver::Collect, reinterpret_cast<LPARAM>(this));
      for (HWND window : found_) {
        if (handled_.count(window)) continue;
        handled_.insert(window);
        ++seen_;
        int button = handler_(window);
        if (button)
          PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
      }
    }
  }

  static BOOL CALLBACK Collect(HWND window, LPARAM self) {
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (IsWindowVisible(window) && lstrcmpA(cls, "#32770") == 0)
      reinterpret_cast<WindowDriver*>(self)->found_.insert(window);
    return TRUE;
  }

  Handler handler_;
  DWORD owner_;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  std::set<HWND> found_, handled_;
  int seen_ = 0;
};

// The text of a window or of one of its controls, in the ANSI code page.
inline std::string WindowText(HWND window, int control = 0) {
  HWND h = control ? GetDlgItem(window, control) : window;
  char buf[2048] = {};
  if (h) GetWindowTextA(h, buf, sizeof buf);
  return buf;
}

}  // namespace qortest
