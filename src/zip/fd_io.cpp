#include "zip/fd_io.h"

#include <climits>
#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qor {

namespace {
constexpr std::uint32_t kMaxChunk = INT_MAX;
}

#ifdef _WIN32

int FdOpenRead(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }

std::int32_t FdRead(int fd, void* buffer, std::uint32_t count) {
  return _read(fd, buffer, count > kMaxChunk ? kMaxChunk : count);
}

std::int32_t FdSeek(int fd, std::int32_t offset, int origin) {
  return static_cast<std::int32_t>(_lseek(fd, offset, origin == 0 ? SEEK_SET : origin == 2 ? SEEK_END : SEEK_CUR));
}

int FdClose(int fd) { return _close(fd); }

#else

int FdOpenRead(const char* path) { return open(path, O_RDONLY); }

std::int32_t FdRead(int fd, void* buffer, std::uint32_t count) {
  return static_cast<std::int32_t>(read(fd, buffer, count > kMaxChunk ? kMaxChunk : count));
}

std::int32_t FdSeek(int fd, std::int32_t offset, int origin) {
  off_t pos = lseek(fd, offset, origin == 0 ? SEEK_SET : origin == 2 ? SEEK_END : SEEK_CUR);
  // Positions beyond what the 32-bit interface can express count as errors.
  return pos < 0 || pos > INT32_MAX ? -1 : static_cast<std::int32_t>(pos);
}

int FdClose(int fd) { return close(fd); }

#endif

}  // namespace qor
