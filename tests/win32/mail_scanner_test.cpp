// The mail scanner as the installer sees it: its two mutexes, the commands
// and configuration uses started from a folder (record_start.exe copied in as
// "Qor_Mail.Exe" and "MailConf.Exe" records each start), the messages of a
// missing program and of one that does not start, the process handle given
// back at once, and the per-user prompt setting.
#include <windows.h>

#include <string>
#include <vector>

#include "app/setup_app.h"
#include "check.h"
#include "companions/mail_scanner.h"
#include "registry_probe.h"
#include "temp_dir.h"
#include "window_driver.h"

#ifndef QOR_STANDINS_DIR
#error "QOR_STANDINS_DIR names the folder of the stand-in programs"
#endif

namespace {

using namespace qor;

const char kSetupKey[] = "Software\\Qor\\Qor_Vex\\Setup";  // under HKEY_CURRENT_USER

// Every message box shown while it lives, answered with OK.
class BoxCatcher {
 public:
  BoxCatcher()
      : driver_([this](HWND box) {
          texts_.push_back(qortest::WindowText(box, 0xFFFF));
          icons_.push_back(HasIcon(box) ? "icon" : "none");
          return IDOK;
        }) {}
  std::vector<std::string> Texts() {
    Settle();
    return texts_;
  }
  std::vector<std::string> Icons() {
    Settle();
    return icons_;
  }

 private:
  // The driver sees a box within its 20 ms poll; a box is modal, so by the
  // time the call returned it was answered.
  static void Settle() { Sleep(60); }
  // Whether the box's icon control (Wine keeps one, empty, in a box without
  // icon) holds an icon.
  static bool HasIcon(HWND box) {
    bool found = false;
    EnumChildWindows(box, &BoxCatcher::FindIcon, reinterpret_cast<LPARAM>(&found));
    return found;
  }
  static BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        SendMessageA(child, STM_GETICON, 0, 0))
      *reinterpret_cast<bool*>(found) = true;
    return TRUE;
  }
  std::vector<std::string> texts_, icons_;
  qortest::WindowDriver driver_;
};

// The log a record_start copy writes, once it has appeared (the companion is
// not waited for), or "" after 10 s.
std::string AwaitLog(const std::string& program, std::size_t lines = 1) {
  std::string log;
  for (int i = 0; i < 500; ++i) {
    log = qortest::TempDir::Read(program + ".log");
    std::size_t n = 0;
    for (char c : log) n += c == '\n';
    if (n >= 2 * lines) return log;  // record_start writes two lines per start
    Sleep(20);
  }
  return log;
}

bool PlaceRecorder(const std::string& path) {
  return CopyFileA((std::string(QOR_STANDINS_DIR) + "record_start.exe").c_str(), path.c_str(), FALSE) != 0;
}

// Handles of this process that refer to other processes: a started companion
// whose handle was kept shows up here.
int ForeignProcessHandles() {
  using GetProcessIdFn = DWORD(WINAPI*)(HANDLE);
  auto getProcessId =
      reinterpret_cast<GetProcessIdFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessId")));
  if (!getProcessId) return -1;
  int n = 0;
  for (UINT_PTR value = 4; value < 0x4000; value += 4) {
    DWORD id = getProcessId(reinterpret_cast<HANDLE>(value));
    if (id && id != GetCurrentProcessId()) ++n;
  }
  return n;
}

TEST_CASE(MailScannerIsFoundByEachOfItsMutexes) {
  struct Row {
    bool execution, activity;
  } rows[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const Row& row : rows) {
    HANDLE execution = row.execution ? CreateMutexA(nullptr, TRUE, kScannerExecutionMutex) : nullptr;
    HANDLE activity = row.activity ? CreateMutexA(nullptr, TRUE, kScannerActivityMutex) : nullptr;
    SetupApp app;
    DetectMailScanner(app);
    CHECK_EQ(app.mailScannerRunning, row.execution) << "execution mutex " << row.execution;
    CHECK_EQ(app.mailScannerActive, row.activity) << "activity mutex " << row.activity;
    if (execution) CloseHandle(execution);
    if (activity) CloseHandle(activity);
  }
  // A mutex that is not there leaves a flag set earlier as it was.
  SetupApp app;
  app.mailScannerRunning = app.mailScannerActive = true;
  DetectMailScanner(app);
  CHECK(app.mailScannerRunning);
  CHECK(app.mailScannerActive);
}

TEST_CASE(MailScannerIsSentEachCommandAsItsOnlyParameter) {
  qortest::TempDir folder;
  const std::string program = folder / "Qor_Mail.Exe";
  REQUIRE(PlaceRecorder(program));
  BoxCatcher boxes;
  struct Row {
    MailScannerCommand command;
    const char* parameter;
  } rows[] = {{MailScannerCommand::Abort, "/abort"},
              {MailScannerCommand::Start, "/start"},
              {MailScannerCommand::Stop, "/stop"}};
  std::size_t starts = 0;
  for (const Row& row : rows) {
    CHECK_EQ(SendMailScannerCommand(folder.path(), row.command), 1) << row.parameter;
    std::string log = AwaitLog(program, ++starts);
    std::string expected = std::string("\"") + program + "\" " + row.parameter + "\n";
    CHECK(log.find(expected) != std::string::npos) << "log " << log << " lacks " << expected;
  }
  CHECK_EQ(boxes.Texts().size(), 0u);
}

TEST_CASE(MailConfigurationIsStartedWithItsTwoParameterSets) {
  qortest::TempDir folder;
  const std::string program = folder / "MailConf.Exe";
  REQUIRE(PlaceRecorder(program));
  BoxCatcher boxes;
  CHECK_EQ(RunMailConfiguration(folder.path()), 1);
  std::string log = AwaitLog(program, 1);
  CHECK(log.find("\" /protect_all /autostart_on\n") != std::string::npos) << log;
  CHECK_EQ(RemoveMailConfiguration(folder.path()), 1);
  log = AwaitLog(program, 2);
  CHECK(log.find("\" /unprotect_all /autostart_off /no_interactive\n") != std::string::npos) << log;
  CHECK_EQ(boxes.Texts().size(), 0u);
}

TEST_CASE(MissingCompanionIsSilentExceptForTheConfigurationAskedFor) {
  qortest::TempDir folder;  // empty
  BoxCatcher boxes;
  CHECK_EQ(SendMailScannerCommand(folder.path(), MailScannerCommand::Abort), 0);
  CHECK_EQ(RemoveMailConfiguration(folder.path()), 0);
  CHECK_EQ(boxes.Texts().size(), 0u) << "no message for the scanner or the uninstall's configuration";
  CHECK_EQ(RunMailConfiguration(folder.path()), 0);
  std::vector<std::string> texts = boxes.Texts();
  REQUIRE_EQ(texts.size(), 1u);
  CHECK_EQ(texts[0], std::string("Nie znaleziono pliku MailConf.Exe"));
  // A folder of that name is no program either.
  CreateDirectoryA((folder / "Qor_Mail.Exe").c_str(), nullptr);
  CHECK_EQ(SendMailScannerCommand(folder.path(), MailScannerCommand::Start), 0);
}

TEST_CASE(CompanionThatDoesNotStartGetsItsOwnMessage) {
  // Files that open for reading but are no programs: the shell may say so in a
  // box of its own first; the operation's text comes last, with no icon.
  qortest::TempDir folder;
  REQUIRE(folder.Write("Qor_Mail.Exe", "not a program"));
  REQUIRE(folder.Write("MailConf.Exe", "not a program"));
  struct Row {
    const char* name;
    int (*start)(const std::string&);
    const char* text;
  } rows[] = {
      {"scanner", [](const std::string& f) { return SendMailScannerCommand(f, MailScannerCommand::Start); },
       "Nie można uruchomić Qor_Mail.Exe."},
      {"configuration", RunMailConfiguration, "Nie można uruchomić MailConf.Exe"},
      {"removal", RemoveMailConfiguration,
       "Nie można uruchomić MailConf.Exe. Automatyczne usunięcie kontroli poczty nie powiodło się. Musisz "
       "samodzielnie przywrócić poprzednie ustawienia."},
  };
  for (const Row& row : rows) {
    BoxCatcher boxes;
    CHECK_EQ(row.start(folder.path()), 0) << row.name;
    std::vector<std::string> texts = boxes.Texts();
    std::vector<std::string> icons = boxes.Icons();
    REQUIRE(!texts.empty()) << row.name;
    CHECK_EQ(texts.back(), std::string(row.text)) << row.name;
    CHECK_EQ(icons.back(), std::string("none")) << row.name;
  }
}

TEST_CASE(StartedCompanionLeavesNoProcessHandleBehind) {
  qortest::TempDir folder;
  const std::string program = folder / "Qor_Mail.Exe";
  REQUIRE(PlaceRecorder(program));
  int before = ForeignProcessHandles();
  REQUIRE(before >= 0) << "GetProcessId is missing";
  for (int i = 1; i <= 3; ++i) {
    REQUIRE_EQ(SendMailScannerCommand(folder.path(), MailScannerCommand::Stop), 1);
    AwaitLog(program, static_cast<std::size_t>(i));
  }
  CHECK_EQ(ForeignProcessHandles(), before);
}

TEST_CASE(MailConfPromptSettingIsReadPerUser) {
  // Each row: what the per-user key holds, the flag before, the flag after and
  // the result.
  enum Holds { kNoKey, kNoValue, kDword, kText };
  struct Row {
    const char* note;
    Holds holds;
    DWORD dword;
    bool before, after;
    int result;
  } rows[] = {
      {"no key, flag off", kNoKey, 0, false, false, 0},
      {"no key, flag on", kNoKey, 0, true, true, 0},
      {"key without the value", kNoValue, 0, false, true, 1},
      {"DWORD 0", kDword, 0, true, false, 1},
      {"DWORD 1", kDword, 1, false, true, 1},
      {"DWORD 7", kDword, 7, false, true, 1},
      {"REG_SZ \"0\"", kText, 0, false, true, 1},
  };
  for (const Row& row : rows) {
    regprobe::RemoveTree(HKEY_CURRENT_USER, kSetupKey);
    if (row.holds == kNoValue) regprobe::CreateKey(HKEY_CURRENT_USER, kSetupKey);
    if (row.holds == kDword) regprobe::SetDword(HKEY_CURRENT_USER, kSetupKey, kMailConfPromptValue, row.dword);
    if (row.holds == kText) regprobe::SetString(HKEY_CURRENT_USER, kSetupKey, kMailConfPromptValue, "0");
    SetupApp app;
    app.offerMailConf = row.before;
    CHECK_EQ(ReadMailConfPromptSetting(app), row.result) << row.note;
    CHECK_EQ(app.offerMailConf, row.after) << row.note;
  }
  regprobe::RemoveTree(HKEY_CURRENT_USER, kSetupKey);
}

TEST_CASE(MailConfPromptSettingIsWrittenAsDword) {
  regprobe::RemoveTree(HKEY_CURRENT_USER, kSetupKey);
  CHECK_EQ(WriteMailConfPromptSetting(0), 1);  // creates the key
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, kSetupKey, kMailConfPromptValue), regprobe::DwordValue(0));
  CHECK_EQ(WriteMailConfPromptSetting(1), 1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, kSetupKey, kMailConfPromptValue), regprobe::DwordValue(1));
  regprobe::RemoveTree(HKEY_CURRENT_USER, kSetupKey);
}

}  // namespace
