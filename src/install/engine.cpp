#include "install/engine.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "app/messages.h"
#include "app/progress.h"
#include "app/setup_app.h"
#include "install/install_file.h"
#include "install/package_builder.h"
#include "install/restart_replace.h"
#include "source/source_files.h"
#include "system/installation_record.h"
#include "system/registry.h"
#include "system/registry_names.h"
#include "system/script_sections.h"

namespace qor {
namespace {

const char kBadScript[] = "Niewłaściwy format pliku setup.dat lub\nniewłaściwa wersja programu instalacyjnego";

// The owner of what the engine loads: the script, the file table and the
// product keys are freed when it goes, on every path of every mode.
class LoadedScript {
 public:
  explicit LoadedScript(SetupApp& app) : app_(app) {}
  ~LoadedScript() {
    app_.fileTable.FreeFileTable();
    app_.productKeys.Free();
    FreeScript(app_);
  }
  LoadedScript(const LoadedScript&) = delete;
  LoadedScript& operator=(const LoadedScript&) = delete;

 private:
  SetupApp& app_;
};

// Refuses the script: shows why (unless the caller already did) and marks the
// session failed.
bool Reject(SetupApp& app, bool showMessage) {
  if (showMessage) ShowMessage(kBadScript, MB_OK | MB_ICONEXCLAMATION);
  app.failureKind = kFailureFailed;
  return false;
}

void WriteNotifyNewVer() {
  RegKey key;
  if (OpenOrCreateKey(kOptionsKeyPath, key)) WriteDwordValue(key.get(), kNotifyNewVerValue, 1);
}

// Runs work under a fresh progress window (shown unless quiet) and takes it
// down again, whatever the outcome.
template <typename Work>
bool UnderProgressWindow(SetupApp& app, Work work) {
  ProgressWindowOwner window(app);
  app.abortRequested = false;
  return work();
}

bool ContainsWin95(const std::string& platform) { return platform.find("Win95") != std::string::npos; }

}  // namespace

bool LoadScript(SetupApp& app, bool resolve) {
  std::string path = app.buildMode ? app.buildScript : SourceFilePath(app, "setup.dat");
  int handle = OpenSourceFile(app, path, SourceReading::kAsStored, 0, nullptr);
  if (handle == -1) return false;
  std::string bytes;
  char buffer[1024];
  while (std::uint32_t n = ReadSourceFile(app, handle, buffer, sizeof buffer)) bytes.append(buffer, n);
  CloseSourceFile(app, handle);
  ScriptLoadOptions options;
  options.resolve = resolve;
  options.buildMode = app.buildMode;
  options.keepFile = app.packMode;
  options.definedNames = app.definedNames;
  return app.script.Load(std::move(bytes), options);
}

bool SaveScript(SetupApp& app, const std::string& path) {
  if (app.script.SaveScriptFile(path)) return true;
  ShowMessage("Nie można utworzyć setup.dat", MB_OK);
  return false;
}

void FreeScript(SetupApp& app) { app.script.Free(); }

bool InstallSteps(SetupApp& app) {
  if (app.PollAbort()) return false;
  // Only the setup program's own step may end the run for a hand-over, and
  // only with the program to hand over to; any other false is a failure,
  // whatever the step left in failureKind. (A cancel is turned into the
  // aborted outcome by the session afterwards.)
  bool ok = UpdateSetupProgram(app);
  if (!ok && !app.relaunchProgram.empty() && app.failureKind == kFailureNone) return false;
  ok = ok && ApplyRegistryScript(app) && InstallAllFiles(app);
  if (!ok) {
    app.relaunchProgram.clear();
    app.failureKind = kFailureFailed;
  }
  return ok;
}

namespace {

// /build: one section's sizes and checksums refreshed, the script saved.
bool RunBuildMode(SetupApp& app) {
  bool ok = RebuildSection(app);
  if (!ok) {
    ShowMessage("Nie można uaktualnić projektu", MB_OK);
  } else {
    ok = SaveScript(app, app.buildScript);
  }
  if (!ok) app.failureKind = kFailureFailed;
  return ok;
}

// The file table, which both the package and the installation are made from.
bool LoadFiles(SetupApp& app) {
  app.fileTable.SetInstallPath(app.installPath);
  app.fileTable.SetSourceIsInstalled(app.sourceIsInstalled);
  bool haveFiles = app.fileTable.LoadFileTable(app.script);
  app.mainProgramListed = app.fileTable.MainProgramListed();
  app.virusBaseListed = app.fileTable.VirusBaseListed();
  return haveFiles;
}

// /pack: the package written under the progress window.
bool RunPackMode(SetupApp& app) {
  return UnderProgressWindow(app, [&] { return BuildPackage(app); });
}

// An installation or an update: the script checked against the product and
// the existing installation, then the steps under the progress window.
bool RunInstallMode(SetupApp& app) {
  if (!app.productKeys.LoadProductKeys(app.script) ||
      !EqualsNoCase(app.productKeys.ProductValue("Name"), "Qor_Vex"))
    return Reject(app, true);
  if (!ContainsWin95(app.productKeys.ProductValue("Platform"))) {
    ShowMessage("Ten produkt nie jest przeznaczony do pracy\nna platformie Windows 95.", MB_OK | MB_ICONEXCLAMATION);
    return Reject(app, false);
  }
  bool installedCopy = app.sourceKind == kSourceLocal && app.sourceIsInstalled;
  if (app.firstInstall && !installedCopy && EqualsNoCase(app.productKeys.ProductValue("Package"), "Update")) {
    ShowMessage(
        "Ten program instalacyjny służy wyłącznie\ndo aktualizowania instalacji.\nPrzed uaktualnieniem zainstaluj "
        "program\nz dyskietek instalacyjnych",
        MB_OK | MB_ICONINFORMATION);
    return Reject(app, false);
  }

  if (!app.quietMode && !app.firstInstall) {
    int outdated = app.fileTable.CountOutdated([&] { return app.PollAbort(); });
    if (outdated == -1) return false;
    if (outdated == 0 &&
        ShowMessage("Masz aktualne wszystkie pliki programu.\nCzy chcesz mimo tego uaktualnić instalację?",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
      return true;
  }

  BeginUpdateMarker();
  app.firstInstall = false;

  bool result;
  if (!CreateInstallDirectory(app)) {
    app.failureKind = kFailureFailed;
    result = false;
  } else {
    RemoveRecordedShortcuts(app);
    RemoveRecordedRegistryEntries(app);
    result = UnderProgressWindow(app, [&] { return InstallSteps(app); });
    WriteNotifyNewVer();
  }

  EndUpdateMarker();
  if (result) {
    result = ApplyShortcutScript(app) != 0;
    if (!result) app.failureKind = kFailureFailed;
  }
  return result;
}

}  // namespace

bool RunInstallEngine(SetupApp& app, bool build) {
  if (!LoadScript(app, !build)) {
    ShowMessage("Nie można odczytać pliku setup.dat", MB_OK | MB_ICONEXCLAMATION);
    app.failureKind = kFailureFailed;
    return false;
  }
  LoadedScript loaded(app);
  if (build) return RunBuildMode(app);
  if (!LoadFiles(app)) return Reject(app, true);
  if (app.packMode) return RunPackMode(app);
  return RunInstallMode(app);
}

}  // namespace qor
