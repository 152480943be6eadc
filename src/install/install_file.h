// Putting product files on disk: one record copied from the source with
// expansion, written, and verified by size and checksum; the loop over all
// outdated files; folders with their parents.
#pragma once

#include <string>

namespace qor {

class SetupApp;
struct FileRecord;

// Copies one file of the table from the source to its installed path (or, in
// the package-building mode, appends the stored file to the open package).
// A target in use is written under its in-use name "<target>(new)" and
// replaced at the next restart. Shows its own message and marks the session
// failed on every failure except a cancel.
bool InstallFile(SetupApp& app, FileRecord& record);
// Every record after the setup program that is not up to date; after a
// failure asks whether to go on.
bool InstallAllFiles(SetupApp& app);
// Creates path and its missing parents (never a drive root). fullPath, when
// given, receives the resolved full path.
bool CreateDirectoryPath(const std::string& path, std::string* fullPath);
// The install folder, with its full path put back into installPath; nothing
// to do for a network installation.
bool CreateInstallDirectory(SetupApp& app);

}  // namespace qor
