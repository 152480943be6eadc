// dialogdemo: opens one of the setup program's dialogs, or runs a cancellable
// loop under the progress window, with the program's own code and resources,
// and prints what came back. The end-to-end tests drive it with the UI driver;
// tools/snapshot-dialogs photographs it.
//
//   dialogdemo.exe SCENARIO [key=value ...]
//
//   welcome                    the welcome dialog
//   settings-first             settings dialog, template 132
//   settings-update            settings dialog, template 135
//       source=TEXT install=TEXT internet=TEXT kind=N   the fields it starts with
//       wininet=0              do not bind the internet library first
//   mail                       the mail-scanner dialog, both boxes cleared
//   result                     the result dialog with the success text and the
//                              virus-base reminder in bold
//   result-plain               the result dialog with the success text only
//       main=TEXT second=TEXT  other texts
//   progress                   the progress window over a loop that asks
//                              PollAbort before every step
//       steps=N (40) delay=MS (100) quiet=1 (window never shown)
//
// Values may be written in double quotes ("C:\a b"). Output lines are
// key=value; the exit code is the dialog's result, or for progress 0 when the
// loop ran to its end and 3 when it was aborted.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/dialogs.h"
#include "app/progress_window.h"
#include "app/setup_app.h"
#include "source/internet.h"

namespace {

// The raw argument text after the program name.
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

// "scenario key=value key="quoted value" ...".
struct Arguments {
  std::string scenario;
  std::map<std::string, std::string> values;

  std::string Get(const std::string& key, const std::string& fallback = std::string()) const {
    auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
  }
  bool Has(const std::string& key) const { return values.count(key) != 0; }
  int Number(const std::string& key, int fallback) const {
    return Has(key) ? std::atoi(Get(key).c_str()) : fallback;
  }
};

Arguments Parse(const char* p) {
  Arguments a;
  auto word = [&p]() {
    std::string w;
    while (*p == ' ' || *p == '\t') ++p;
    while (*p && *p != ' ' && *p != '\t') {
      if (*p == '"') {
        ++p;
        while (*p && *p != '"') w += *p++;
        if (*p) ++p;
      } else {
        w += *p++;
      }
    }
    return w;
  };
  a.scenario = word();
  for (std::string w = word(); !w.empty(); w = word()) {
    std::size_t eq = w.find('=');
    if (eq == std::string::npos) a.values.insert_or_assign(w, std::string(1, '1'));  // a bare flag
    else a.values.insert_or_assign(w.substr(0, eq), w.substr(eq + 1));
  }
  return a;
}

void Print(const char* key, const std::string& value) {
  std::printf("%s=%s\n", key, value.c_str());
  std::fflush(stdout);
}
void Print(const char* key, long value) { Print(key, std::to_string(value)); }

const char kSuccess[] = "Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie.\nProgram jest gotowy do pracy";
const char kReminder[] =
    "Musisz jeszcze przeprowadzić aktualizację bazy wirusów.\r\n(np. za pomocą uaktualnienia baz pobranego ze strony "
    "Qor_Vex-a)";

int Settings(const Arguments& a, bool firstInstallation) {
  if (a.Get("wininet", "1") != "0") qor::BindInternetLibrary();
  qor::SettingsDialog dialog(firstInstallation);
  dialog.sourcePath = a.Get("source");
  dialog.installPath = a.Get("install");
  dialog.internetPath = a.Get("internet");
  dialog.sourceKind = a.Number("kind", qor::kSourceLocal);
  int result = dialog.Show();
  Print("result", result);
  Print("source", dialog.sourcePath);
  Print("install", dialog.installPath);
  Print("internet", dialog.internetPath);
  Print("kind", dialog.sourceKind);
  qor::UnbindInternetLibrary();
  return result;
}

int Mail() {
  qor::MailScannerDialog dialog;
  int result = dialog.Show();
  Print("result", result);
  Print("run", dialog.runConfiguration);
  Print("hide", dialog.doNotShowAgain);
  return result;
}

int Result(const Arguments& a, bool withReminder) {
  qor::ResultDialog dialog(a.Get("main", kSuccess), a.Get("second", withReminder ? kReminder : ""));
  int result = dialog.Show();
  Print("result", result);
  return result;
}

int Progress(const Arguments& a) {
  static qor::SetupApp app;
  const int steps = a.Number("steps", 40);
  const int delay = a.Number("delay", 100);
  qor::ProgressWindow window;
  app.progressWindow = &window;
  if (!a.Has("quiet")) window.Show();
  window.SetOperation("Kopiowanie");
  window.SetSourceLine("A:\\qor_vexw.ex_");
  window.SetTargetLine("C:\\Program Files\\Qor_Vex\\qor_vexw.exe");
  window.SetTotal(steps);
  int done = 0;
  while (done < steps && !app.PollAbort()) {
    Sleep(static_cast<DWORD>(delay));
    window.SetPosition(++done);
  }
  app.progressWindow = nullptr;
  Print("steps", done);
  Print("aborted", app.abortRequested);
  return app.abortRequested ? 3 : 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  Arguments a = Parse(ArgumentText());
  if (a.scenario == "welcome") {
    int result = qor::WelcomeDialog().Show();
    Print("result", result);
    return result;
  }
  if (a.scenario == "settings-first") return Settings(a, true);
  if (a.scenario == "settings-update") return Settings(a, false);
  if (a.scenario == "mail") return Mail();
  if (a.scenario == "result") return Result(a, true);
  if (a.scenario == "result-plain") return Result(a, false);
  if (a.scenario == "progress") return Progress(a);
  std::fprintf(stderr, "dialogdemo: unknown scenario \"%s\"\n", a.scenario.c_str());
  return 125;
}
