// The application object: everything one run of the setup program knows.
//
// One SetupApp exists for the whole process. Its fields are set, in order, by
// the constructor, the start of RunApplication, the command line, the
// installation record, the settings dialog and the installation engine. The
// header stays free of <windows.h> so that portable code and native tests can
// use the plain settings; the operations that need Windows are defined in the
// Win32 part of the program.
#pragma once

#include <cstdint>
#include <string>

#include "script/file_table.h"
#include "script/script_text.h"
#include "source/source_files.h"

namespace qor {

class ProgressWindow;

// Where installation files come from; stored in the record as LocalRemote.
enum SourceKind : int { kSourceUnknown = -1, kSourceLocal = 0, kSourceInternet = 1, kSourceNetwork = 2 };

// Why a session returned failure.
enum FailureKind : int { kFailureNone = 0, kFailureFailed = 1, kFailureAborted = 2 };

// Paths, like every Windows path of the program, hold at most 259 bytes.
constexpr std::size_t kMaxPath = 260;

class SetupApp {
 public:
  // --- The run's own fields, in their documented order, with start values.
  bool virusBaseListed = false;    // the file table lists qorbase.dat
  bool mainProgramListed = false;  // the file table lists qor_vexw.exe
  // Names given with /def=: each NUL-terminated, the block ended by one more
  // NUL. Empty (no bytes at all) until the first name arrives.
  std::string definedNames;
  bool sourceIsInstalled = false;  // /srcinst=: the source holds installed names
  int exitCode = 0;
  bool firstInstall = false;
  std::string modulePath;  // full path of the running program
  bool noAutostart = false;
  bool abortRequested = false;  // the user confirmed the abort question
  bool skipSettings = false;
  ProgressWindow* progressWindow = nullptr;  // while the engine runs; owned by a ProgressWindowOwner
  std::string installPath;
  std::string sourcePath;
  std::string internetPath;
  int sourceKind = kSourceUnknown;
  int monitorStart = -1;  // digit of /monitor_start= (1..3), -1 when absent
  std::string moduleDir;  // folder of the running program, ends in a backslash

  // --- Process-wide settings (one copy each, read by several subsystems).
  bool quietMode = false;
  bool buildMode = false;
  bool packMode = false;
  bool internetPackage = false;  // /pack2: write an internet package
  std::string packOutput;
  std::string buildScript;
  std::string buildSection;
  bool noUninstallPop3 = false;
  int failureKind = kFailureNone;
  std::string relaunchProgram;
  std::string relaunchArguments;
  bool restartNeeded = false;
  bool mailScannerRunning = false;
  bool mailScannerActive = false;
  bool offerMailConf = false;
  bool runMailConf = false;

  // --- Source, script and tables of the run.
  SourceState source;        // between OpenSource and CloseSource
  ScriptText script;         // from LoadScript to FreeScript
  FileTable fileTable;       // "[FILES]"
  ProductKeys productKeys;   // "[PRODUCT]"
  int packageFile = -1;      // the package being written by /pack

  // --- Operations (Win32 part of the program).
  int RunApplication();
  int ParseCommandLine();
  bool PollAbort();
  int RunSession();
  void ReportOutcome(int result);
};

// The folder of a program path: everything up to its last backslash, always
// ending in one (a path without any backslash gives a single backslash).
std::string ModuleDirOf(const std::string& modulePath);

// True when "setup.dat" in folder can be opened for reading. A backslash is
// put between folder and name when the folder is non-empty and does not end in
// one; a combined path that does not fit in 260 bytes counts as absent.
bool HasSetupScript(const std::string& folder);

}  // namespace qor
