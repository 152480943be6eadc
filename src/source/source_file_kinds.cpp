#include "source/source_file_kinds.h"

#include <windows.h>
#include <io.h>
#include <lzexpand.h>

#include <cstring>

#include "source/internet.h"
#include "zip/zip_archive.h"

namespace qor {

RawFile::~RawFile() { _close(descriptor_); }

std::uint32_t RawFile::Read(void* buffer, std::uint32_t count) {
  int n = _read(descriptor_, buffer, count);
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

std::uint32_t RawFile::Size() {
  long n = _filelength(descriptor_);
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

std::unique_ptr<LzFile> LzFile::Open(const std::string& path) {
  OFSTRUCT ofs = {};
  INT lz = LZOpenFileA(const_cast<char*>(path.c_str()), &ofs, OF_READ | OF_SHARE_DENY_WRITE);
  if (lz < 0) {
    // LZOpenFileA opens through OpenFile, whose OFSTRUCT holds only 128
    // characters of the full path, so a longer path fails there. Do what it
    // does by hand: open the file, then let LZInit look for the SZDD header
    // (it hands back the file itself when there is none, or when it cannot
    // set up the expansion, just as LZOpenFileA would).
    HFILE file = _lopen(path.c_str(), OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR) return nullptr;
    INT expanded = LZInit(file);
    lz = expanded > 0 ? expanded : file;
  }
  return std::unique_ptr<LzFile>(new LzFile(lz));
}

LzFile::~LzFile() { LZClose(handle_); }

std::uint32_t LzFile::Read(void* buffer, std::uint32_t count) {
  INT n = LZRead(handle_, static_cast<char*>(buffer), static_cast<INT>(count));
  return n > 0 ? static_cast<std::uint32_t>(n) : 0;
}

std::uint32_t LzFile::Size() {
  LONG here = LZSeek(handle_, 0, 1);
  if (here < 0) return 0;
  LONG end = LZSeek(handle_, 0, 2);
  LZSeek(handle_, here, 0);
  return end > 0 ? static_cast<std::uint32_t>(end) : 0;
}

ZipEntryFile::ZipEntryFile(std::unique_ptr<ZipEntryReader> reader) : reader_(std::move(reader)) {}

// The reader releases its memory stream.
ZipEntryFile::~ZipEntryFile() = default;

std::unique_ptr<ZipEntryFile> ZipEntryFile::Open(const std::string& path) {
  std::unique_ptr<ZipEntryReader> reader = OpenZipEntry(path.c_str());
  if (!reader) return nullptr;
  return std::unique_ptr<ZipEntryFile>(new ZipEntryFile(std::move(reader)));
}

std::uint32_t ZipEntryFile::Read(void* buffer, std::uint32_t count) { return reader_->Read(buffer, count); }

std::uint32_t ZipEntryFile::Size() { return reader_->Size(); }

std::uint32_t PackageEntryFile::Read(void* buffer, std::uint32_t count) {
  if (count > remaining_) count = remaining_;
  if (count == 0) return 0;
  int n = _read(descriptor_, buffer, count);
  if (n <= 0) return 0;
  remaining_ -= static_cast<std::uint32_t>(n);
  return static_cast<std::uint32_t>(n);
}

UrlRequestFile::~UrlRequestFile() { CloseInternetHandle(request_); }

std::uint32_t UrlRequestFile::Read(void* buffer, std::uint32_t count) {
  if (!source_.internetSession) return 0;
  return ReadUrlRequest(request_, buffer, count);
}

TemporaryCopy::~TemporaryCopy() {
  expanded_.reset();  // the file is closed before it can be deleted
  DeleteFileA(path_.c_str());
}

bool HasZipSignature(const unsigned char head[4], int got) {
  static constexpr unsigned char kZipSignature[4] = {'P', 'K', 0x03, 0x04};
  return got == 4 && std::memcmp(head, kZipSignature, 4) == 0;
}

std::unique_ptr<SourceFile> OpenExpanded(const std::string& path, bool zip) {
  if (zip) return ZipEntryFile::Open(path);
  return LzFile::Open(path);
}

}  // namespace qor
