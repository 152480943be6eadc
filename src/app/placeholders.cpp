// Operations whose subsystems are not in the program yet. Each does nothing
// and claims no success; its subsystem replaces it here when it lands.
#include <windows.h>

#include "app/messages.h"
#include "app/pending.h"

namespace qor {

int ReadInstallationRecord(SetupApp&) { return 0; }
void WriteInstallationRecord(SetupApp&, int) {}
void WriteMonitorStartMode(int) {}
void BindInternetLibrary() {}
void UnbindInternetLibrary() {}
void RunUninstall(SetupApp&) {}

int SetupApp::RunSession() {
  failureKind = kFailureFailed;  // no installation engine yet: the session cannot succeed
  return 0;
}

void SetupApp::ReportOutcome(int result) {
  if (result) {
    exitCode = 0;
    return;
  }
  switch (failureKind) {
    case kFailureAborted:
      ShowMessage("Instalowanie programu zostało przerwane.", MB_OK | MB_ICONEXCLAMATION);
      exitCode = 3;
      break;
    default:
      ShowMessage("Nie można było przeprowadzić instalacji.\nMożesz w każdej chwili powtórzyć próbę\nzainstalowania programu.",
                  MB_OK | MB_ICONEXCLAMATION);
      exitCode = 2;
      break;
  }
}

bool SetupApp::PollAbort() { return abortRequested; }

}  // namespace qor
