#include "install/package_builder.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/setup_app.h"
#include "install/file_checksum.h"
#include "install/install_file.h"
#include "install/package.h"
#include "script/file_table.h"
#include "source/source_files.h"
#include "zip/little_endian.h"

namespace qor {
namespace {

const char kCompanionData[] = "qorapps.dat";
const char kScriptName[] = "setup.dat";

// The directory as it grows: name, zero, u32 offset, u32 size per entry.
class PackageDirectory {
 public:
  // Appends an entry and returns the place of its size, for a later fix.
  std::size_t Add(const std::string& name, std::uint32_t offset, std::uint32_t size) {
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    bytes_.push_back(0);
    std::size_t at = bytes_.size();
    bytes_.resize(at + 8);
    PutLe32(&bytes_[at], offset);
    PutLe32(&bytes_[at + 4], size);
    return at + 4;
  }
  void SetSize(std::size_t place, std::uint32_t size) { PutLe32(&bytes_[place], size); }
  void End() { bytes_.push_back(0); }
  const std::vector<unsigned char>& Bytes() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// The package file for the length of BuildPackage: app.packageFile is the
// open descriptor while the entries are written, and -1 again afterwards on
// every path; an output that is not kept is deleted.
class PackageOutput {
 public:
  explicit PackageOutput(SetupApp& app) : app_(app) {}
  ~PackageOutput() { Close(false); }
  PackageOutput(const PackageOutput&) = delete;
  PackageOutput& operator=(const PackageOutput&) = delete;

  bool Open() {
    const char* path = app_.packOutput.c_str();
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    app_.packageFile =
        _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_SEQUENTIAL, _S_IREAD | _S_IWRITE);
    return app_.packageFile >= 0;
  }
  // The current output position; the package stays below 4 GiB.
  std::uint32_t Position() const { return static_cast<std::uint32_t>(_lseek(app_.packageFile, 0, SEEK_CUR)); }
  bool Write(const void* bytes, std::size_t count) {
    return count == 0 || _write(app_.packageFile, bytes, static_cast<unsigned>(count)) == static_cast<int>(count);
  }
  // Closes the package; keep false deletes it.
  bool Close(bool keep) {
    if (app_.packageFile < 0) return false;
    bool closed = _close(app_.packageFile) == 0;
    app_.packageFile = -1;
    if (!keep || !closed) DeleteFileA(app_.packOutput.c_str());
    return closed && keep;
  }

 private:
  SetupApp& app_;
};

std::string FullPathOf(const std::string& path) {
  char full[kMaxPath];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return (n == 0 || n >= sizeof full) ? path : std::string(full, n);
}

// True when the output names a file the package is made from: opening it
// would destroy that input before it is read.
bool OutputIsInput(const SetupApp& app) {
  const std::string output = FullPathOf(app.packOutput);
  auto same = [&](const std::string& name) {
    return lstrcmpiA(FullPathOf(SourceFilePath(app, name)).c_str(), output.c_str()) == 0;
  };
  if (same(kCompanionData) || same(kScriptName)) return true;
  for (const FileRecord& record : app.fileTable.Records())
    if (!record.compressedName.empty() && same(app.fileTable.SourceNameOf(record))) return true;
  return false;
}

void Failed(SetupApp& app) { app.failureKind = kFailureFailed; }

// A stored file whose length differs from the size the table gives would make
// the directory disagree with the data.
bool StaleSize(SetupApp& app) {
  ShowMessage("Błąd w plikach instalacyjnych", MB_OK | MB_ICONEXCLAMATION);
  Failed(app);
  return false;
}

// The length of the source file name, or false when it cannot be opened.
bool SourceLength(SetupApp& app, const std::string& name, std::uint32_t& length) {
  int handle = OpenSourceFile(app, SourceFilePath(app, name), SourceReading::kAsStored, 0, nullptr);
  if (handle == -1) return false;
  length = SourceFileSize(app, handle);
  CloseSourceFile(app, handle);
  return true;
}

}  // namespace

bool BuildPackage(SetupApp& app) {
  if (OutputIsInput(app)) {
    Failed(app);
    return false;
  }
  PackageOutput output(app);
  if (!output.Open()) {
    Failed(app);
    return false;
  }
  if (app.internetPackage && !output.Write(kInternetPackageHeader, kInternetPackageHeaderSize)) {
    Failed(app);
    return false;
  }

  PackageDirectory directory;
  for (FileRecord& record : app.fileTable.Records()) {
    if (record.compressedName.empty()) continue;
    std::uint32_t offset = output.Position();
    std::size_t sizePlace = directory.Add(record.compressedName, offset, static_cast<std::uint32_t>(record.compressedSize));
    if (!InstallFile(app, record)) return false;  // its message is shown, or the user cancelled
    std::uint32_t copied = output.Position() - offset;
    if (record.compressedSize == 0) {
      directory.SetSize(sizePlace, copied);
    } else if (copied != static_cast<std::uint32_t>(record.compressedSize)) {
      return StaleSize(app);
    }
  }

  FileRecord companion;
  companion.installedName = kCompanionData;
  companion.compressedName = kCompanionData;
  std::uint32_t companionLength = 0;
  if (!SourceLength(app, kCompanionData, companionLength)) {
    Failed(app);
    return false;
  }
  std::uint32_t offset = output.Position();
  directory.Add(kCompanionData, offset, companionLength);
  if (!InstallFile(app, companion)) {
    Failed(app);
    return false;
  }
  if (output.Position() - offset != companionLength) return StaleSize(app);

  // The script as read, checksum tail included, so that a setup program
  // reading it from the package verifies the same sum.
  const std::string& script = app.script.FileBytes();
  directory.Add(kScriptName, output.Position(), static_cast<std::uint32_t>(script.size()));
  directory.End();
  if (!output.Write(script.data(), script.size())) {
    Failed(app);
    return false;
  }

  const std::vector<unsigned char>& entries = directory.Bytes();
  unsigned char header[kPackageTrailerSize] = {'L', 'F'};
  unsigned char trailer[kPackageTrailerSize] = {'L', 'F'};
  PutLe32(header + 2, static_cast<std::uint32_t>(entries.size()));
  PutLe32(trailer + 2, output.Position());
  if (!output.Write(header, sizeof header) || !output.Write(entries.data(), entries.size()) ||
      !output.Write(trailer, sizeof trailer) || !output.Close(true)) {
    Failed(app);
    return false;
  }
  return true;
}

namespace {

// Shows a read failure of /build: "format" with the path, OK only, no icon.
bool Unreadable(const char* format, const std::string& path) {
  char text[1024];
  std::snprintf(text, sizeof text, format, path.c_str());
  ShowMessage(text, MB_OK);
  return false;
}

// The numbers of a rewritten line: "%d" and "0x%X".
std::string Decimal(std::int32_t value) { return std::to_string(value); }
std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

bool RebuildSection(SetupApp& app) {
  ScriptText& script = app.script;
  ScriptCursor cursor = 0;
  if (!script.FindSection(app.buildSection, cursor)) return false;
  for (;;) {
    if (script.AtEnd(cursor) || !script.NextLine(cursor) || script.At(cursor) == '[') return true;
    const ScriptCursor lineStart = cursor;
    FileRecord record;
    // A role reference or a conditional prefix fails here: /build works on
    // the script as written, where neither has a meaning.
    if (!script.ReadQuoted(record.role, cursor, 0, nullptr) ||
        !script.ReadQuoted(record.installedName, cursor, ',', nullptr))
      return false;
    if (record.installedName.empty()) continue;
    std::int32_t checksum = 0, compressedChecksum = 0;
    if (!script.ReadNumber(record.size, cursor, ',') || !script.ReadNumber(checksum, cursor, ',') ||
        !script.ReadQuoted(record.compressedName, cursor, ',', nullptr) ||
        !script.ReadNumber(record.compressedSize, cursor, ',') || !script.ReadNumber(compressedChecksum, cursor, ','))
      return false;
    record.checksum = static_cast<std::uint32_t>(checksum);
    record.compressedChecksum = static_cast<std::uint32_t>(compressedChecksum);

    if (record.size != 0 || record.checksum != 0) {
      std::string installed = app.installPath + "\\" + record.installedName;
      if (!FileChecksum(installed.c_str(), record.checksum, record.size))
        return Unreadable("Nie można odczytać pliku źródłowego:\n%s", installed);
    }
    if (!record.compressedName.empty() && (record.compressedSize != 0 || record.compressedChecksum != 0)) {
      std::string stored = SourceFilePath(app, record.compressedName);
      if (!FileChecksum(stored.c_str(), record.compressedChecksum, record.compressedSize))
        return Unreadable("Nie można odczytać pliku docelowego:\n%s", stored);
    }

    std::string rewritten = "\"" + record.role + "\",\"" + record.installedName + "\"," + Decimal(record.size) + "," +
                            Hex(record.checksum) + ",\"" + record.compressedName + "\"," +
                            Decimal(record.compressedSize) + "," + Hex(record.compressedChecksum);
    script.Replace(lineStart, cursor, rewritten);
    cursor = lineStart + rewritten.size();
  }
}

}  // namespace qor
