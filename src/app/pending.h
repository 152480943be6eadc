// Operations of the run that RunApplication calls in order. Each is
// implemented by its own subsystem; see the definitions.
#pragma once

#include "app/setup_app.h"

namespace qor {

// Installation record (read at start-up, written after the session).
int ReadInstallationRecord(SetupApp& app);
void WriteInstallationRecord(SetupApp& app, int result);
// The monitor's start mode under both product keys ("Startup" = mode).
void WriteMonitorStartMode(int mode);
// The uninstall procedure (/uninstall).
void RunUninstall(SetupApp& app);

}  // namespace qor
