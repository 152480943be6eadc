// The mail scanner and its configuration program, as the installer sees them.
#include "companions/mail_scanner.h"

#include <windows.h>
#include <shellapi.h>

#include "app/messages.h"
#include "app/setup_app.h"
#include "system/installation_record.h"
#include "system/kernel_handles.h"
#include "system/registry.h"
#include "system/registry_names.h"

namespace qor {

namespace {

// The program path is built in 300 bytes, its terminating zero included.
constexpr std::size_t kProgramPathBuffer = 300;

const char kScannerStartFailed[] = "Nie można uruchomić Qor_Mail.Exe.";
const char kMailConfMissing[] = "Nie znaleziono pliku MailConf.Exe";
const char kMailConfStartFailed[] = "Nie można uruchomić MailConf.Exe";
const char kMailConfRemoveFailed[] =
    "Nie można uruchomić MailConf.Exe. Automatyczne usunięcie kontroli poczty nie powiodło się. Musisz "
    "samodzielnie przywrócić poprzednie ustawienia.";

const char kProtectParameters[] = "/protect_all /autostart_on";
const char kUnprotectParameters[] = "/unprotect_all /autostart_off /no_interactive";

// What to say when the program is missing (null: nothing) and when it does
// not start.
struct Companion {
  const char* program;
  const char* parameters;
  const char* missingText;
  const char* startFailedText;
};

bool SetWhenMutexExists(const char* name) {
  HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
  if (!mutex) return false;
  CloseHandle(mutex);
  return true;
}

// An existing file is one that opens for reading; the program may be running,
// so others may hold it open in any way.
bool FileOpensForReading(const std::string& path) {
  KernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

int StartCompanion(const std::string& folder, const Companion& companion) {
  std::string path = folder + "\\" + companion.program;
  // A path that does not fit counts as a program that is not there.
  if (path.size() >= kProgramPathBuffer || !FileOpensForReading(path)) {
    if (companion.missingText) ShowMessage(companion.missingText, MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "open";
  info.lpFile = path.c_str();
  info.lpParameters = companion.parameters;
  info.lpDirectory = nullptr;
  info.hwnd = nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) {
    ShowMessage(companion.startFailedText, MB_OK);
    return 0;
  }
  // The companion is never waited for: its process handle goes at once.
  KernelHandle process(info.hProcess);
  return 1;
}

}  // namespace

const char* MailScannerParameter(MailScannerCommand command) {
  switch (command) {
    case MailScannerCommand::Abort: return "/abort";
    case MailScannerCommand::Start: return "/start";
    case MailScannerCommand::Stop: return "/stop";
  }
  return "";
}

void DetectMailScanner(SetupApp& app) {
  if (SetWhenMutexExists(kScannerExecutionMutex)) app.mailScannerRunning = true;
  if (SetWhenMutexExists(kScannerActivityMutex)) app.mailScannerActive = true;
}

int SendMailScannerCommand(const std::string& installFolder, MailScannerCommand command) {
  return StartCompanion(installFolder,
                        {kMailScannerProgram, MailScannerParameter(command), nullptr, kScannerStartFailed});
}

int RunMailConfiguration(const std::string& installFolder) {
  return StartCompanion(installFolder, {kMailConfProgram, kProtectParameters, kMailConfMissing, kMailConfStartFailed});
}

int RemoveMailConfiguration(const std::string& installFolder) {
  return StartCompanion(installFolder, {kMailConfProgram, kUnprotectParameters, nullptr, kMailConfRemoveFailed});
}

int ReadMailConfPromptSetting(SetupApp& app) {
  RegKey key;
  if (!OpenKeyForRead(UserProductKeyPath(kRecordSubkey), key)) return 0;
  // Only a DWORD 0 turns the offer off; a missing value, another number or a
  // value of another type leave it on.
  app.offerMailConf = true;
  DWORD value = 0;
  if (ReadDwordValue(key.get(), kMailConfPromptValue, value) && value == 0) app.offerMailConf = false;
  return 1;
}

int WriteMailConfPromptSetting(int value) {
  RegKey key;
  if (!OpenOrCreateKey(UserProductKeyPath(kRecordSubkey), key)) return 0;
  return WriteDwordValue(key.get(), kMailConfPromptValue, static_cast<DWORD>(value)) ? 1 : 0;
}

}  // namespace qor
