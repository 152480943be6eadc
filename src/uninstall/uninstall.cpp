// The uninstall, in its order: the confirmation, the folder to remove, the
// mail scanner told to stop and its mail-scanning configuration taken away,
// then, between the two halves of the update marker, the files and folder,
// the recorded shortcuts and registry entries, the product's keys and the
// date stamps; last the final message.
//
// Nothing stops on a failed deletion: single files, folders, keys and values
// that cannot go are passed over in silence, and what is in use is left for
// the next restart (the final message then asks for one).
#include "uninstall/uninstall.h"

#include <windows.h>

#include <string>

#include "app/messages.h"
#include "app/setup_app.h"
#include "companions/mail_scanner.h"
#include "install/restart_replace.h"
#include "system/installation_record.h"
#include "system/registry.h"
#include "system/script_sections.h"
#include "uninstall/root_folder.h"

namespace qor {
namespace {

constexpr char kConfirmText[] = "Program Qor_Vex zostanie usunięty\nz dysku i systemu.\n";
constexpr char kNoRecordText[] =
    "Brak zapisu ścieżki instalacyjnej\nprogramu z Rejestru Systemowego.\nCzy ma zostać usunięty katalog:\n";
constexpr char kMailWarningText[] =
    "Usunięta zostanie konfiguracja skanowania poczty. Jeśli korzystasz z innego programu niż Outlook, musisz "
    "samodzielnie przywrócić poprzednie ustawienia skrzynki.";
constexpr char kRootRefusedHead[] = "Katalog instalacyjny:\n";
constexpr char kRootRefusedTail[] = "\njest katalogiem głównym dysku.\nPliki w nim nie zostaną usunięte.";
constexpr char kDoneText[] = "Program Qor_Vex został usunięty z dysku oraz systemu.";
constexpr char kRestartText[] = "\nZrestartuj system aby dokończyć\nzaległe operacje";

constexpr char kRunKeyPath[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kMailScannerRunValue[] = "MailScanner";
constexpr char kMenuKeyPath[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\Qor_Menu";
constexpr char kProductKeyPath[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qor\\Qor_Vex";

bool EndsInSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

// The full path of folder as the system resolves it, ending in a backslash;
// empty when the system cannot say (or it does not fit in 260 bytes).
std::string FullFolderPath(const std::string& folder) {
  std::string asked = EndsInSeparator(folder) ? folder : folder + '\\';
  char full[kMaxPath];
  char* name = nullptr;
  DWORD n = GetFullPathNameA(asked.c_str(), sizeof full, full, &name);
  if (n == 0 || n >= sizeof full) return {};
  std::string result(full, n);
  if (!EndsInSeparator(result)) result += '\\';
  return result;
}

// Deletes the files directly in the folder (those in use at the next
// restart), then the folder itself when nothing is left in it. folder is a
// full path ending in a backslash that is not a root.
void RemoveInstallFolder(SetupApp& app, const std::string& folder) {
  DeleteMatchingFiles(app, folder, "*.*");
  std::string bare = folder;
  bare.pop_back();  // one trailing backslash
  // A bare drive is never removed, whatever was said before.
  if (bare.find('\\') == std::string::npos) return;
  if (RemoveDirectoryA(bare.c_str())) return;
  // A folder that still holds files or subfolders simply stays; one that is
  // in use goes at the next restart.
  if (IsLockedError()) ReplaceAtRestart(app, bare.c_str(), nullptr);
}

}  // namespace

int Uninstall(SetupApp& app) {
  if (!app.quietMode && ShowMessage(kConfirmText, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return 0;

  // A folder named on the command line (/inst=) is the one to remove; the
  // record's only counts without it.
  const bool folderGiven = !app.installPath.empty();
  const std::string given = app.installPath;
  const bool recorded = ReadInstallationRecord(app) != 0;
  if (!recorded) app.installPath = folderGiven ? given : app.moduleDir;

  // The folder whose files go, judged as the system will resolve it.
  const std::string folder = FullFolderPath(app.installPath);
  const bool rootRefused = folder.empty() || IsRootFolder(folder) || IsRootFolder(app.installPath);

  bool cancelled = false;
  if (rootRefused) {
    // No question about deleting a folder that will not be deleted: the user
    // is told why its files stay, and the rest of the removal goes on.
    ShowMessage(kRootRefusedHead + (folder.empty() ? app.installPath : folder) + kRootRefusedTail,
                MB_OK | MB_ICONEXCLAMATION);
  } else if (!recorded) {
    // Asked even in a quiet run: nothing says that this is the product's
    // folder. No is taken as Cancel, since the folder is all it asks about.
    int answer = ShowMessage(kNoRecordText + app.installPath, MB_YESNOCANCEL | MB_ICONINFORMATION);
    cancelled = answer != IDYES;
  }

  SendMailScannerCommand(app.installPath, MailScannerCommand::Abort);
  if (!app.noUninstallPop3) {
    DeleteNamedValue(kRunKeyPath, kMailScannerRunValue);
    ShowMessage(kMailWarningText, MB_OK);
    RemoveMailConfiguration(app.installPath);
  }
  if (cancelled) return 0;

  BeginUpdateMarker();
  if (!rootRefused) RemoveInstallFolder(app, folder);
  RemoveRecordedShortcuts(app);
  RemoveRecordedRegistryEntries(app);
  DeleteKeyTree(kMenuKeyPath);
  DeleteKeyTree(kProductKeyPath);
  DeleteDateStamps();
  EndUpdateMarker();

  if (!app.quietMode) {
    std::string text = kDoneText;
    if (app.restartNeeded) text += kRestartText;
    ShowMessage(text, MB_OK | MB_ICONINFORMATION);
  }
  return 1;
}

}  // namespace qor
