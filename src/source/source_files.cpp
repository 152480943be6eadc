#include "source/source_files.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <lzexpand.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "app/progress.h"
#include "app/setup_app.h"
#include "install/package.h"
#include "zip/zip_archive.h"

namespace qor {
namespace {

constexpr unsigned char kZipSignature[4] = {'P', 'K', 0x03, 0x04};

// File names compare as Windows compares them: letter case ignored, Polish
// letters included.
bool SameFileName(const char* a, const std::string& b) { return lstrcmpiA(a, b.c_str()) == 0; }

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Reads exactly n bytes from a descriptor.
bool ReadExact(int fd, void* buffer, unsigned n) { return _read(fd, buffer, n) == static_cast<int>(n); }

// Takes the slot a new file goes to: the last one when it is free, else a new one.
int TakeSlot(SourceState& source) {
  if (source.files.empty() || source.files.back().kind != kSlotFree) source.files.emplace_back();
  SourceFileSlot& slot = source.files.back();
  slot = SourceFileSlot();
  return static_cast<int>(source.files.size() - 1);
}

SourceFileSlot* Slot(SetupApp& app, int handle) {
  if (handle < 0 || static_cast<std::size_t>(handle) >= app.source.files.size()) return nullptr;
  SourceFileSlot& slot = app.source.files[static_cast<std::size_t>(handle)];
  return slot.kind == kSlotFree ? nullptr : &slot;
}

// The first four bytes of a file, to tell a ZIP archive from the rest.
bool HasZipSignature(const unsigned char head[4], int got) {
  return got == 4 && std::memcmp(head, kZipSignature, 4) == 0;
}

// Opens path for expanded reading into slot: a ZIP archive through its first
// entry, anything else through the LZ library (which reads an uncompressed
// file as stored).
bool OpenExpanded(SourceFileSlot& slot, const std::string& path, bool zip) {
  if (zip) {
    slot.zip = OpenZipEntry(path.c_str()).release();
    return slot.zip != nullptr;
  }
  OFSTRUCT ofs = {};
  INT lz = LZOpenFileA(const_cast<char*>(path.c_str()), &ofs, OF_READ | OF_SHARE_DENY_WRITE);
  if (lz < 0) {
    // LZOpenFileA opens through OpenFile, whose OFSTRUCT holds only 128
    // characters of the full path, so a longer path fails there. Do what it
    // does by hand: open the file, then let LZInit look for the SZDD header
    // (it hands back the file itself when there is none, or when it cannot
    // set up the expansion, just as LZOpenFileA would).
    HFILE file = _lopen(path.c_str(), OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR) return false;
    INT expanded = LZInit(file);
    lz = expanded > 0 ? expanded : file;
  }
  slot.handle = lz;
  return true;
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

// Copies an open package entry or download into a temporary "fol" file and
// reopens that copy for expanded reading.
int CopyToTemporaryFile(SetupApp& app, int handle, const std::string& path, std::uint32_t expectedSize,
                        const char* operation) {
  char dir[MAX_PATH];
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n >= sizeof dir || !GetTempFileNameA(dir, "fol", 0, temp)) {
    CloseSourceFile(app, handle);
    return -1;
  }
  int fd = _open(temp, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    CloseSourceFile(app, handle);
    DeleteFileA(temp);
    return -1;
  }
  ProgressLines(app, static_cast<std::int32_t>(expectedSize), path, temp);
  ProgressOperation(app, operation);
  std::uint32_t copied = 0;
  char chunk[1024];
  for (;;) {
    ProgressPosition(app, static_cast<std::int32_t>(copied));
    std::uint32_t got = ReadSourceFile(app, handle, chunk, sizeof chunk);
    if (got == 0) break;
    copied += got;
    if (app.PollAbort() || _write(fd, chunk, got) != static_cast<int>(got)) {
      CloseSourceFile(app, handle);
      _close(fd);
      DeleteFileA(temp);
      return -1;
    }
  }
  unsigned char head[4];
  int got = (_lseek(fd, 0, SEEK_SET) == 0) ? _read(fd, head, 4) : 0;
  _close(fd);
  if (expectedSize != 0 && copied != expectedSize) {
    CloseSourceFile(app, handle);
    DeleteFileA(temp);
    return -1;
  }
  SourceFileSlot& slot = app.source.files[static_cast<std::size_t>(handle)];
  if (slot.kind == kSlotUrlRequest) {
    CloseSourceFile(app, handle);  // the download is complete: let the request go
  }
  // The package descriptor is shared and stays open.
  SourceFileSlot fresh;
  if (!OpenExpanded(fresh, temp, HasZipSignature(head, got))) {
    app.source.files[static_cast<std::size_t>(handle)] = SourceFileSlot();
    DeleteFileA(temp);
    return -1;
  }
  fresh.kind = kSlotExpandedTemp;
  fresh.temporaryFile = temp;
  app.source.files[static_cast<std::size_t>(handle)] = fresh;
  return handle;
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

// Reads the package directory at the end of the source path when there is one.
void ProbePackage(SetupApp& app) {
  SourceState& s = app.source;
  s.packagePresent = false;
  int fd = _open(app.sourcePath.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return;
  unsigned char mark[6];
  bool ok = _lseek(fd, -6, SEEK_END) >= 0 && ReadExact(fd, mark, 6) && mark[0] == 'L' && mark[1] == 'F';
  std::uint32_t position = ok ? Le32(mark + 2) : 0;
  ok = ok && position <= 0x7FFFFFFF && _lseek(fd, static_cast<long>(position), SEEK_SET) == static_cast<long>(position) &&
       ReadExact(fd, mark, 6) && mark[0] == 'L' && mark[1] == 'F';
  if (ok) {
    std::uint32_t length = Le32(mark + 2);
    long fileLength = _filelength(fd);
    // A directory longer than the file cannot be read whole: not a package.
    ok = fileLength >= 0 && length <= static_cast<std::uint32_t>(fileLength);
    if (ok) {
      s.packageDirectory.assign(length, 0);
      ok = length == 0 || ReadExact(fd, s.packageDirectory.data(), length);
    }
  }
  if (!ok) {
    _close(fd);
    s.packageDirectory.clear();
    return;
  }
  s.packageDescriptor = fd;
  s.packageDirectoryPosition = position;
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
      // The internet session comes with the internet transfer; without it
      // every file open fails.
      return app.source.internetSession != nullptr;
    default:
      ProbePackage(app);
      return 1;
  }
}

void CloseSource(SetupApp& app) {
  SourceState& s = app.source;
  if (s.packagePresent) {
    _close(s.packageDescriptor);
    s.packageDescriptor = -1;
    s.packageDirectory.clear();
    s.packagePresent = false;
  }
}

int OpenSourceFile(SetupApp& app, const std::string& path, int expand, std::uint32_t expectedSize,
                   const char* diskLabel) {
  int handle = TakeSlot(app.source);
  auto slot = [&]() -> SourceFileSlot& { return app.source.files[static_cast<std::size_t>(handle)]; };

  if (app.sourceKind == kSourceInternet) {
    return -1;  // no internet session in this program yet
  }

  if (app.sourceKind == kSourceLocal && app.source.packagePresent) {
    std::uint32_t offset = 0, size = 0;
    if (!FindPackageEntry(app.source, path, offset, size)) return -1;
    if (offset > 0x7FFFFFFF ||
        _lseek(app.source.packageDescriptor, static_cast<long>(offset), SEEK_SET) != static_cast<long>(offset))
      return -1;
    slot().kind = kSlotPackageEntry;
    slot().handle = app.source.packageDescriptor;
    slot().remaining = size;
    if (!expand) return handle;
    return CopyToTemporaryFile(app, handle, path, expectedSize, "Odczytywanie");
  }

  // A folder or a disk: ask for the floppy while the file is missing from a
  // removable drive.
  int fd;
  for (;;) {
    if (app.PollAbort()) return -1;
    fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd >= 0) break;
    if (!OnRemovableDrive(path)) return -1;
    char text[1024];
    if (diskLabel && *diskLabel)
      std::snprintf(text, sizeof text, "Włóż dyskietkę oznaczoną jako \"%s\"", diskLabel);
    else
      std::snprintf(text, sizeof text, "Brak pliku \"%s\"\nZmień dyskietkę lub przerwij instalowanie.", path.c_str());
    if (ShowMessage(text, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) return -1;
  }
  if (!expand) {
    slot().kind = kSlotRawFile;
    slot().handle = fd;
    return handle;
  }
  unsigned char head[4];
  int got = _read(fd, head, 4);
  _close(fd);
  if (!OpenExpanded(slot(), path, HasZipSignature(head, got))) {
    slot() = SourceFileSlot();
    return -1;
  }
  slot().kind = kSlotExpanded;
  return handle;
}

std::uint32_t ReadSourceFile(SetupApp& app, int handle, void* buffer, std::uint32_t count) {
  SourceFileSlot* slot = Slot(app, handle);
  if (!slot || count == 0) return 0;
  switch (slot->kind) {
    case kSlotRawFile: {
      int n = _read(slot->handle, buffer, count);
      return n > 0 ? static_cast<std::uint32_t>(n) : 0;
    }
    case kSlotPackageEntry: {
      if (count > slot->remaining) count = slot->remaining;
      if (count == 0) return 0;
      int n = _read(slot->handle, buffer, count);
      if (n <= 0) return 0;
      slot->remaining -= static_cast<std::uint32_t>(n);
      return static_cast<std::uint32_t>(n);
    }
    case kSlotExpanded:
    case kSlotExpandedTemp: {
      if (slot->zip) return slot->zip->Read(buffer, count);
      INT n = LZRead(slot->handle, static_cast<char*>(buffer), static_cast<INT>(count));
      return n > 0 ? static_cast<std::uint32_t>(n) : 0;
    }
    default:
      return 0;
  }
}

std::uint32_t SourceFileSize(SetupApp& app, int handle) {
  SourceFileSlot* slot = Slot(app, handle);
  if (!slot) return 0;
  switch (slot->kind) {
    case kSlotPackageEntry:
      return slot->remaining;
    case kSlotRawFile: {
      long n = _filelength(slot->handle);
      return n > 0 ? static_cast<std::uint32_t>(n) : 0;
    }
    case kSlotExpanded:
    case kSlotExpandedTemp: {
      if (slot->zip) return slot->zip->Size();
      LONG here = LZSeek(slot->handle, 0, 1);
      if (here < 0) return 0;
      LONG end = LZSeek(slot->handle, 0, 2);
      LZSeek(slot->handle, here, 0);
      return end > 0 ? static_cast<std::uint32_t>(end) : 0;
    }
    default:
      return 0;
  }
}

void CloseSourceFile(SetupApp& app, int handle) {
  SourceFileSlot* slot = Slot(app, handle);
  if (!slot) return;
  switch (slot->kind) {
    case kSlotRawFile:
      _close(slot->handle);
      break;
    case kSlotExpanded:
    case kSlotExpandedTemp:
      if (slot->zip)
        delete slot->zip;  // releases its memory stream
      else
        LZClose(slot->handle);
      if (slot->kind == kSlotExpandedTemp) DeleteFileA(slot->temporaryFile.c_str());
      break;
    default:
      break;  // a package entry shares the package descriptor
  }
  *slot = SourceFileSlot();
}

}  // namespace qor
