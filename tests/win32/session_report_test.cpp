// The final report of a session that did not succeed: which text the user
// sees and which exit code the run ends with. A relaunch needs a program to
// start: a failure that names none is reported as a failure, not as a
// hand-over to an empty program.
#include <windows.h>

#include <string>
#include <vector>

#include "app/setup_app.h"
#include "check.h"
#include "window_driver.h"

namespace {

using namespace qor;

const char kFailed[] =
    "Nie można było przeprowadzić instalacji.\nMożesz w każdej chwili powtórzyć próbę\nzainstalowania programu.";

TEST_CASE(SessionReportOfFailuresAndRelaunches) {
  struct Case {
    const char* note;
    int failureKind;
    const char* program;
    int exitCode;
    std::string text;
  } cases[] = {
      {"outcome 0 without a program is a failure", kFailureNone, "", 2, kFailed},
      {"failed", kFailureFailed, "", 2, kFailed},
      {"failed with a stale program", kFailureFailed, "C:\\qor-nowhere\\Setup2.exe", 2, kFailed},
      {"aborted", kFailureAborted, "", 3, "Instalowanie programu zostało przerwane."},
      {"a relaunch that cannot start", kFailureNone, "C:\\qor-nowhere\\Setup2.exe", 1,
       "Nie można uruchomić programu:\nC:\\qor-nowhere\\Setup2.exe\nUruchom program ponownie,\nlub powtórz "
       "instalowanie programu."},
  };
  for (const Case& c : cases) {
    SetupApp app;
    app.failureKind = c.failureKind;
    app.relaunchProgram = c.program;
    std::vector<std::string> texts;
    {
      qortest::WindowDriver driver([&](HWND box) {
        texts.push_back(qortest::WindowText(box, 0xFFFF));
        return IDOK;
      });
      app.ReportOutcome(0);
    }
    CHECK_EQ(app.exitCode, c.exitCode) << c.note;
    CHECK_EQ(texts.size(), 1u) << c.note;
    if (!texts.empty()) {
      CHECK_EQ(texts[0], c.text) << c.note;
    }
  }
}

}  // namespace
