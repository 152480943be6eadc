#include "install/package.h"

#include <cstdio>
#include <cstring>

namespace qor {
namespace {

// Reads "LF" and the u32 after it at the current position.
bool ReadMarkerAndNumber(std::FILE* f, std::uint32_t& number) {
  unsigned char bytes[kPackageTrailerSize];
  if (std::fread(bytes, 1, sizeof bytes, f) != sizeof bytes) return false;
  if (bytes[0] != static_cast<unsigned char>(kPackageMarker[0]) ||
      bytes[1] != static_cast<unsigned char>(kPackageMarker[1]))
    return false;
  number = static_cast<std::uint32_t>(bytes[2]) | static_cast<std::uint32_t>(bytes[3]) << 8 |
           static_cast<std::uint32_t>(bytes[4]) << 16 | static_cast<std::uint32_t>(bytes[5]) << 24;
  return true;
}

bool ProbeTrailer(std::FILE* f) {
  std::uint32_t directoryPosition = 0;
  std::uint32_t directoryLength = 0;
  if (std::fseek(f, -static_cast<long>(kPackageTrailerSize), SEEK_END) != 0) return false;
  if (!ReadMarkerAndNumber(f, directoryPosition)) return false;
  // A position the stream cannot seek to (beyond what a long holds) is no
  // position of this file.
  if (directoryPosition > 0x7FFFFFFFu) return false;
  const long position = static_cast<long>(directoryPosition);
  if (std::fseek(f, position, SEEK_SET) != 0 || std::ftell(f) != position) return false;
  return ReadMarkerAndNumber(f, directoryLength);
}

}  // namespace

bool IsPackageFile(const char* path) {
  if (!path || !*path) return false;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  const bool ok = ProbeTrailer(f);
  std::fclose(f);
  return ok;
}

bool NextPackageEntry(const unsigned char* directory, std::size_t length, std::size_t& pos, PackageEntryView& entry) {
  if (pos >= length || directory[pos] == 0) return false;
  const void* end = std::memchr(directory + pos, 0, length - pos);
  if (!end) return false;
  std::size_t nameLength = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - (directory + pos));
  if (length - pos - nameLength - 1 < 8) return false;
  const unsigned char* numbers = directory + pos + nameLength + 1;
  entry.name = reinterpret_cast<const char*>(directory + pos);
  entry.offset = numbers[0] | (numbers[1] << 8) | (numbers[2] << 16) | (static_cast<std::uint32_t>(numbers[3]) << 24);
  entry.size = numbers[4] | (numbers[5] << 8) | (numbers[6] << 16) | (static_cast<std::uint32_t>(numbers[7]) << 24);
  pos += nameLength + 1 + 8;
  return true;
}

}  // namespace qor
