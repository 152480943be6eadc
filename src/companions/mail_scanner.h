// The installer's dealings with the product's mail scanner "Qor_Mail.Exe" and
// its configuration program "MailConf.Exe", both in the install folder.
//
// The scanner is found by its two named mutexes; it is sent one of three
// commands as its only parameter; the configuration program is started to set
// mail scanning up after an installation or to take it away at the uninstall.
// Programs are started and never waited for; each must exist in the folder
// (it is opened for reading first). A program that exists but does not start
// gets a message box with OK and no icon; a missing one is silent, except for
// the configuration the user asked for. Nothing here changes the outcome of
// the installation.
//
// Whether the user is offered that configuration is kept per user:
//   HKEY_CURRENT_USER\Software\Qor\Qor_Vex\Setup  ExecuteMailConfWhileUpdate (REG_DWORD)
#pragma once

#include <string>

namespace qor {

class SetupApp;

enum class MailScannerCommand { Abort, Start, Stop };

constexpr const char kMailScannerProgram[] = "Qor_Mail.Exe";
constexpr const char kMailConfProgram[] = "MailConf.Exe";
constexpr const char kScannerExecutionMutex[] = "Qor_Mail: Execution Mutex";
constexpr const char kScannerActivityMutex[] = "Qor_Mail: Activity Mutex";
constexpr const char kMailConfPromptValue[] = "ExecuteMailConfWhileUpdate";

// The parameter of a command: "/abort", "/start" or "/stop".
const char* MailScannerParameter(MailScannerCommand command);

// Sets mailScannerRunning when "Qor_Mail: Execution Mutex" exists and
// mailScannerActive when "Qor_Mail: Activity Mutex" exists; never clears them.
void DetectMailScanner(SetupApp& app);
// Starts installFolder\Qor_Mail.Exe with the command's parameter. 1 when
// started; 0 when the program is missing (silently) or did not start.
int SendMailScannerCommand(const std::string& installFolder, MailScannerCommand command);
// Updates offerMailConf from the per-user setting: left as it was when the
// key is missing (then 0), else true unless the value reads as a DWORD 0.
// 1 when the key exists.
int ReadMailConfPromptSetting(SetupApp& app);
// Writes ExecuteMailConfWhileUpdate = value, creating the key; 1 when written.
int WriteMailConfPromptSetting(int value);
// Starts installFolder\MailConf.Exe with "/protect_all /autostart_on";
// a missing program says "Nie znaleziono pliku MailConf.Exe". 1 when started.
int RunMailConfiguration(const std::string& installFolder);
// Starts installFolder\MailConf.Exe with
// "/unprotect_all /autostart_off /no_interactive" (the uninstall); a missing
// program is silent. 1 when started.
int RemoveMailConfiguration(const std::string& installFolder);

}  // namespace qor
