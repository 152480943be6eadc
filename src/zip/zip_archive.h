// ZIP archives read from a Stream, and the reader that serves an archive's
// first entry as an installation file.
//
// Layout of an archive (all fields little-endian):
//
//   [executable stub]            only in a self-extractor (starts with "MZ")
//   local header 1, data 1       "PK\3\4" ...
//   local header 2, data 2
//   ...
//   central header 1             "PK\1\2" ...  <- central directory offset
//   central header 2
//   ...
//   end record                   "PK\5\6", exactly the last 22 bytes
//
// Local header (30 bytes, then the name and the extra field):
//   0 signature 0x04034b50   4 version needed   6 flags   8 method
//   10 time   12 date   14 CRC-32   18 compressed size   22 uncompressed size
//   26 name length   28 extra length
// Central header (46 bytes, then the name, the extra field and the comment):
//   0 signature 0x02014b50   4 version made by   6 version needed   8 flags
//   10 method   12 time   14 date   16 CRC-32   20 compressed size
//   24 uncompressed size   28 name length   30 extra length
//   32 comment length   34 disk number   36 internal attributes
//   38 external attributes   42 local header offset
// End record (22 bytes):
//   0 signature 0x06054b50   4 this disk   6 directory's disk
//   8 entries on this disk   10 total entries   12 directory size
//   16 directory offset   20 comment length
//
// What is used: the end record's signature and directory offset; a central
// header's signature, flags (bit 0: encrypted), method (0 stored, 8
// deflated), uncompressed size, the three lengths and the local header
// offset; a local header's signature, name length and extra length (the
// local lengths may differ from the central ones). Offsets are positions from
// the start of the stream, so a self-extractor's directory gives positions in
// the whole file. A record at a position beyond the end of the stream, or at
// one the stream cannot be moved to (a file stream stops short of 2 GiB), is
// not read: the operation fails. The end record is looked for only as the
// last 22 bytes: an archive with a comment is not readable. Entry counts and
// CRCs are not consulted.
#pragma once
#include <cstdint>
#include <memory>

#include "zip/stream.h"

namespace qor {

enum ZipKind : int {
  kZipNotOpen = 0,
  kZipArchive = 1,                    // "ZIP Archive"
  kZipSelfExtractor = 2,              // "Self-Extractor ZIP Archive"
  kZipVolumed = 3,                    // "Volumed ZIP Archive"
  kZipVolumedSelfExtractor = 4,       // "Volumed Self-Extractor ZIP Archive"
};

// The name GetKind reports for a kind; "" for 0 and unknown kinds.
const char* ZipKindName(int kind);

// A reference-counted ZIP archive over a Stream. The archive takes no
// reference on its stream: the caller keeps the stream alive while the archive
// is used. The archive moves the stream's position at will.
//
// Only kinds 1 and 2 can be read; every operation except GetKind, Close,
// AddRef and Release needs a successful Open first.
class ZipArchive {
 public:
  virtual int AddRef() = 0;
  // Destroys the archive at zero; the stream is not released.
  virtual int Release() = 0;
  // Attaches to the stream and classifies it: 1 on success, 0 (state
  // unchanged) when the stream is shorter than 30 bytes, neither starts with a
  // local header nor with "MZ", or is an "MZ" file without a directory.
  virtual int Open(Stream* stream) = 0;
  virtual void Close() = 0;
  // When open: the kind and its name; otherwise kind 0 and "".
  virtual void GetKind(int* kind, const char** name) = 0;
  // Entry `index` of the central directory (0 is the first): its name, cut to
  // nameSize - 1 bytes and zero-terminated, and its uncompressed size.
  virtual int GetEntryInfo(std::uint32_t index, char* name, std::uint32_t nameSize, std::uint32_t* size) = 0;
  // Writes the entry's bytes to out: all of them (complete = 1), or, with a
  // limit that is not 0 and not above the entry's size, the first `limit`
  // bytes (complete = 0). Stored entries are copied in 512-byte pieces and
  // complete drops to 0 when out takes fewer bytes than offered; deflated
  // entries go through InflateEntry. 0 for an encrypted entry, another
  // method, or data that cannot be read.
  virtual int ExtractEntry(std::uint32_t index, Stream* out, std::uint32_t limit, int* complete) = 0;
  // Writing entries back is not supported: always 0.
  virtual int ReplaceEntry(std::uint32_t index, std::uint32_t count, Stream* source) = 0;

 protected:
  ~ZipArchive() = default;
};

// Always 1; *archive is a new ZipArchive (not open), or null when memory ran out.
int CreateZipArchive(ZipArchive** archive);

// An extracted entry held in memory, read like a file.
class ZipEntryReader {
 public:
  // Takes over the caller's reference on stream.
  explicit ZipEntryReader(MemoryStream* stream) : stream_(stream) {}
  ~ZipEntryReader() { stream_->Release(); }
  ZipEntryReader(const ZipEntryReader&) = delete;
  ZipEntryReader& operator=(const ZipEntryReader&) = delete;

  std::uint32_t Read(void* buffer, std::uint32_t count) { return stream_->Read(buffer, count); }
  // Origins 0, 1 and 2 as for a Stream; any other origin does nothing and gives 0.
  std::int32_t Seek(std::int32_t offset, int origin) {
    return origin >= 0 && origin <= 2 ? stream_->Seek(offset, origin) : 0;
  }
  // Length of the extracted entry.
  std::uint32_t Size() const { return stream_->Size(); }

 private:
  MemoryStream* stream_;
};

// Opens the archive file at path and extracts its first entry into memory;
// the file is closed again before this returns. Null when the file cannot be
// opened, is not a readable archive, its first entry cannot be extracted
// whole, or memory runs out.
std::unique_ptr<ZipEntryReader> OpenZipEntry(const char* path);

}  // namespace qor
