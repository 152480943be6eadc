// The [REGISTRY] section of the setup script: the entries it makes, the
// record of them under the product key, and the replay that removes them.
//
//   NEW,"HKEY_LOCAL_MACHINE\...\Uninstall\Qor_Vex_98"   the whole key is the product's
//   "DisplayName"="Qor_Vex"                              REG_SZ
//   "UninstallString"=$"SetupProgram"" /uninstall"      role reference + text
//   ADD,"HKEY_CLASSES_ROOT\CLSID\{...}\InProcServer32"  only the values set belong to it
//   ""="C:\...\shell.dll"                                default value, never recorded
//   "Flags"=0x1F                                         REG_DWORD
//
// Record (RegistryEntries): value name = key path as written, data = "*" for
// a NEW block, else the value names of the ADD block joined by ";".
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/setup_app.h"
#include "system/installation_record.h"
#include "system/registry.h"
#include "system/script_sections.h"

namespace qor {
namespace {

constexpr char kSpecialFilesSubkey[] = "Setup\\SpecialFiles";
constexpr char kRegistryEntriesSubkey[] = "Setup\\RegistryEntries";
constexpr char kMailScannerRole[] = "MailScanner";
constexpr char kMailScannerFile[] = "Qor_Mail.exe";
constexpr DWORD kRecordNameBuffer = 1000;
constexpr DWORD kRecordDataBuffer = 10000;

// A full key path whose subkey part names the root key itself, or whose root
// is unknown. Such a key is never written, recorded or replayed: a NEW record
// of a root would make the next replay delete every key under it.
bool IsRefusedKeyPath(const std::string& fullPath) {
  const char* rest = fullPath.c_str();
  HKEY root = nullptr;
  return !ParseRootKey(rest, root) || IsRootOnlySubkey(rest);
}

void WriteSpecialFilesRecord(SetupApp& app) {
  RegKey key;
  if (!OpenOrCreateKey(ProductKeyPath(kSpecialFilesSubkey), key)) return;
  const FileTable& table = app.fileTable;
  for (const FileRecord& record : table.Records()) {
    if (record.role.empty()) continue;
    WriteStringValue(key.get(), record.role.c_str(), table.InstalledPath(record));
  }
  std::string mail = table.InstallPath();
  if (!mail.empty() && mail.back() != '\\') mail += '\\';
  mail += kMailScannerFile;
  WriteStringValue(key.get(), kMailScannerRole, mail);
}

// One block's value lines. Returns true when the section goes on after the
// block; `linePending` says that the cursor already stands on a line that is
// to be read as the next key line.
bool ApplyValueLines(const ScriptText& script, const FileTable& roles, ScriptCursor& cursor, HKEY key, bool isAdd,
                     std::string& recordText, bool& linePending) {
  for (;;) {
    if (!script.NextLine(cursor)) return false;
    if (script.At(cursor) == '[') return false;
    std::string name;
    if (!script.ReadQuoted(name, cursor, 0, &roles)) {
      linePending = true;
      return true;
    }
    if (isAdd) {
      if (!recordText.empty()) recordText += ';';
      recordText += name;
    }
    std::string text;
    if (script.ReadQuoted(text, cursor, '=', &roles)) {
      if (key) WriteStringValue(key, name.c_str(), text);
      continue;
    }
    std::int32_t number = 0;
    if (!script.ReadNumber(number, cursor, 0)) return true;
    if (key) WriteDwordValue(key, name.c_str(), static_cast<DWORD>(number));
  }
}

}  // namespace

int ApplyRegistryScript(SetupApp& app) {
  WriteSpecialFilesRecord(app);
  {
    RegKey user;
    OpenOrCreateKey(ProductKeyPathFor(kRecordSubkey, 1), user);
  }

  const ScriptText& script = app.script;
  ScriptCursor cursor = 0;
  if (!script.FindSection("REGISTRY", cursor)) return 1;

  RemoveRecordedRegistryEntries(app);
  RegKey record;
  OpenOrCreateKey(ProductKeyPath(kRegistryEntriesSubkey), record);

  bool linePending = false;
  for (;;) {
    if (script.AtEnd(cursor)) break;
    if (!linePending && (!script.NextLine(cursor) || script.At(cursor) == '[')) break;
    linePending = false;

    std::string keyword;
    std::string keyPath;
    if (!script.ReadToken(keyword, cursor, 0)) break;
    const bool isNew = EqualsNoCase(keyword, "NEW");
    const bool isAdd = EqualsNoCase(keyword, "ADD");
    if (!isNew && !isAdd) break;
    if (!script.ReadQuoted(keyPath, cursor, ',', &app.fileTable) || keyPath.empty()) break;

    std::string recordText = isNew ? "*" : "";
    RegKey key;
    // A root-only key path is refused like a key that cannot be opened: the
    // block is abandoned without a record.
    if (IsRefusedKeyPath(keyPath) || !OpenOrCreateKey(keyPath, key)) continue;
    const bool goesOn = ApplyValueLines(script, app.fileTable, cursor, key.get(), isAdd, recordText, linePending);
    if (record) WriteStringValue(record.get(), keyPath.c_str(), recordText);
    if (!goesOn) break;
  }
  return 1;
}

int RemoveRecordedRegistryEntries(SetupApp&) {
  RegKey record;
  if (!OpenKeyForRead(ProductKeyPath(kRegistryEntriesSubkey), record)) return 0;
  std::string keyPath;
  std::string names;
  for (DWORD index = 0; ReadIndexedValue(record.get(), index, kRecordNameBuffer, kRecordDataBuffer, keyPath, names);
       ++index) {
    if (IsRefusedKeyPath(keyPath)) continue;
    if (names == "*") {
      DeleteKeyTree(keyPath.c_str());
      continue;
    }
    RegKey key;
    if (!OpenKeyForWrite(keyPath, key)) continue;
    std::size_t start = 0;
    while (start < names.size()) {
      std::size_t end = names.find(';', start);
      if (end == std::string::npos) end = names.size();
      if (end == start) break;
      RegDeleteValueA(key.get(), names.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  return 1;
}

}  // namespace qor
