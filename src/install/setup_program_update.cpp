// Keeping the installed setup program current, and handing the run over to a
// copy of it when the running program is not the one the script names.
//
// Record 0 of the file table is the setup program. Three programs may be
// involved: the running one, the installed one ("SetupProgram" in the install
// folder) and the script's (record 0's size and checksum, its stored file in
// the source). When the running program is the installed copy and is
// outdated, it cannot overwrite itself: the script's copy is installed as
// "Setup2.exe" and started with /copy_process_file, waits for this process to
// end, copies itself over the installed program and carries on the run.
//
// A record written 0/0x0 (not measured) matches no file, so it cannot tell
// the three apart: such a run neither hands over nor starts the installed
// copy, which would otherwise hand the run back and forth for ever.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/messages.h"
#include "app/setup_app.h"
#include "install/install_file.h"
#include "install/restart_replace.h"
#include "script/file_table.h"

namespace qor {
namespace {

const char kInstalledCopyNotice[] =
    "Zostanie uruchomiony program instalacyjny\nz katalogu instalacyjnego programu Qor_Vex";
const char kSetupProgramRole[] = "SetupProgram";
const char kHandOverName[] = "Setup2.exe";

// Paths compare without regard to letter case, Polish letters included.
bool SamePath(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// Ends this run in favour of program: the session starts it with arguments
// and the switches that shaped this run.
bool HandOver(SetupApp& app, const std::string& program, const std::string& arguments) {
  app.failureKind = kFailureNone;
  app.relaunchProgram = program;
  const std::string forwarded = ForwardedSwitches(app);
  app.relaunchArguments = arguments.empty() ? forwarded.substr(forwarded.empty() ? 0 : 1) : arguments + forwarded;
  return false;
}

// The installed copy is to carry on the run: the user is told, then it starts.
bool StartInstalledCopy(SetupApp& app, const std::string& installed, const char* arguments) {
  ShowMessage(kInstalledCopyNotice, MB_OK | MB_ICONINFORMATION);
  return HandOver(app, installed, arguments);
}

// InstallFile of a record whose stored file the source holds under
// sourceName. A source of installed names (/srcinst=) keeps the setup program
// under its installed name, which the hand-over's new name must not replace
// there.
bool InstallFileFrom(SetupApp& app, FileRecord& record, const std::string& sourceName) {
  FileTable& table = app.fileTable;
  if (table.SourceNameOf(record) == sourceName) return InstallFile(app, record);
  const std::string storedName = record.compressedName;
  record.compressedName = sourceName;
  table.SetSourceIsInstalled(false);
  const bool ok = InstallFile(app, record);
  table.SetSourceIsInstalled(true);
  record.compressedName = storedName;
  return ok;
}

}  // namespace

bool UpdateSetupProgram(SetupApp& app) {
  if (app.sourceKind == kSourceNetwork) return true;
  FileTable& table = app.fileTable;
  std::string installed;
  if (table.Records().empty() || !table.RolePath(kSetupProgramRole, installed)) return true;
  const bool runningInstalled = SamePath(app.modulePath, installed);
  FileRecord& setup = table.Records()[0];
  const bool fromPackage = app.sourceKind == kSourceLocal && app.source.packagePresent;
  const bool measured = setup.size != 0;

  if (table.IsUpToDate(setup)) {
    if (fromPackage) return true;
    if (FileTable::FileMatches(app.modulePath, setup)) return true;
    // The installed copy is the script's, the running one is not.
    return StartInstalledCopy(app, installed, "");
  }

  if (runningInstalled) {
    if (!measured) return true;
    // The script's copy goes beside this one, replaces it at the next restart
    // in any case, and takes the run over now.
    const std::string target = installed;
    const std::string sourceName = table.SourceNameOf(setup);
    setup.installedName = kHandOverName;
    if (!InstallFileFrom(app, setup, sourceName)) return false;
    const std::string setup2 = table.InstalledPath(setup);
    ReplaceAtRestart(app, setup2.c_str(), target.c_str());
    char id[16];
    std::snprintf(id, sizeof id, "%lxd", static_cast<unsigned long>(GetCurrentProcessId()));
    return HandOver(app, setup2, "/copy_process_file," + std::string(id) + ",\"" + setup2 + "\",\"" + target + "\"");
  }

  if (fromPackage) return InstallFile(app, setup);
  const std::string target = table.InstalledPath(setup);
  if (FileTable::FileMatches(app.modulePath, setup)) {
    if (CopyFileA(app.modulePath.c_str(), target.c_str(), FALSE)) return true;
    return InstallFile(app, setup);
  }
  // The running program is another version than the script's: the script's
  // is installed and carries on the run.
  if (!InstallFile(app, setup)) return false;
  if (!measured) return true;
  return StartInstalledCopy(app, installed, "/skipsettings");
}

}  // namespace qor
