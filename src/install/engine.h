// The install and update engine: the one call that does a run's work between
// opening and closing the source.
#pragma once

#include <string>

namespace qor {

class SetupApp;

// Installs or updates from setup.dat, builds a package (/pack) or refreshes a
// script section (/build). True when the work is done, or when the user
// declined an update that was not needed. On false, failureKind tells why
// (1 failed; 0 when a newer setup program is to take over the run).
bool RunInstallEngine(SetupApp& app, bool build);
// The ordered installation steps under the progress window.
bool InstallSteps(SetupApp& app);

// setup.dat through the source layer (or the build mode's script path).
bool LoadScript(SetupApp& app, bool resolve);
// The script text with a fresh checksum tail; shows "Nie można utworzyć
// setup.dat" when the file cannot be written.
bool SaveScript(SetupApp& app, const std::string& path);
void FreeScript(SetupApp& app);

}  // namespace qor
