// Descriptor-level file access: the one place where the Windows C runtime
// (_open, _read, _lseek, _close) and POSIX (open, read, lseek, close) differ.
#pragma once
#include <cstdint>

namespace qor {

// Opens path read-only in binary mode; the descriptor, or -1.
int FdOpenRead(const char* path);
// Bytes read (0 at the end of the file), or -1 on an error.
std::int32_t FdRead(int fd, void* buffer, std::uint32_t count);
// origin 0 from the start, 1 from the current position, 2 from the end;
// the new position, or -1.
std::int32_t FdSeek(int fd, std::int32_t offset, int origin);
int FdClose(int fd);

}  // namespace qor
