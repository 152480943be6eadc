// The progress window's operations on a real window, and PollAbort against the
// real message queue: which messages it pumps, which keys turn into the abort
// question, the quit message, and the flag that sticks once set. Questions are
// answered by a second thread (WindowDriver).
#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <string>
#include <vector>

#include "app/progress_window.h"
#include "app/setup_app.h"
#include "check.h"
#include "resource.h"
#include "window_driver.h"

namespace {

using qor::ProgressWindow;
using qor::SetupApp;

HWND Window(const ProgressWindow& w) { return static_cast<HWND>(w.Handle()); }

int BarPosition(const ProgressWindow& w) {
  return static_cast<int>(SendDlgItemMessageA(Window(w), IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
}

// Takes every message of this thread out of the queue without handling it,
// so that one case cannot leave work for the next. WM_PAINT is the exception:
// it stays in the queue until the window is painted, so it is dispatched, or
// the loop would never end whenever a shown window needs repainting.
void DrainQueue() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_PAINT) DispatchMessageA(&msg);
  }
}

// A window that counts the WM_USER messages it receives.
class CountingWindow {
 public:
  CountingWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QorCountingWindow";
    RegisterClassA(&wc);  // fails harmlessly when already registered
    window_ = CreateWindowA("QorCountingWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~CountingWindow() { DestroyWindow(window_); }
  HWND Get() const { return window_; }
  int count = 0;

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_USER) {
      if (auto* self = reinterpret_cast<CountingWindow*>(GetWindowLongPtrA(h, GWLP_USERDATA))) ++self->count;
      return 0;
    }
    return DefWindowProcA(h, msg, wp, lp);
  }
  HWND window_;
};

// Records every question PollAbort asks and answers it.
struct Questions {
  explicit Questions(int answer)
      : driver([this, answer](HWND box) {
          if (GetDlgItem(box, IDC_PROGRESS_BAR)) return 0;  // the progress window itself
          titles.push_back(qortest::WindowText(box));
          texts.push_back(qortest::WindowText(box, 0xFFFF));
          return answer;
        }) {}
  std::vector<std::string> titles, texts;
  qortest::WindowDriver driver;
};

const std::string kQuestion = "Czy chcesz przerwać\ninstalowanie programu?";

// ---------------------------------------------------------------- the window

TEST_CASE(ProgressWindowIsCreatedHiddenAndShownOnRequest) {
  ProgressWindow window;
  REQUIRE(window.Handle() != nullptr);
  CHECK(!IsWindowVisible(Window(window)));
  CHECK_EQ(qortest::WindowText(Window(window)), std::string("Qor_VEX - Instalowanie plików"));
  window.Show();
  CHECK(IsWindowVisible(Window(window)));
  HWND handle = Window(window);
  DrainQueue();
  {
    ProgressWindow second;  // a second one is independent of the first
    CHECK(second.Handle() != window.Handle());
  }
  CHECK(IsWindow(handle));
}

TEST_CASE(ProgressWindowIsDestroyedWithItsObject) {
  HWND handle = nullptr;
  {
    ProgressWindow window;
    handle = Window(window);
    REQUIRE(handle != nullptr);
  }
  CHECK(!IsWindow(handle));
}

TEST_CASE(ProgressWindowCaptionLines) {
  ProgressWindow window;
  const struct {
    const char* given;
    const char* shown;
  } operations[] = {
      {"Kopiowanie", "Kopiowanie:"}, {"Kompresja", "Kompresja:"}, {"Pobieranie", "Pobieranie:"},
      {"Odczytywanie", "Odczytywanie:"}, {"Gotowe:", "Gotowe:"}, {"", ""},
  };
  for (const auto& op : operations) {
    window.SetOperation(op.given);
    CHECK_EQ(qortest::WindowText(Window(window), IDC_PROGRESS_OPERATION), std::string(op.shown)) << op.given;
  }
  window.SetSourceLine("A:\\qor_vexw.ex_");
  window.SetTargetLine("C:\\Program Files\\Qor & Vex\\zażółć.exe");
  CHECK_EQ(qortest::WindowText(Window(window), IDC_PROGRESS_SOURCE), std::string("A:\\qor_vexw.ex_"));
  CHECK_EQ(qortest::WindowText(Window(window), IDC_PROGRESS_TARGET),
           std::string("C:\\Program Files\\Qor & Vex\\zażółć.exe"));
  DrainQueue();
}

TEST_CASE(ProgressWindowBarFollowsTotalAndPosition) {
  ProgressWindow window;
  CHECK_EQ(BarPosition(window), 0);
  CHECK_EQ(SendDlgItemMessageA(Window(window), IDC_PROGRESS_BAR, PBM_GETRANGE, TRUE, 0), 0);  // low end
  CHECK_EQ(SendDlgItemMessageA(Window(window), IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0), 100);
  const struct {
    std::int32_t total, amount;
    int bar;
  } cases[] = {
      {3, 2, 67},           {3, 3, 100},          {0, 5, 0},          {200, 1, 1},         {400, 1, 0},
      {1, INT_MAX, 100},    {INT_MIN, INT_MAX, 0}, {INT_MAX, INT_MAX, 100}, {-3, 2, 0},  {-3, -2, 67},
  };
  for (const auto& c : cases) {
    window.SetTotal(c.total);
    CHECK_EQ(window.Total(), c.total);
    window.SetPosition(c.amount);
    CHECK_EQ(BarPosition(window), c.bar) << "total " << c.total << ", amount " << c.amount;
  }
  // A new total starts the bar again from 0.
  window.SetTotal(10);
  window.SetPosition(5);
  window.SetTotal(20);
  CHECK_EQ(BarPosition(window), 0);
  DrainQueue();
}

TEST_CASE(ProgressWindowAbortRequestQueuesAnEscKeyForTheThread) {
  ProgressWindow window;
  DrainQueue();
  window.RequestAbort();
  MSG msg;
  REQUIRE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  CHECK(msg.hwnd == nullptr);
  CHECK_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
  CHECK_EQ(msg.wParam, static_cast<WPARAM>(VK_ESCAPE));
  CHECK_EQ(msg.lParam, 0);
  CHECK(IsWindow(Window(window)));
}

TEST_CASE(ProgressWindowButtonAndCloseBoxOnlyRequestTheAbort) {
  ProgressWindow window;
  window.Show();
  DrainQueue();
  HWND button = GetDlgItem(Window(window), IDCANCEL);
  SendMessageA(Window(window), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  // The dialog manager answers the close box with a posted IDCANCEL command.
  SendMessageA(Window(window), WM_CLOSE, 0, 0);
  int escapes = 0;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && msg.hwnd == nullptr) ++escapes;
    else DispatchMessageA(&msg);
  }
  CHECK_EQ(escapes, 2);
  CHECK(IsWindow(Window(window)));
  CHECK(IsWindowVisible(Window(window)));
}

// ---------------------------------------------------------------- PollAbort

TEST_CASE(PollAbortPumpsOrdinaryMessagesAndGoesOn) {
  DrainQueue();
  SetupApp app;
  CountingWindow counter;
  CHECK(!app.PollAbort());  // nothing waiting
  PostMessageA(counter.Get(), WM_USER, 0, 0);
  PostMessageA(counter.Get(), WM_USER, 0, 0);
  PostMessageA(counter.Get(), WM_KEYDOWN, VK_RETURN, 0);  // other keys are ordinary messages
  CHECK(!app.PollAbort());
  CHECK_EQ(counter.count, 2);
  MSG msg;
  CHECK(!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "left in the queue: " << msg.message;
}

TEST_CASE(PollAbortAsksOnEscOrCtrlBreakFromAnyWindow) {
  CountingWindow counter;
  ProgressWindow window;
  const struct {
    HWND target;  // nullptr: a thread message
    WPARAM key;
    int answer;
    bool aborted;
  } cases[] = {
      {nullptr, VK_ESCAPE, IDNO, false},     {nullptr, VK_ESCAPE, IDYES, true},
      {Window(window), VK_CANCEL, IDNO, false}, {Window(window), VK_CANCEL, IDYES, true},
      {counter.Get(), VK_ESCAPE, IDYES, true}, {GetDlgItem(Window(window), IDCANCEL), VK_ESCAPE, IDYES, true},
  };
  for (const auto& c : cases) {
    DrainQueue();
    SetupApp app;
    Questions questions(c.answer);
    if (c.target) PostMessageA(c.target, WM_KEYDOWN, c.key, 0);
    else PostThreadMessageA(GetCurrentThreadId(), WM_KEYDOWN, c.key, 0);
    bool result = app.PollAbort();
    CHECK_EQ(result, c.aborted) << "key " << c.key << ", answer " << c.answer;
    CHECK_EQ(app.abortRequested, c.aborted);
    REQUIRE_EQ(questions.texts.size(), 1u) << "key " << c.key;
    CHECK_EQ(questions.texts[0], kQuestion);
    CHECK_EQ(questions.titles[0], std::string("Qor_Vex - program instalacyjny"));
    // After No the next call pumps as before; after Yes it pumps nothing.
    counter.count = 0;
    PostMessageA(counter.Get(), WM_USER, 0, 0);
    bool again = app.PollAbort();
    CHECK_EQ(again, c.aborted);
    CHECK_EQ(counter.count, c.aborted ? 0 : 1) << "a set flag pumps nothing";
  }
  DrainQueue();
}

TEST_CASE(PollAbortAsksOnceForTheProgressButtonAndAgainLater) {
  DrainQueue();
  SetupApp app;
  ProgressWindow window;
  window.Show();
  Questions questions(IDNO);
  HWND button = GetDlgItem(Window(window), IDCANCEL);
  // The click reaches the window through the queue, as a real click would.
  PostMessageA(Window(window), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  for (int i = 0; i < 5; ++i) CHECK(!app.PollAbort());
  CHECK_EQ(questions.texts.size(), 1u);
  window.RequestAbort();
  CHECK(!app.PollAbort());
  CHECK_EQ(questions.texts.size(), 2u);
  DrainQueue();
}

TEST_CASE(PollAbortTakesTheQuitMessageAsAnAbortAndLeavesItForTheOuterLevel) {
  DrainQueue();
  SetupApp app;
  PostQuitMessage(7);
  CHECK(app.PollAbort());
  CHECK(app.abortRequested);
  MSG msg;
  REQUIRE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  CHECK_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  CHECK_EQ(msg.wParam, 7u);
  DrainQueue();
}

TEST_CASE(PollAbortFlagSticksWithoutPumping) {
  DrainQueue();
  SetupApp app;
  app.abortRequested = true;
  CountingWindow counter;
  PostMessageA(counter.Get(), WM_USER, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_KEYDOWN, VK_ESCAPE, 0);
  Questions questions(IDNO);
  CHECK(app.PollAbort());
  CHECK_EQ(counter.count, 0);
  CHECK_EQ(questions.texts.size(), 0u);
  DrainQueue();
}

}  // namespace
