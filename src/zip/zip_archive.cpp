#include "zip/zip_archive.h"

#include <cstring>
#include <new>

#include "zip/fd_io.h"
#include "zip/inflate.h"
#include "zip/little_endian.h"

namespace qor {

namespace {

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kLocalSize = 30;
constexpr std::uint32_t kCentralSize = 46;
constexpr std::uint32_t kEndSize = 22;
constexpr std::uint32_t kPiece = 512;  // stored entries are copied in pieces of this size

// Reads exactly count bytes at the stream's position; false when the stream
// delivers fewer (a record cut off by the end of the stream is unusable).
bool ReadExact(Stream* s, void* buffer, std::uint32_t count) {
  return s->Read(buffer, count) == count;
}

// Moves to pos within a stream of `size` bytes; false when pos lies beyond
// the end or the stream did not get there. A file stream cannot reach
// positions of 2 GiB and more: its Seek says -1 and leaves the position
// where it was, and reading on from there would take some other part of the
// archive for the record that was asked for.
bool SeekTo(Stream* s, std::uint64_t pos, std::uint32_t size) {
  if (pos > size) return false;
  const std::int32_t reached = s->Seek(static_cast<std::int32_t>(static_cast<std::uint32_t>(pos)), 0);
  return static_cast<std::uint32_t>(reached) == pos;
}

struct CentralHeader {
  std::uint32_t position = 0;  // of the header in the stream
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t size = 0;      // uncompressed
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
  std::uint16_t commentLength = 0;
  std::uint32_t localOffset = 0;
};

bool ReadCentralHeader(Stream* s, std::uint32_t size, std::uint32_t pos, CentralHeader& h) {
  unsigned char raw[kCentralSize];
  if (!SeekTo(s, pos, size) || !ReadExact(s, raw, kCentralSize) || Le32(raw) != kCentralSig) return false;
  h.position = pos;
  h.flags = Le16(raw + 8);
  h.method = Le16(raw + 10);
  h.size = Le32(raw + 24);
  h.nameLength = Le16(raw + 28);
  h.extraLength = Le16(raw + 30);
  h.commentLength = Le16(raw + 32);
  h.localOffset = Le32(raw + 42);
  return true;
}

class ZipArchiveImpl final : public ZipArchive {
 public:
  int AddRef() override { return ++refs_; }
  int Release() override {
    if (--refs_ > 0) return refs_;
    delete this;
    return 0;
  }
  int Open(Stream* stream) override;
  void Close() override { open_ = 0; }
  void GetKind(int* kind, const char** name) override {
    *kind = open_ ? kind_ : kZipNotOpen;
    *name = ZipKindName(*kind);
  }
  int GetEntryInfo(std::uint32_t index, char* name, std::uint32_t nameSize, std::uint32_t* size) override;
  int ExtractEntry(std::uint32_t index, Stream* out, std::uint32_t limit, int* complete) override;
  int ReplaceEntry(std::uint32_t, std::uint32_t, Stream*) override { return 0; }

 private:
  bool Readable() const { return open_ && (kind_ == kZipArchive || kind_ == kZipSelfExtractor); }
  bool FindEntry(std::uint32_t index, CentralHeader& h);

  std::int32_t kind_ = kZipNotOpen;
  std::int32_t refs_ = 1;
  std::int32_t open_ = 0;
  std::uint32_t streamSize_ = 0;
  std::uint32_t directory_ = 0;  // offset of the central directory, 0 when none was found
  Stream* stream_ = nullptr;     // not counted
};

// The end record is expected as the last 22 bytes; its directory offset
// counts only when a central header signature stands there. 0 when not found.
std::uint32_t LocateDirectory(Stream* s, std::uint32_t streamSize) {
  unsigned char end[kEndSize];
  if (!SeekTo(s, streamSize - kEndSize, streamSize) || !ReadExact(s, end, kEndSize) || Le32(end) != kEndSig) return 0;
  std::uint32_t offset = Le32(end + 16);
  unsigned char sig[4];
  if (!SeekTo(s, offset, streamSize) || !ReadExact(s, sig, 4) || Le32(sig) != kCentralSig) return 0;
  return offset;
}

int ZipArchiveImpl::Open(Stream* stream) {
  std::intptr_t size = stream->GetProperty(Stream::kSizeProperty);
  if (size < static_cast<std::intptr_t>(kLocalSize)) return 0;
  const std::uint32_t streamSize = static_cast<std::uint32_t>(size);
  unsigned char head[kLocalSize];
  stream->Seek(0, 0);
  if (!ReadExact(stream, head, kLocalSize)) return 0;
  std::uint32_t directory = LocateDirectory(stream, streamSize);
  int kind;
  if (Le32(head) == kLocalSig) {
    kind = directory ? kZipArchive : kZipVolumed;
  } else if (head[0] == 'M' && head[1] == 'Z' && directory) {
    kind = kZipSelfExtractor;
  } else {
    return 0;
  }
  stream_ = stream;
  streamSize_ = streamSize;
  directory_ = directory;
  kind_ = kind;
  open_ = 1;
  return 1;
}

// Walks the central directory from its start to entry `index`. Past the last
// entry the walk meets the end record, whose signature does not match.
bool ZipArchiveImpl::FindEntry(std::uint32_t index, CentralHeader& h) {
  if (!Readable()) return false;
  std::uint64_t pos = directory_;
  for (std::uint32_t i = 0; i < index; ++i) {
    if (!ReadCentralHeader(stream_, streamSize_, static_cast<std::uint32_t>(pos), h)) return false;
    pos += kCentralSize + static_cast<std::uint64_t>(h.nameLength) + h.extraLength + h.commentLength;
    if (pos >= streamSize_) return false;
  }
  return ReadCentralHeader(stream_, streamSize_, static_cast<std::uint32_t>(pos), h);
}

int ZipArchiveImpl::GetEntryInfo(std::uint32_t index, char* name, std::uint32_t nameSize, std::uint32_t* size) {
  if (!Readable()) return 0;
  if (size) *size = 0;
  if (name && nameSize) name[0] = '\0';
  CentralHeader h;
  if (!FindEntry(index, h)) return 0;
  if (name && nameSize && h.nameLength) {
    // The header was just read, so the stream stands at the name. A name
    // longer than the buffer is cut to fit; a name cut off by the end of
    // the stream keeps the part that is there.
    const std::uint32_t keep = h.nameLength < nameSize - 1 ? h.nameLength : nameSize - 1;
    const std::uint32_t got = stream_->Read(name, keep);
    name[got <= keep ? got : 0] = '\0';
  }
  if (size) *size = h.size;
  return 1;
}

int ZipArchiveImpl::ExtractEntry(std::uint32_t index, Stream* out, std::uint32_t limit, int* complete) {
  *complete = 0;
  CentralHeader h;
  if (!FindEntry(index, h) || (h.flags & 1)) return 0;  // encrypted entries are refused before any data is read

  unsigned char local[kLocalSize];
  if (!SeekTo(stream_, h.localOffset, streamSize_) || !ReadExact(stream_, local, kLocalSize) || Le32(local) != kLocalSig) return 0;
  const std::uint64_t data = static_cast<std::uint64_t>(h.localOffset) + kLocalSize + Le16(local + 26) + Le16(local + 28);
  if (!SeekTo(stream_, data, streamSize_)) return 0;

  std::uint32_t n = h.size;
  bool capped = limit != 0 && n >= limit;
  if (capped) n = limit;

  if (h.method == 0) {
    int whole = capped ? 0 : 1;
    unsigned char piece[kPiece];
    while (n > 0) {
      std::uint32_t want = n < kPiece ? n : kPiece;
      if (!ReadExact(stream_, piece, want)) return 0;  // the archive ends inside the entry
      if (out->Write(piece, want) < want) whole = 0;
      n -= want;
    }
    *complete = whole;
    return 1;
  }
  if (h.method == 8) {
    if (!InflateEntry(stream_, out, n, capped)) return 0;
    *complete = capped ? 0 : 1;
    return 1;
  }
  return 0;
}

}  // namespace

const char* ZipKindName(int kind) {
  switch (kind) {
    case kZipArchive: return "ZIP Archive";
    case kZipSelfExtractor: return "Self-Extractor ZIP Archive";
    case kZipVolumed: return "Volumed ZIP Archive";
    case kZipVolumedSelfExtractor: return "Volumed Self-Extractor ZIP Archive";
    default: return "";
  }
}

int CreateZipArchive(ZipArchive** archive) {
  *archive = new (std::nothrow) ZipArchiveImpl();
  return 1;
}

std::unique_ptr<ZipEntryReader> OpenZipEntry(const char* path) {
  int fd = FdOpenRead(path);
  if (fd < 0) return nullptr;
  FileStream* file = new (std::nothrow) FileStream(fd);
  if (!file) {
    FdClose(fd);
    return nullptr;
  }
  ZipArchive* archive = nullptr;
  MemoryStream* entry = nullptr;
  CreateZipArchive(&archive);
  CreateMemoryStream(&entry);

  bool ok = archive && entry && archive->Open(file);
  if (ok) {
    char name[512];
    std::uint32_t size = 0;
    int complete = 0;
    ok = archive->GetEntryInfo(0, name, sizeof name, &size) &&
         archive->ExtractEntry(0, entry, 0, &complete) &&
         complete;  // with no limit, 0 means the memory stream could not take every byte
  }
  file->Release();  // closes the file
  if (archive) archive->Release();
  if (!ok) {
    if (entry) entry->Release();
    return nullptr;
  }
  entry->Seek(0, 0);
  std::unique_ptr<ZipEntryReader> reader(new (std::nothrow) ZipEntryReader(entry));
  if (!reader) entry->Release();
  return reader;
}

}  // namespace qor
