// Operations whose subsystems are not in the program yet. Each does nothing:
// an installation step it stands for has nothing to do.
// Its subsystem replaces it here when it lands.
#include "app/setup_app.h"
#include "companions/mail_scanner.h"
#include "install/restart_replace.h"

namespace qor {

// Replacing the setup program itself comes with the self-update.
bool UpdateSetupProgram(SetupApp&) { return true; }

// The mail scanner is left alone: it counts as not running and its
// configuration is never offered.
void DetectMailScanner(SetupApp&) {}
void SendMailScannerCommand(const std::string&, MailScannerCommand) {}
void ReadMailConfPromptSetting(SetupApp&) {}
void WriteMailConfPromptSetting(int) {}
void RunMailConfiguration(const std::string&) {}
// The uninstall leaves the mail-scanning configuration as it is.
int RemoveMailConfiguration(const std::string&) { return 0; }

}  // namespace qor
