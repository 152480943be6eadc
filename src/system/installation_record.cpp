#include "system/installation_record.h"

#include <windows.h>

#include "app/messages.h"
#include "install/package.h"
#include "resources/resource.h"
#include "system/engine_library.h"
#include "system/registry.h"

namespace qor {
namespace {

void WriteDateStamp(const char* valueName, const CalendarDate& date) {
  const auto bytes = OleDateBytesAt1am(date);
  WriteBinaryValue(HKEY_LOCAL_MACHINE, kMakerSubkey, valueName, bytes.data(),
                   static_cast<DWORD>(bytes.size()));
}

}  // namespace

std::string JoinKeyPath(const std::string& base, const char* subkey) {
  if (!subkey || !*subkey) return base;
  std::string path = base;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += subkey;
  return path;
}

std::string ProductKeyPath(const char* subkey) { return JoinKeyPath(ResourceString(IDS_PRODUCT_KEY), subkey); }

std::string UserProductKeyPath(const char* subkey) { return JoinKeyPath(kUserProductKeyPath, subkey); }

std::string ProductKeyPathFor(const char* subkey, int scope) {
  return scope == 1 ? UserProductKeyPath(subkey) : JoinKeyPath(kMachineProductKeyPath, subkey);
}

int ReadInstallationRecord(SetupApp& app) {
  RegKey key;
  const bool present = OpenKeyForRead(ProductKeyPath(kRecordSubkey), key);
  if (present) {
    if (app.sourceKind == kSourceUnknown) {
      DWORD kind = 0;
      // Only Local and Internet come back: a stored Network (2) reads as Local.
      app.sourceKind = ReadDwordValue(key.get(), kLocalRemoteValue, kind) && kind <= 1 ? static_cast<int>(kind)
                                                                                     : kSourceLocal;
    }
    if (app.sourcePath.empty() && !ReadStringValue(key.get(), kLocalSourcePathValue, app.sourcePath))
      app.sourcePath.clear();
    DWORD initialInstall = 0;
    app.firstInstall = !ReadDwordValue(key.get(), kInitialInstallValue, initialInstall);
    if (app.installPath.empty() && !ReadStringValue(key.get(), kInstallPathValue, app.installPath))
      app.installPath = ResourceString(IDS_DEFAULT_INSTALL_PATH);
    key.Close();
  } else {
    app.firstInstall = true;
    if (app.sourceKind == kSourceUnknown) app.sourceKind = kSourceLocal;
    if (app.installPath.empty()) app.installPath = ResourceString(IDS_DEFAULT_INSTALL_PATH);
  }

  // The stored InetPath is never consulted: the program's own URL is current.
  app.internetPath = ResourceString(IDS_INTERNET_PATH);

  if (HasSetupScript(app.moduleDir)) {
    app.sourcePath = app.moduleDir;
  } else if (app.sourcePath.empty() && !present) {
    app.sourceKind = kSourceInternet;
  }
  // A program that carries its own package installs from itself.
  if (IsPackageFile(app.modulePath.c_str())) {
    app.sourcePath = app.modulePath;
    app.sourceKind = kSourceLocal;
  }
  return present ? 1 : 0;
}

void WriteInstallationRecord(SetupApp& app, int /*result*/) {
  CalendarDate baseDate = kDefaultEngineDate;
  CalendarDate engineDate = kDefaultEngineDate;
  if (!QueryEngineDates(app.installPath + "\\" + kEngineLibraryName, baseDate, engineDate))
    baseDate = engineDate = kDefaultEngineDate;
  WriteDateStamp(kBaseDateValue, baseDate);
  WriteDateStamp(kEngineDateValue, engineDate);

  RegKey key;
  if (!OpenOrCreateKey(ProductKeyPath(kRecordSubkey), key)) return;
  WriteStringValue(key.get(), kSetupVersionValue, "1.0");
  WriteDwordValue(key.get(), kLocalRemoteValue, static_cast<DWORD>(app.sourceKind));
  WriteStringValue(key.get(), kLocalSourcePathValue, app.sourcePath);
  WriteStringValue(key.get(), kInstallPathValue, app.installPath);
  if (!app.firstInstall) WriteDwordValue(key.get(), kInitialInstallValue, 0);
  WriteStringValue(key.get(), kInetPathValue, app.internetPath);
}

int QueryEngineDates(const std::string& libraryPath, CalendarDate& baseDate, CalendarDate& engineDate) {
  const EngineLibrary library(libraryPath);
  if (!library.Loaded()) return 0;
  const bool baseFound = library.QueryDate(kBaseDateEntry, baseDate);
  const bool engineFound = library.QueryDate(kEngineDateEntry, engineDate);
  return baseFound && engineFound ? 1 : 0;
}

void BroadcastConfigurationChange() {
  const UINT message = RegisterWindowMessageA(kUpdateMessageName);
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(HWND_BROADCAST, message, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000, &answer);
}

void BeginUpdateMarker() {
  RegKey key;
  if (!OpenOrCreateKey(kRecordKeyPath, key)) return;
  WriteDwordValue(key.get(), kInUpdatingValue, 1);
  RegFlushKey(key.get());
  key.Close();
  BroadcastConfigurationChange();
}

void EndUpdateMarker() {
  RegKey key;
  if (OpenKeyForWrite(kRecordKeyPath, key)) {
    RegDeleteValueA(key.get(), kInUpdatingValue);
    RegFlushKey(key.get());
  }
  BroadcastConfigurationChange();
}

void DeleteDateStamps() {
  RegKey key;
  if (!OpenOrCreateKey(kMakerKeyPath, key)) return;
  RegDeleteValueA(key.get(), kBaseDateValue);
  RegDeleteValueA(key.get(), kEngineDateValue);
  RegFlushKey(key.get());
}

}  // namespace qor
