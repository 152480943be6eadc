// One installation session: the dialogs the run mode allows, the source
// opened around the engine, the mail scanner paused and resumed, and the final
// report with its exit code.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "app/dialogs.h"
#include "app/messages.h"
#include "app/setup_app.h"
#include "companions/mail_scanner.h"
#include "install/engine.h"
#include "source/source_files.h"
#include "system/engine_library.h"
#include "system/registry.h"
#include "system/registry_names.h"

namespace qor {

bool RecordEngineDate(const std::string& installFolder);
void LaunchUpdateComponent();

namespace {

const char kSuccess[] = "Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie.\nProgram jest gotowy do pracy";
const char kSuccessRestart[] =
    "Instalacja programu Qor_Vex\nzostała przeprowadzona pomyślnie.\nProgram jest gotowy do pracy\nWykonaj restart "
    "systemu aby dokończyć\nzaległe operacje";
const char kVirusBaseReminder[] =
    "Musisz jeszcze przeprowadzić aktualizację bazy wirusów.\r\n(np. za pomocą uaktualnienia baz pobranego ze strony "
    "Qor_Vex-a)";
const char kFailed[] =
    "Nie można było przeprowadzić instalacji.\nMożesz w każdej chwili powtórzyć próbę\nzainstalowania programu.";
const char kAborted[] = "Instalowanie programu zostało przerwane.";

}  // namespace

int SetupApp::RunSession() {
  DetectMailScanner(*this);
  if (mailScannerRunning) SendMailScannerCommand(installPath, MailScannerCommand::Abort);
  ReadMailConfPromptSetting(*this);

  if (!buildMode && !packMode && !quietMode) {
    // A cancel of either dialog restores the scanner alike.
    if (firstInstall && WelcomeDialog().Show() != kDialogContinue) {
      failureKind = kFailureAborted;
      SendMailScannerCommand(installPath, MailScannerCommand::Start);
      return 0;
    }
    if (!skipSettings) {
      SettingsDialog fields(firstInstall);
      fields.sourcePath = sourcePath;
      fields.internetPath = internetPath;
      fields.sourceKind = sourceKind;
      fields.installPath = installPath;
      if (fields.Show() != kDialogContinue) {
        failureKind = kFailureAborted;
        SendMailScannerCommand(installPath, MailScannerCommand::Start);
        return 0;
      }
      sourcePath = fields.sourcePath;
      internetPath = fields.internetPath;
      sourceKind = fields.sourceKind;
      installPath = fields.installPath;
    }
    if (!mailScannerRunning && offerMailConf) {
      MailScannerDialog choice;  // both boxes cleared
      choice.Show();
      runMailConf = choice.runConfiguration;
      WriteMailConfPromptSetting(choice.doNotShowAgain ? 0 : 1);
    }
  }

  abortRequested = false;
  OpenSource(*this);
  int result = RunInstallEngine(*this, buildMode) ? 1 : 0;
  CloseSource(*this);
  if (abortRequested) failureKind = kFailureAborted;

  if (mailScannerRunning)
    SendMailScannerCommand(installPath, mailScannerActive ? MailScannerCommand::Start : MailScannerCommand::Stop);
  else if (offerMailConf)
    SendMailScannerCommand(installPath, MailScannerCommand::Start);
  RecordEngineDate(installPath);
  return result;
}

void SetupApp::ReportOutcome(int result) {
  if (result) {
    exitCode = 0;
    const char* reminder = (mainProgramListed && !virusBaseListed) ? kVirusBaseReminder : "";
    if (restartNeeded)
      ResultDialog(kSuccessRestart, reminder).Show();
    else if (!buildMode && !packMode && !quietMode)
      ResultDialog(kSuccess, reminder).Show();
    if (!buildMode && !packMode) LaunchUpdateComponent();
  } else if (failureKind == kFailureNone && !relaunchProgram.empty()) {
    std::string commandLine = "setup  " + relaunchArguments;
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(relaunchProgram.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      exitCode = 0;
    } else {
      char text[1024];
      std::snprintf(text, sizeof text,
                    "Nie można uruchomić programu:\n%s\nUruchom program ponownie,\nlub powtórz instalowanie programu.",
                    relaunchProgram.c_str());
      ShowMessage(text, MB_OK | MB_ICONEXCLAMATION);
      exitCode = 1;
    }
  } else if (failureKind == kFailureAborted) {
    ShowMessage(kAborted, MB_OK | MB_ICONEXCLAMATION);
    exitCode = 3;
  } else {
    // Failed, or a failure that named no program to hand over to: nothing
    // is started in its place.
    ShowMessage(kFailed, MB_OK | MB_ICONEXCLAMATION);
    exitCode = 2;
  }
  if (exitCode == 0 && runMailConf) RunMailConfiguration(installPath);
}

bool RecordEngineDate(const std::string& installFolder) {
  {
    RegKey key;
    std::string stored;
    if (OpenKeyForRead(kUpdateComponentKeyPath, key) &&
        ReadStringValue(key.get(), kLastInstalledVersionValue, stored) && stored.size() >= 8)
      return true;
  }
  const EngineLibrary library(installFolder + "\\" + kEngineLibraryName);
  CalendarDate date{0, 0, 0};
  if (!library.QueryDate(kEngineDateEntry, date)) return false;
  RegKey key;
  if (OpenOrCreateKey(kUpdateComponentKeyPath, key)) {
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d", static_cast<int>(date.year), static_cast<int>(date.month),
                  static_cast<int>(date.day));
    WriteStringValue(key.get(), kLastInstalledVersionValue, text);
  }
  return true;
}

void LaunchUpdateComponent() {
  {
    RegKey key;
    std::string value;
    if (OpenKeyForRead(kMakerKeyPath, key) && ReadValueText(key.get(), kUpdateComponentValue, value))
      return;
  }
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "open";
  info.lpFile = "\\install\\qor_update\\qor_update.exe";
  info.lpParameters = "";
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteExA(&info);
}

}  // namespace qor
