// The installation record, the engine date stamps and the update marker.
//
// Its keys and values are named in system/registry_names.h.
//
// The record, values of ...\Qor_Vex\Setup:
//
//   SetupVersion     REG_SZ     "1.0"                 never read
//   LocalRemote      REG_DWORD  sourceKind            0 or 1 read back; else 0
//   LocalSourcePath  REG_SZ     sourcePath
//   InstallPath      REG_SZ     installPath           default: string resource 1
//   InitialInstall2  REG_DWORD  0, once files were    only its presence counts
//                               being installed
//   InetPath         REG_SZ     internetPath          never read
//   InUpdating       REG_DWORD  1 while files change  never read here
//
// The date stamps are 8-byte OLE Automation dates at 01:00 (system/ole_date.h)
// of what the installed engine library reports: the virus base date as
// "{3C9E1B42-8D07-4A6F-B2C3-5E1F7A9D0C64}" and the engine date as
// "{7E3D2A10-6C4B-4F8E-9A15-2D7C0B3E8F41}", 1 January 2001 when it cannot say.
//
// Nothing here shows a message: what cannot be read falls back to defaults,
// what cannot be written stays unwritten.
#pragma once

#include <string>

#include "app/setup_app.h"
#include "system/ole_date.h"
#include "system/registry_names.h"

namespace qor {

constexpr const char kUpdateMessageName[] = "Qor_Vex: UpdateConfiguration";

// base joined with subkey: base itself when subkey is null or empty, else
// base, a backslash unless base is empty or ends in one, and subkey.
std::string JoinKeyPath(const std::string& base, const char* subkey);
// String resource 2 (the product key) joined with subkey.
std::string ProductKeyPath(const char* subkey);
// "HKEY_CURRENT_USER\Software\Qor\Qor_Vex" joined with subkey.
std::string UserProductKeyPath(const char* subkey);
// Scope 1: UserProductKeyPath; any other scope: the machine's product key
// "HKEY_LOCAL_MACHINE\Software\Qor\Qor_Vex" joined with subkey.
std::string ProductKeyPathFor(const char* subkey, int scope);

// Fills what the command line left unset: sourceKind (when -1), sourcePath
// (when empty), firstInstall, installPath (when empty) and internetPath, then
// prefers setup.dat beside the program and, above that, a package carried by
// the program itself. 1 when the record key exists, 0 when it does not.
int ReadInstallationRecord(SetupApp& app);

// Writes the two date stamps and the record. result (the session's) is not
// used: the record is written whatever the outcome.
void WriteInstallationRecord(SetupApp& app, int result);

// Loads the engine library at libraryPath and asks it for the virus base
// date and the engine date. 1 only when it loaded and both entry points were
// found; the one that was found has been called all the same.
int QueryEngineDates(const std::string& libraryPath, CalendarDate& baseDate, CalendarDate& engineDate);

// InUpdating = 1 under the record key (created when missing), flushed at
// once, then the broadcast. Nothing at all when the key cannot be opened.
void BeginUpdateMarker();
// Removes InUpdating when the record key exists (never creating it), flushes
// it, and broadcasts in any case.
void EndUpdateMarker();
// Sends "Qor_Vex: UpdateConfiguration" to every top-level window, waiting at
// most 5000 ms for each; hung windows are skipped.
void BroadcastConfigurationChange();
// Removes both date stamp values; their key stays.
void DeleteDateStamps();

}  // namespace qor
