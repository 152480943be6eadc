#include "script/file_table.h"

#include "install/file_checksum.h"

namespace qor {

void FileTable::FreeFileTable() {
  records_.clear();
  records_.shrink_to_fit();
  mainProgramListed_ = false;
  virusBaseListed_ = false;
}

bool FileTable::LoadFileTable(const ScriptText& script) {
  FreeFileTable();
  ScriptCursor c = 0;
  if (!script.FindSection("FILES", c)) return false;
  for (;;) {
    if (script.AtEnd(c) || !script.NextLine(c) || script.At(c) == '[') break;
    FileRecord r;
    if (!script.ReadQuoted(r.role, c, '\0', this) || !script.ReadQuoted(r.installedName, c, ',', this)) break;
    if (r.installedName.empty()) continue;  // NextLine passes over the rest of the line
    std::int32_t checksum = 0, compressedChecksum = 0;
    if (!script.ReadNumber(r.size, c, ',') || !script.ReadNumber(checksum, c, ',') ||
        !script.ReadQuoted(r.compressedName, c, ',', this) || !script.ReadNumber(r.compressedSize, c, ',') ||
        !script.ReadNumber(compressedChecksum, c, ','))
      break;
    r.checksum = static_cast<std::uint32_t>(checksum);
    r.compressedChecksum = static_cast<std::uint32_t>(compressedChecksum);
    if (!script.ReadQuoted(r.diskLabel, c, ',', this)) r.diskLabel.clear();
    if (r.role.size() > kMaxNameLength || r.installedName.size() > kMaxNameLength ||
        r.compressedName.size() > kMaxNameLength)
      break;
    if (r.diskLabel.size() > kMaxDiskLabelLength) r.diskLabel.resize(kMaxDiskLabelLength);
    if (EqualsNoCase(r.installedName, "qor_vexw.exe")) mainProgramListed_ = true;
    if (EqualsNoCase(r.installedName, "qorbase.dat")) virusBaseListed_ = true;
    records_.push_back(std::move(r));
  }
  return !records_.empty();
}

std::string FileTable::InstalledPath(const FileRecord& record) const {
  std::string path = installPath_;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += record.installedName;
  return path;
}

bool FileTable::RolePath(std::string_view role, std::string& path) const {
  for (const FileRecord& r : records_) {
    if (EqualsNoCase(r.role, role)) {
      path = InstalledPath(r);
      return true;
    }
  }
  return false;
}

const std::string& FileTable::SourceNameOf(const FileRecord& record) const {
  return sourceIsInstalled_ ? record.installedName : record.compressedName;
}

bool FileTable::FileMatches(const std::string& path, const FileRecord& record) {
  // Size 0 ("not given") never matches: no need to read the file for that.
  if (record.size == 0) return false;
  std::uint32_t checksum = 0;
  std::int32_t size = 0;
  if (!FileChecksum(path.c_str(), checksum, size)) return false;
  if (record.size == -1) return true;
  return size == record.size && checksum == record.checksum;
}

bool FileTable::IsUpToDate(const FileRecord& record) const {
  if (record.installedName.empty()) return true;
  return FileMatches(InstalledPath(record), record);
}

int FileTable::CountOutdated(const std::function<bool()>& pollAbort) const {
  for (const FileRecord& r : records_) {
    if (pollAbort && pollAbort()) return -1;
    if (!IsUpToDate(r)) return 1;
  }
  return 0;
}

void ProductKeys::Free() {
  block_.clear();
  block_.shrink_to_fit();
}

bool ProductKeys::LoadProductKeys(const ScriptText& script) {
  Free();
  ScriptCursor c = 0;
  if (!script.FindSection("PRODUCT", c)) return false;
  std::string key, value;
  while (script.NextLine(c) && script.At(c) != '[') {
    if (!script.ReadToken(key, c, '\0') || !script.ReadToken(value, c, '=') || key.empty()) break;
    // key NUL value NUL, and room for the closing empty key.
    if (block_.size() + key.size() + value.size() + 3 > kBufferSize) break;
    block_ += key;
    block_ += '\0';
    block_ += value;
    block_ += '\0';
  }
  block_ += '\0';
  return true;
}

std::string ProductKeys::ProductValue(std::string_view key) const {
  std::string_view b = block_;
  std::size_t pos = 0;
  while (pos < b.size() && b[pos] != '\0') {
    std::size_t keyEnd = b.find('\0', pos);
    std::size_t valueEnd = b.find('\0', keyEnd + 1);
    if (EqualsNoCase(b.substr(pos, keyEnd - pos), key)) return std::string(b.substr(keyEnd + 1, valueEnd - keyEnd - 1));
    pos = valueEnd + 1;
  }
  return std::string();
}

}  // namespace qor
