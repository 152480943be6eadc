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
// resident programs. 0 when the Programs or Startup folder is missing, a
// group folder cannot be made or a shortcut cannot be saved.
int ApplyShortcutScript(SetupApp& app);
// Removes the program groups and autostart shortcuts recorded before. 1 when
// both special folders were found and the record key could be opened.
int RemoveRecordedShortcuts(SetupApp& app);

// Deletes the files (not the subfolders) of folder that match pattern; a
// file in use is scheduled for deletion at the next restart. 1 when every
// matching file was deleted, 0 when one could not be or folder is empty.
int DeleteMatchingFiles(const std::string& folder, const std::string& pattern);
// True when the last system error says the file is in use or protected.
bool IsLockedError();

}  // namespace qor
