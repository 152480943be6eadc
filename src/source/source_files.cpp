#include "source/source_files.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "app/progress.h"
#include "app/setup_app.h"
#include "install/package.h"
#include "source/internet.h"
#include "source/source_file_kinds.h"

namespace qor {
namespace {

// File names compare as Windows compares them: letter case ignored, Polish
// letters included.
bool SameFileName(const char* a, const std::string& b) { return lstrcmpiA(a, b.c_str()) == 0; }

// Takes the slot a new file goes to: the last one when it is free, else a new one.
int TakeSlot(SourceState& source) {
  if (source.files.empty() || source.files.back()) source.files.emplace_back();
  return static_cast<int>(source.files.size() - 1);
}

SourceFile* Slot(SetupApp& app, int handle) {
  if (handle < 0 || static_cast<std::size_t>(handle) >= app.source.files.size()) return nullptr;
  return app.source.files[static_cast<std::size_t>(handle)].get();
}

// True when the folder that would hold path lies on a removable drive.
bool OnRemovableDrive(const std::string& path) {
  char full[501];
  char* namePart = nullptr;
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full - 1, full, &namePart);
  if (n == 0 || n >= sizeof full - 1) return false;
  char* slash = std::strrchr(full, '\\');
  if (slash) *slash = 0;
  // The folder may be a bare drive ("A:") after the cut: ask about its root.
  if (full[0] == 0 || full[1] != ':') return false;
  char root[4] = {full[0], ':', '\\', 0};
  return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

// The insert-disk prompt for a file missing from a floppy: true when the
// user chose OK to look again.
bool AskForDisk(const std::string& path, const char* diskLabel) {
  char text[1024];
  if (diskLabel && *diskLabel)
    std::snprintf(text, sizeof text, "Włóż dyskietkę oznaczoną jako \"%s\"", diskLabel);
  else
    std::snprintf(text, sizeof text, "Brak pliku \"%s\"\nZmień dyskietkę lub przerwij instalowanie.", path.c_str());
  return ShowMessage(text, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

// Opens a file of a folder or a disk read-only, asking for the floppy while
// the file is missing from a removable drive. The descriptor, or -1 when the
// file is missing elsewhere, the user cancels or aborts.
int OpenWaitingForDisk(SetupApp& app, const std::string& path, const char* diskLabel) {
  for (;;) {
    if (app.PollAbort()) return -1;
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd >= 0) return fd;
    if (!OnRemovableDrive(path)) return -1;
    if (!AskForDisk(path, diskLabel)) return -1;
  }
}

// A file of a folder or a disk: as stored, or expanded by what its first four
// bytes say it is.
std::unique_ptr<SourceFile> OpenFolderFile(SetupApp& app, const std::string& path, SourceReading reading,
                                           const char* diskLabel) {
  int fd = OpenWaitingForDisk(app, path, diskLabel);
  if (fd < 0) return nullptr;
  if (reading == SourceReading::kAsStored) return std::make_unique<RawFile>(fd);
  unsigned char head[4];
  int got = _read(fd, head, 4);
  _close(fd);
  return OpenExpanded(path, HasZipSignature(head, got));
}

// Copies an open package entry or download into a temporary "fol" file and
// reopens that copy for expanded reading. The source is released on every
// path; null on failure, with no temporary file left behind.
std::unique_ptr<SourceFile> CopyToTemporaryFile(SetupApp& app, std::unique_ptr<SourceFile> source,
                                                const std::string& path, std::uint32_t expectedSize,
                                                const char* operation) {
  char dir[MAX_PATH];
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n >= sizeof dir || !GetTempFileNameA(dir, "fol", 0, temp)) return nullptr;
  int fd = _open(temp, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    DeleteFileA(temp);
    return nullptr;
  }
  ProgressLines(app, static_cast<std::int32_t>(expectedSize), path, temp);
  ProgressOperation(app, operation);
  std::uint32_t copied = 0;
  char chunk[1024];
  for (;;) {
    ProgressPosition(app, static_cast<std::int32_t>(copied));
    std::uint32_t got = source->Read(chunk, sizeof chunk);
    if (got == 0) break;
    copied += got;
    if (app.PollAbort() || _write(fd, chunk, got) != static_cast<int>(got)) {
      source.reset();
      _close(fd);
      DeleteFileA(temp);
      return nullptr;
    }
  }
  // The copy is complete: let the source go (a download's request closes
  // here; a package entry holds nothing of its own).
  source.reset();
  unsigned char head[4];
  int got = (_lseek(fd, 0, SEEK_SET) == 0) ? _read(fd, head, 4) : 0;
  _close(fd);
  if (expectedSize != 0 && copied != expectedSize) {
    DeleteFileA(temp);
    return nullptr;
  }
  std::unique_ptr<SourceFile> expanded = OpenExpanded(temp, HasZipSignature(head, got));
  if (!expanded) {
    DeleteFileA(temp);
    return nullptr;
  }
  return std::make_unique<TemporaryCopy>(std::move(expanded), temp);
}

// Finds name in the package directory (letter case ignored); false when absent.
bool FindPackageEntry(const SourceState& source, const std::string& name, std::uint32_t& offset,
                      std::uint32_t& size) {
  const auto& dir = source.packageDirectory;
  std::size_t pos = 0;
  PackageEntryView entry;
  while (NextPackageEntry(dir.data(), dir.size(), pos, entry)) {
    if (SameFileName(entry.name, name)) {
      offset = entry.offset;
      size = entry.size;
      return true;
    }
  }
  return false;
}

// An entry of the package: as stored, or through an expanded temporary copy.
std::unique_ptr<SourceFile> OpenPackageFile(SetupApp& app, const std::string& path, SourceReading reading,
                                            std::uint32_t expectedSize) {
  std::uint32_t offset = 0, size = 0;
  if (!FindPackageEntry(app.source, path, offset, size)) return nullptr;
  if (offset > 0x7FFFFFFF ||
      _lseek(app.source.packageDescriptor, static_cast<long>(offset), SEEK_SET) != static_cast<long>(offset))
    return nullptr;
  auto entry = std::make_unique<PackageEntryFile>(app.source.packageDescriptor, size);
  if (reading == SourceReading::kAsStored) return entry;
  return CopyToTemporaryFile(app, std::move(entry), path, expectedSize, "Odczytywanie");
}

// A file of the internet source: read straight from its request, or through
// an expanded temporary copy of the download. Null without a session, or
// when the user gave up opening the URL.
std::unique_ptr<SourceFile> OpenInternetFile(SetupApp& app, const std::string& url, SourceReading reading,
                                             std::uint32_t expectedSize) {
  if (!app.source.internetSession) return nullptr;
  HINTERNET request = OpenUrlRequest(app.source.internetSession, url);
  if (!request) return nullptr;
  auto download = std::make_unique<UrlRequestFile>(app.source, request);
  if (reading == SourceReading::kAsStored) return download;
  return CopyToTemporaryFile(app, std::move(download), url, expectedSize, "Pobieranie");
}

// Reads the package directory at the end of the source path when there is one.
void ProbePackage(SetupApp& app) {
  SourceState& s = app.source;
  s.packagePresent = false;
  int fd = _open(app.sourcePath.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return;
  PackageDirectoryPlace place;
  if (!ReadPackageTrailer(fd, place) || !ReadPackageDirectory(fd, place, s.packageDirectory)) {
    _close(fd);
    s.packageDirectory.clear();
    return;
  }
  s.packageDescriptor = fd;
  s.packageDirectoryPosition = place.position;
  s.packagePresent = true;
}

}  // namespace

std::string SourceFilePath(const SetupApp& app, const std::string& name) {
  std::string base;
  char separator = '\\';
  switch (app.sourceKind) {
    case kSourceInternet:
      base = app.internetPath;
      separator = '/';
      break;
    case kSourceNetwork:
      base = app.installPath;
      break;
    default:
      if (app.source.packagePresent) return name;
      base = app.sourcePath;
      break;
  }
  if (!base.empty() && base.back() != separator) base += separator;
  return base + name;
}

int OpenSource(SetupApp& app) {
  app.source.files.clear();
  switch (app.sourceKind) {
    case kSourceNetwork:
      return 1;
    case kSourceInternet:
      // Without a session (the user gave up connecting) the run goes on and
      // every file open fails.
      app.source.internetSession = OpenInternetSession();
      return app.source.internetSession != nullptr;
    default:
      ProbePackage(app);
      return 1;
  }
}

void CloseSource(SetupApp& app) {
  SourceState& s = app.source;
  if (s.internetSession) {
    // A request left open must not outlive its session.
    s.files.clear();
    CloseInternetHandle(s.internetSession);
    s.internetSession = nullptr;
  }
  if (s.packagePresent) {
    _close(s.packageDescriptor);
    s.packageDescriptor = -1;
    s.packageDirectory.clear();
    s.packagePresent = false;
  }
}

int OpenSourceFile(SetupApp& app, const std::string& path, SourceReading reading, std::uint32_t expectedSize,
                   const char* diskLabel) {
  int handle = TakeSlot(app.source);
  std::unique_ptr<SourceFile> file;
  if (app.sourceKind == kSourceInternet) {
    file = OpenInternetFile(app, path, reading, expectedSize);
  } else if (app.sourceKind == kSourceLocal && app.source.packagePresent) {
    file = OpenPackageFile(app, path, reading, expectedSize);
  } else {
    file = OpenFolderFile(app, path, reading, diskLabel);
  }
  if (!file) return -1;  // the slot stays free
  app.source.files[static_cast<std::size_t>(handle)] = std::move(file);
  return handle;
}

std::uint32_t ReadSourceFile(SetupApp& app, int handle, void* buffer, std::uint32_t count) {
  SourceFile* file = Slot(app, handle);
  if (!file || count == 0) return 0;
  return file->Read(buffer, count);
}

std::uint32_t SourceFileSize(SetupApp& app, int handle) {
  SourceFile* file = Slot(app, handle);
  return file ? file->Size() : 0;
}

void CloseSourceFile(SetupApp& app, int handle) {
  if (Slot(app, handle)) app.source.files[static_cast<std::size_t>(handle)].reset();
}

}  // namespace qor
