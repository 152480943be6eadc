// The [REGISTRY] and [PROGMAN] sections of the setup script, the records of
// what the previous installation made from them, and the two file operations
// that the uninstall shares with the shortcut removal.
#pragma once

#include <string>

namespace qor {

class SetupApp;

// Writes the special-files record, makes sure the per-user key exists,
// writes and records the [REGISTRY] entries. Always 1: nothing here fails
// an installation.
int ApplyRegistryScript(SetupApp& app);
// Removes the registry entries recorded by the previous installation. 1 when
// the record key could be opened.
int RemoveRecordedRegistryEntries(SetupApp& app);

// Creates and records the [PROGMAN] groups and shortcuts, starts the
// resident programs (with "/_setup", unless /noautostart was given or a file
// waits for the restart). 0 when the Programs or Startup folder is missing, a
// group folder cannot be made or a shortcut cannot be saved; 1 otherwise, and
// when the script has no such section.
int ApplyShortcutScript(SetupApp& app);
// Removes the program groups and autostart shortcuts recorded before. 1 when
// both special folders were found and the record key could be opened.
int RemoveRecordedShortcuts(SetupApp& app);

// Creates or overwrites the shell link linkPath pointing at target, with
// nothing set but the target and the description. COM must be initialised on
// the calling thread. 1 only when the link was saved; a link path of 260
// characters or more is refused (0), never saved under a shortened name.
int CreateShortcut(const std::string& target, const std::string& linkPath, const std::string& description);
// The path of a special folder (a CSIDL_ value), empty when the shell does not
// know it or it does not exist.
std::string SpecialFolderPath(int folderId);
// The common Programs and Startup folders of the Start menu, or the user's own
// where the system has no common ones (Windows 95/98 without profiles); empty
// when neither is there.
std::string ProgramsFolder();
std::string StartupFolder();

// Deletes the files (not the subfolders) of folder that match pattern; a
// file in use is scheduled for deletion at the next restart, which sets
// app.restartNeeded. 1 when every matching file was deleted (also when none
// matched), 0 when one could not be or folder is empty.
int DeleteMatchingFiles(SetupApp& app, const std::string& folder, const std::string& pattern);
// True when the last system error says the file is in use or protected
// (ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION).
bool IsLockedError();

}  // namespace qor
