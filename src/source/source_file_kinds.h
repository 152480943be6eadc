// The kinds of open installation file behind a source-file handle, one class
// each: a file of a folder or floppy read as stored, a file read through the
// LZ library, a ZIP archive read through its first entry, an entry of the
// package, a request to the internet source, and an expanded temporary copy.
// Each reads what it opened and releases it when it goes; the open-file table
// (source/source_files.h) owns the objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "source/source_files.h"

namespace qor {

class ZipEntryReader;

// A file of a folder or a floppy read as stored; owns its descriptor.
class RawFile final : public SourceFile {
 public:
  explicit RawFile(int descriptor) : descriptor_(descriptor) {}
  ~RawFile() override;

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Size() override;

 private:
  int descriptor_;
};

// A file read through the LZ library: the expanded bytes of an SZDD file, the
// stored bytes of any other. Owns its LZ handle.
class LzFile final : public SourceFile {
 public:
  // Opens path for reading with writing denied to others; null when the LZ
  // library cannot open it.
  static std::unique_ptr<LzFile> Open(const std::string& path);
  ~LzFile() override;

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // Seeks by 0 to the end and back to where reading stands.
  std::uint32_t Size() override;

 private:
  explicit LzFile(int handle) : handle_(handle) {}
  int handle_;
};

// A ZIP archive read through its first entry, extracted into memory.
class ZipEntryFile final : public SourceFile {
 public:
  // Opens the archive at path; null when it cannot be read (OpenZipEntry).
  static std::unique_ptr<ZipEntryFile> Open(const std::string& path);
  ~ZipEntryFile() override;

  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Size() override;

 private:
  explicit ZipEntryFile(std::unique_ptr<ZipEntryReader> reader);
  std::unique_ptr<ZipEntryReader> reader_;
};

// An entry of the package, read as stored from the package's descriptor, which
// the source shares among all entries and closes itself: nothing to release.
// The descriptor stands at the entry's first byte when the object is made.
class PackageEntryFile final : public SourceFile {
 public:
  PackageEntryFile(int packageDescriptor, std::uint32_t size) : descriptor_(packageDescriptor), remaining_(size) {}

  // At most the entry's bytes not yet read.
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // The bytes not yet read (the entry's size before the first read).
  std::uint32_t Size() override { return remaining_; }

 private:
  int descriptor_;
  std::uint32_t remaining_;
};

// A file of the internet source read straight from its request (setup.dat),
// or while it is copied into a temporary file. Owns the request handle and
// closes it when it goes; reads nothing once the source's session is gone.
class UrlRequestFile final : public SourceFile {
 public:
  UrlRequestFile(const SourceState& source, void* request) : source_(source), request_(request) {}
  ~UrlRequestFile() override;

  // A failed read is offered for retry; 0 when the user cancels.
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  // The size of a download is not asked of the server: 0.
  std::uint32_t Size() override { return 0; }

 private:
  const SourceState& source_;
  void* request_;
};

// A temporary file holding a copy of a package entry or a download, read
// expanded. The copy is deleted once the file read from it is closed.
class TemporaryCopy final : public SourceFile {
 public:
  TemporaryCopy(std::unique_ptr<SourceFile> expanded, std::string path)
      : expanded_(std::move(expanded)), path_(std::move(path)) {}
  ~TemporaryCopy() override;

  std::uint32_t Read(void* buffer, std::uint32_t count) override { return expanded_->Read(buffer, count); }
  std::uint32_t Size() override { return expanded_->Size(); }

 private:
  std::unique_ptr<SourceFile> expanded_;
  std::string path_;
};

// True when the first bytes of a file (got of them were read) are the ZIP
// local header signature "PK" 3 4; fewer than 4 bytes are no signature.
bool HasZipSignature(const unsigned char head[4], int got);

// Opens path for expanded reading: a ZIP archive through its first entry,
// anything else through the LZ library. Null when that fails.
std::unique_ptr<SourceFile> OpenExpanded(const std::string& path, bool zip);

}  // namespace qor
