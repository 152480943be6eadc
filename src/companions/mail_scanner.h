// The installer's dealings with the product's mail scanner.
#pragma once

#include <string>

namespace qor {

class SetupApp;

enum class MailScannerCommand { Abort, Start, Stop };

// Sets mailScannerRunning / mailScannerActive from the scanner's mutexes.
void DetectMailScanner(SetupApp& app);
// Runs "Qor_Mail.Exe" from installFolder with /abort, /start or /stop when it is there.
void SendMailScannerCommand(const std::string& installFolder, MailScannerCommand command);
// offerMailConf from the per-user ExecuteMailConfWhileUpdate.
void ReadMailConfPromptSetting(SetupApp& app);
void WriteMailConfPromptSetting(int value);
// Runs "MailConf.Exe /protect_all /autostart_on" from installFolder.
void RunMailConfiguration(const std::string& installFolder);
// Runs "MailConf.Exe /unprotect_all /autostart_off /no_interactive" from
// installFolder (the uninstall); 1 when it was started.
int RemoveMailConfiguration(const std::string& installFolder);

}  // namespace qor
