#include "install/install_file.h"

#include <windows.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "app/cancel_check.h"
#include "app/messages.h"
#include "app/progress.h"
#include "app/setup_app.h"
#include "install/restart_replace.h"
#include "script/file_table.h"
#include "source/source_files.h"

namespace qor {
namespace {

constexpr unsigned kCopyChunk = 32768;

void Fail(SetupApp& app, const char* format, const std::string& name) {
  char text[1024];
  std::snprintf(text, sizeof text, format, name.c_str());
  ShowMessage(text, MB_OK | MB_ICONEXCLAMATION);
  app.failureKind = kFailureFailed;
}

void ClearReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

int OpenTarget(const std::string& path) {
  ClearReadOnly(path);
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_SEQUENTIAL, _S_IREAD | _S_IWRITE);
}

}  // namespace

InstalledFileDestination::InstalledFileDestination(const SetupApp& app, const FileRecord& record)
    : target_(app.fileTable.InstalledPath(record)), written_(target_) {}

InstalledFileDestination::~InstalledFileDestination() {
  if (descriptor_ >= 0) _close(descriptor_);
}

bool InstalledFileDestination::WithoutStoredFile(SetupApp& app, const FileRecord& record) {
  Fail(app, "Brak pliku instalacyjnego:\n%s\nPotrzeba pełnej wersji instalacyjnej programu.", record.installedName);
  return false;
}

bool InstalledFileDestination::Open() {
  descriptor_ = OpenTarget(target_);
  if (descriptor_ < 0 && errno == EACCES) {
    // Held open by a running program: write beside it, swap at restart.
    written_ = target_ + "(new)";
    inUse_ = true;
    descriptor_ = OpenTarget(written_);
  }
  return descriptor_ >= 0;
}

bool InstalledFileDestination::Write(const void* bytes, std::uint32_t count) {
  return _write(descriptor_, bytes, count) == static_cast<int>(count);
}

void InstalledFileDestination::Close(bool discard) {
  _close(descriptor_);
  descriptor_ = -1;
  if (discard) DeleteFileA(written_.c_str());
}

bool InstalledFileDestination::Finish(SetupApp& app, const FileRecord& record) {
  if (record.size != 0) {
    bool ok = inUse_ ? FileTable::FileMatches(written_, record) : app.fileTable.IsUpToDate(record);
    if (!ok) {
      DeleteFileA(written_.c_str());
      ShowMessage("Błąd w plikach instalacyjnych", MB_OK | MB_ICONEXCLAMATION);
      app.failureKind = kFailureFailed;
      return false;
    }
  }
  if (inUse_) ReplaceAtRestart(app, written_.c_str(), target_.c_str());
  return true;
}

PackageDestination::PackageDestination(const SetupApp& app) : path_(app.packOutput), descriptor_(app.packageFile) {}

bool PackageDestination::Write(const void* bytes, std::uint32_t count) {
  return _write(descriptor_, bytes, count) == static_cast<int>(count);
}

bool CopyFromSource(SetupApp& app, const FileRecord& record, CopyDestination& destination) {
  if (record.compressedName.empty()) return destination.WithoutStoredFile(app, record);
  const std::string sourcePath = SourceFilePath(app, app.fileTable.SourceNameOf(record));
  const std::string& target = destination.TargetPath();
  ProgressLines(app, 0, sourcePath, target);

  int source = OpenSourceFile(app, sourcePath, destination.Reading(), static_cast<std::uint32_t>(record.compressedSize),
                              record.diskLabel.c_str());
  ProgressLines(app, 0, sourcePath, target);  // the open may have shown a copy of its own
  if (source == -1) {
    if (app.abortRequested) return false;
    Fail(app, "Nie można odczytać pliku instalacyjnego:\n%s", record.compressedName);
    return false;
  }
  if (!destination.Open()) {
    CloseSourceFile(app, source);
    Fail(app, "Nie można zapisać pliku instalacyjnego:\n%s", record.installedName);
    return false;
  }

  ProgressOperation(app, destination.Operation());
  ProgressTotal(app, record.size != 0 ? record.size : static_cast<std::int32_t>(SourceFileSize(app, source)));
  std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
  std::uint32_t copied = 0;
  bool writeError = false;
  CancelCheck cancel(app);
  for (;;) {
    if (cancel.Stopped()) break;
    std::uint32_t got = ReadSourceFile(app, source, buffer.get(), kCopyChunk);
    if (got == 0) break;
    copied += got;
    ProgressPosition(app, static_cast<std::int32_t>(copied));
    if (!destination.Write(buffer.get(), got)) {
      writeError = true;
      break;
    }
  }
  destination.Close(writeError || app.abortRequested);
  CloseSourceFile(app, source);
  if (app.abortRequested) return false;
  if (writeError) {
    Fail(app, "Nie można zapisać pliku instalacyjnego:\n%s", record.installedName);
    return false;
  }
  return destination.Finish(app, record);
}

bool InstallFile(SetupApp& app, FileRecord& record) {
  if (app.packMode) {
    PackageDestination package(app);
    return CopyFromSource(app, record, package);
  }
  InstalledFileDestination installed(app, record);
  return CopyFromSource(app, record, installed);
}

bool InstallAllFiles(SetupApp& app) {
  if (app.sourceKind == kSourceNetwork) return true;
  auto& records = app.fileTable.Records();
  for (std::size_t i = 1; i < records.size(); ++i) {
    if (app.fileTable.IsUpToDate(records[i])) continue;
    if (InstallFile(app, records[i])) continue;
    if (app.abortRequested) return false;
    if (ShowMessage("Czy chcesz kontynuować instalowanie?", MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  }
  return true;
}

bool CreateDirectoryPath(const std::string& path, std::string* fullPath) {
  char full[1000];
  char* namePart = nullptr;
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, &namePart);
  if (n == 0 || n >= sizeof full) {
    // The path may be longer than any buffer here (that is why it failed).
    ShowMessage("Nie można utworzyć katalogu:\n" + path, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  if (fullPath) *fullPath = full;
  // Create every parent from the second backslash on: "C:\A\B\C" creates
  // "C:\A" and "C:\A\B" (the root "C:" is never created), then the path.
  int seen = 0;
  for (char* p = full; *p; ++p) {
    if (*p != '\\') continue;
    if (++seen < 2) continue;
    *p = 0;
    CreateDirectoryA(full, nullptr);
    *p = '\\';
  }
  if (CreateDirectoryA(full, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  ShowMessage(std::string("Nie można utworzyć katalogu:\n") + full, MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool CreateInstallDirectory(SetupApp& app) {
  if (app.sourceKind == kSourceNetwork) return true;
  std::string full;
  bool created = CreateDirectoryPath(app.installPath, &full);
  // The full name replaces the path as typed even when the folder could not
  // be made, so the record written at the end names what was tried.
  if (!full.empty()) {
    app.installPath = full;
    app.fileTable.SetInstallPath(full);
  }
  return created;
}

}  // namespace qor
