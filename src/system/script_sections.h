// The [REGISTRY] and [PROGMAN] sections of the setup script, and the records
// of what the previous installation made from them.
#pragma once

namespace qor {

class SetupApp;

// Removes the registry entries recorded by the previous installation.
void RemoveRecordedRegistryEntries(SetupApp& app);
// Writes and records the [REGISTRY] entries.
bool ApplyRegistrySection(SetupApp& app);
// Removes the program groups and autostart shortcuts recorded before.
void RemoveRecordedProgmanEntries(SetupApp& app);
// Creates and records the [PROGMAN] groups and shortcuts, starts the
// resident programs. False when the Programs or Startup folder is missing or
// a shortcut cannot be saved.
bool ApplyProgmanSection(SetupApp& app);

}  // namespace qor
