// Start-up of the program: where it lies, its defaults, its command line, and
// the order in which one run reads the record, runs the session and reports.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/command_line.h"
#include "app/messages.h"
#include "app/setup_app.h"
#include "companions/monitor_start.h"
#include "install/file_checksum.h"
#include "source/internet.h"
#include "system/installation_record.h"
#include "uninstall/uninstall.h"

namespace qor {
namespace {

// What the command line does outside the run's settings, on Windows.
class Win32CommandLinePlatform : public CommandLinePlatform {
 public:
  explicit Win32CommandLinePlatform(SetupApp& app) : app_(app) {}

  void CopyProcessFile(bool havePid, std::uint32_t pid, const std::string& from, const std::string& to) override {
    // The caller is the setup program that handed the run over to us; it
    // ends right after starting us, and its file can be replaced once it has.
    if (havePid) {
      HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
      if (process) {
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
      }
    }
    CopyFileA(from.c_str(), to.c_str(), FALSE);
  }

  bool IsFixedDrive(const std::string& root) override { return GetDriveTypeA(root.c_str()) == DRIVE_FIXED; }

  void ShowChecksumReport(const std::string& fileName) override {
    // The name comes from the command line and may be of any length: the
    // texts are put together around it rather than in a fixed buffer.
    std::uint32_t checksum = 0;
    std::int32_t size = 0;
    if (FileChecksum(fileName.c_str(), checksum, size)) {
      char numbers[64];
      std::snprintf(numbers, sizeof numbers, "\nFileSize: %d\nChecksum: 0x%0X", static_cast<int>(size),
                    static_cast<unsigned>(checksum));
      ShowMessage("FileName: " + fileName + numbers, MB_OK | MB_ICONINFORMATION);
    } else {
      ShowMessage("Nie można odczytać pliku: " + fileName + "\n", MB_OK | MB_ICONEXCLAMATION);
    }
  }

  void RunUninstall() override { qor::Uninstall(app_); }

 private:
  SetupApp& app_;
};

}  // namespace

int SetupApp::ParseCommandLine() {
  Win32CommandLinePlatform platform(*this);
  return ScanCommandLine(*this, SkipProgramName(GetCommandLineA()), platform);
}

int SetupApp::RunApplication() {
  // The 3-D look for dialog controls comes with the common controls.
  InitCommonControls();

  char path[kMaxPath] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  modulePath.assign(path, n < sizeof path ? n : sizeof path - 1);
  moduleDir = ModuleDirOf(modulePath);

  buildMode = runMailConf = offerMailConf = packMode = quietMode = false;
  sourceKind = kSourceUnknown;
  monitorStart = -1;
  sourcePath.clear();
  installPath.clear();
  sourceIsInstalled = false;

  if (!ParseCommandLine()) return exitCode;

  if (monitorStart != -1) WriteMonitorStartMode(monitorStart - 1);
  bool authoring = buildMode || packMode;
  if (!authoring) ReadInstallationRecord(*this);
  BindInternetLibrary();
  int result = RunSession();
  UnbindInternetLibrary();
  if (!authoring) WriteInstallationRecord(*this, result);
  ReportOutcome(result);
  return exitCode;
}

}  // namespace qor
