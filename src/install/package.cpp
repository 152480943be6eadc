#include "install/package.h"

#include <cstdio>

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

}  // namespace qor
