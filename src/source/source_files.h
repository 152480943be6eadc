// Installation files, whatever the source: a folder or floppy set, the package
// appended to the setup program, or the internet.
//
// A caller names a file (SourceFilePath), opens it (OpenSourceFile), reads
// the expanded bytes sequentially (ReadSourceFile) and closes it. Handles are
// indexes into the open-file table: a new file takes a new last slot unless
// the last slot is free, so a slot freed in the middle is reused only once it
// is the last one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qor {

class SetupApp;
class ZipEntryReader;

enum SourceSlotKind : std::int32_t {
  kSlotFree = -1,
  kSlotRawFile = 0,       // descriptor of a file read as stored
  kSlotExpanded = 1,      // LZ handle (or ZIP reader) on a file of the source
  kSlotUrlRequest = 2,    // internet request read as it arrives
  kSlotExpandedTemp = 3,  // LZ handle (or ZIP reader) on a temporary copy
  kSlotPackageEntry = 4,  // an entry of the package: the shared descriptor
};

struct SourceFileSlot {
  std::int32_t kind = kSlotFree;
  std::int32_t handle = -1;  // descriptor or LZ handle, by kind
  void* request = nullptr;   // internet request handle
  std::string temporaryFile;
  std::uint32_t remaining = 0;  // package entry bytes not yet read
  ZipEntryReader* zip = nullptr;  // set when the file is a ZIP archive; owned
};

// Source state of a run, valid between OpenSource and CloseSource.
struct SourceState {
  bool packagePresent = false;
  int packageDescriptor = -1;
  std::vector<unsigned char> packageDirectory;  // entries as stored
  std::uint32_t packageDirectoryPosition = 0;
  void* internetSession = nullptr;
  std::vector<SourceFileSlot> files;
};

std::string SourceFilePath(const SetupApp& app, const std::string& name);
int OpenSource(SetupApp& app);
void CloseSource(SetupApp& app);
// Returns a handle, or -1. expand 0 gives the bytes as stored; 1 expands SZDD
// files through the LZ library and reads ZIP archives through their first
// entry. expectedSize (0: unknown) is checked on temporary copies; diskLabel
// (may be null) names the floppy in the insert-disk prompt.
int OpenSourceFile(SetupApp& app, const std::string& path, int expand, std::uint32_t expectedSize,
                   const char* diskLabel);
std::uint32_t ReadSourceFile(SetupApp& app, int handle, void* buffer, std::uint32_t count);
std::uint32_t SourceFileSize(SetupApp& app, int handle);
void CloseSourceFile(SetupApp& app, int handle);

}  // namespace qor
