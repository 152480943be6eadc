// The monitor's start mode.
#pragma once

namespace qor {

// Writes the REG_DWORD "Startup" = mode (0..2, what the monitor makes of it
// is its own affair) under HKEY_CURRENT_USER and then HKEY_LOCAL_MACHINE
// \Software\Qor\Qor_Vex\Qor_Mon\General, creating the keys when missing.
// Failures are silent.
void WriteMonitorStartMode(int mode);

}  // namespace qor
