// Replacing or deleting a file at the next system restart.
#pragma once

namespace qor {

class SetupApp;

// At the next restart, moves newFile over target, or deletes newFile when
// target is null. Sets the run's restart-needed flag whatever happens. Uses
// the delayed move of the platform; on Windows 95/98, where that is refused,
// adds a line to the [Rename] section of WinInit.ini.
bool ReplaceAtRestart(SetupApp& app, const char* newFile, const char* target);
// True on the NT family (high bit of the version word clear).
bool IsWindowsNT();
// Edits the [Rename] section of the WinInit.ini at iniPath: the line
// "target=newFile" goes first under the "[Rename]" header (added at the end
// when missing). Exposed for tests, which cannot make Wine refuse the move.
bool AddWinInitRename(const char* iniPath, const char* newFile, const char* target);

// Keeps the installed setup program current (record 0 of the file table).
bool UpdateSetupProgram(SetupApp& app);

}  // namespace qor
