// Installation files, whatever the source: a folder or floppy set, the package
// appended to the setup program, or the internet.
//
// A caller names a file (SourceFilePath), opens it (OpenSourceFile), reads
// the expanded bytes sequentially (ReadSourceFile) and closes it. Handles are
// indexes into the open-file table: a new file takes a new last slot unless
// the last slot is free, so a slot freed in the middle is reused only once it
// is the last one. Each slot owns one SourceFile of its kind
// (source/source_file_kinds.h), which reads and releases what it opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qor {

class SetupApp;

// One open installation file. It reads the bytes of what it opened and
// releases that when it is destroyed; it is never copied, so that what it
// holds is released once.
class SourceFile {
 public:
  SourceFile() = default;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  virtual ~SourceFile() = default;
  // Bytes placed in buffer (at most count, which is not 0); 0 at the end of
  // the file or on an error.
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
  // The size in bytes (the expanded size of an expanded file), 0 when it
  // cannot be told. The read position stays where it was.
  virtual std::uint32_t Size() = 0;
};

// How an installation file is read.
enum class SourceReading {
  kAsStored,  // the bytes as stored (setup.dat, the files of a package being built)
  kExpanded,  // SZDD files expanded through the LZ library, ZIP archives read
              // through their first entry, anything else as stored
};

// Source state of a run, valid between OpenSource and CloseSource.
struct SourceState {
  bool packagePresent = false;
  int packageDescriptor = -1;  // shared by every package entry; closed by CloseSource
  std::vector<unsigned char> packageDirectory;  // entries as stored
  std::uint32_t packageDirectoryPosition = 0;
  void* internetSession = nullptr;
  std::vector<std::unique_ptr<SourceFile>> files;  // the open-file table; null: a free slot
};

std::string SourceFilePath(const SetupApp& app, const std::string& name);
int OpenSource(SetupApp& app);
void CloseSource(SetupApp& app);
// Returns a handle, or -1. expectedSize (0: unknown) is checked on temporary
// copies; diskLabel (may be null) names the floppy in the insert-disk prompt.
int OpenSourceFile(SetupApp& app, const std::string& path, SourceReading reading, std::uint32_t expectedSize,
                   const char* diskLabel);
std::uint32_t ReadSourceFile(SetupApp& app, int handle, void* buffer, std::uint32_t count);
std::uint32_t SourceFileSize(SetupApp& app, int handle);
void CloseSourceFile(SetupApp& app, int handle);

}  // namespace qor
