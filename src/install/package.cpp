#include "install/package.h"

#include <cstring>

#include "zip/little_endian.h"
#include "zip/fd_io.h"

namespace qor {
namespace {

// Reads "LF" and the u32 after it at the current position.
bool ReadMarkerAndNumber(int fd, std::uint32_t& number) {
  unsigned char bytes[kPackageTrailerSize];
  if (FdRead(fd, bytes, sizeof bytes) != static_cast<std::int32_t>(sizeof bytes)) return false;
  if (bytes[0] != static_cast<unsigned char>(kPackageMarker[0]) ||
      bytes[1] != static_cast<unsigned char>(kPackageMarker[1]))
    return false;
  number = Le32(bytes + 2);
  return true;
}

}  // namespace

bool ReadPackageTrailer(int fd, PackageDirectoryPlace& place) {
  std::uint32_t position = 0;
  std::uint32_t length = 0;
  if (FdSeek(fd, -static_cast<std::int32_t>(kPackageTrailerSize), 2) < 0) return false;
  if (!ReadMarkerAndNumber(fd, position)) return false;
  // A position the descriptor cannot seek to (beyond what 31 bits hold) is no
  // position of this file.
  if (position > 0x7FFFFFFFu) return false;
  if (FdSeek(fd, static_cast<std::int32_t>(position), 0) != static_cast<std::int32_t>(position)) return false;
  if (!ReadMarkerAndNumber(fd, length)) return false;
  place.position = position;
  place.length = length;
  return true;
}

bool ReadPackageDirectory(int fd, const PackageDirectoryPlace& place, std::vector<unsigned char>& directory) {
  directory.clear();
  // A directory longer than the file cannot be read whole: not a package.
  const std::int32_t fileLength = FdSeek(fd, 0, 2);
  if (fileLength < 0 || place.length > static_cast<std::uint32_t>(fileLength)) return false;
  // The header was read at P, so P + 6 lies inside the file.
  const auto start = static_cast<std::int32_t>(place.position + kPackageTrailerSize);
  if (FdSeek(fd, start, 0) != start) return false;
  directory.assign(place.length, 0);
  if (place.length == 0 ||
      FdRead(fd, directory.data(), place.length) == static_cast<std::int32_t>(place.length))
    return true;
  directory.clear();
  return false;
}

bool IsPackageFile(const char* path) {
  if (!path || !*path) return false;
  const int fd = FdOpenRead(path);
  if (fd < 0) return false;
  PackageDirectoryPlace place;
  const bool ok = ReadPackageTrailer(fd, place);
  FdClose(fd);
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
  entry.offset = Le32(numbers);
  entry.size = Le32(numbers + 4);
  pos += nameLength + 1 + 8;
  return true;
}

}  // namespace qor
