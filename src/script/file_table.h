// The product keys ("[PRODUCT]") and the file table ("[FILES]") of the setup
// script, and the questions the installer asks of them.
//
// "[FILES]" line, one per product file (numbers decimal or 0x hex):
//   "role","installed name",size,checksum,"compressed name",compressed size,compressed checksum[,"disk label"]
//   "SetupProgram","setup.exe",99840,0x1230562D,"setup.exe",99840,0x1230562D,"Dysk 1"
// Record 0 must be the setup program. A line with an empty installed name adds
// no record; the first line that does not parse ends the table (the records
// read so far stay). Size 0: never up to date, not verified; size -1: any
// readable file is up to date.
//
// Field widths: role, installed name and compressed name hold at most 259
// bytes, the disk label 199. A longer name makes its line malformed (the table
// ends there) rather than point at a file of a cut name; a longer disk label,
// only ever shown in the insert-disk prompt, is cut to 199 bytes.
//
// "[PRODUCT]" line: bare key "=" bare value, as "Package=Full" (a bare token
// ends at a comma, so "Platform=Win95,Win98" stores "Win95").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_text.h"

namespace qor {

struct FileRecord {
  std::string role;
  std::string installedName;
  std::int32_t size = 0;
  std::uint32_t checksum = 0;
  std::string compressedName;
  std::int32_t compressedSize = 0;
  std::uint32_t compressedChecksum = 0;
  std::string diskLabel;
};

class FileTable : public RoleResolver {
 public:
  static constexpr std::size_t kMaxNameLength = 259;
  static constexpr std::size_t kMaxDiskLabelLength = 199;

  // The application's install path and /srcinst= flag. Set them before
  // LoadFileTable (role references in the table resolve through them) and
  // whenever the application's values change.
  void SetInstallPath(std::string path) { installPath_ = std::move(path); }
  const std::string& InstallPath() const { return installPath_; }
  void SetSourceIsInstalled(bool value) { sourceIsInstalled_ = value; }

  // Reads "[FILES]" of the loaded (resolved) script. True when at least one
  // record was read. Sets the two flags below.
  bool LoadFileTable(const ScriptText& script);
  // Empties the table and clears the flags.
  void FreeFileTable();

  std::vector<FileRecord>& Records() { return records_; }
  const std::vector<FileRecord>& Records() const { return records_; }

  // Some record's installed name is "qor_vexw.exe" / "qorbase.dat" (any
  // letter case). The application copies them to mainProgramListed and
  // virusBaseListed after LoadFileTable.
  bool MainProgramListed() const { return mainProgramListed_; }
  bool VirusBaseListed() const { return virusBaseListed_; }

  // Install path, a "\" unless it is empty or already ends in one, installed name.
  std::string InstalledPath(const FileRecord& record) const;
  // InstalledPath of the first record whose role equals `role` (ASCII letter
  // case ignored). An empty role is a role like any other: it names the
  // first record that has none.
  bool RolePath(std::string_view role, std::string& path) const override;
  // Compressed name, or the installed name when the source is an installed copy.
  const std::string& SourceNameOf(const FileRecord& record) const;
  // The file at `path` is readable and, unless the record's size is -1, has
  // the record's size and checksum. Always false for a record of size 0.
  static bool FileMatches(const std::string& path, const FileRecord& record);
  // True for an empty installed name, else FileMatches(InstalledPath).
  bool IsUpToDate(const FileRecord& record) const;
  // 1 when some record is not up to date, 0 when all are, -1 when pollAbort
  // (asked before every record) reports a cancel. An empty pollAbort never cancels.
  int CountOutdated(const std::function<bool()>& pollAbort) const;

 private:
  std::vector<FileRecord> records_;
  std::string installPath_;
  bool sourceIsInstalled_ = false;
  bool mainProgramListed_ = false;
  bool virusBaseListed_ = false;
};

// The "[PRODUCT]" pairs, kept as the program keeps them: key NUL value NUL ...,
// ended by an empty key, in at most 10000 bytes. Pairs are taken whole while
// they fit; the first pair that would not fit ends the reading, so it and
// every later pair are dropped (a script's own pairs take a few dozen bytes).
class ProductKeys {
 public:
  static constexpr std::size_t kBufferSize = 10000;

  // False only when the script has no "[PRODUCT]" section. A line without "="
  // or with an empty key ends the section.
  bool LoadProductKeys(const ScriptText& script);
  void Free();
  // Value of the first pair whose key equals `key` (ASCII letter case
  // ignored); empty when there is none.
  std::string ProductValue(std::string_view key) const;
  // The pairs block (empty before a load, "\0" for a section without pairs).
  const std::string& Block() const { return block_; }

 private:
  std::string block_;
};

}  // namespace qor
