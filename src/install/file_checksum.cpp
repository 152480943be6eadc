#include "install/file_checksum.h"

#include <cstdio>
#include <memory>
#include <new>

#include "install/crc_core.h"

namespace qor {

bool FileChecksum(const char* path, std::uint32_t& checksum, std::int32_t& size) {
  constexpr std::size_t kChunk = 65536;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kChunk]);
  if (!buf) {
    std::fclose(f);
    return false;
  }
  std::setvbuf(f, nullptr, _IONBF, 0);
  std::uint32_t reg = 0;  // stays 0 for an empty file
  std::uint32_t count = 0;
  bool first = true;
  bool ok = true;
  for (;;) {
    std::size_t n = std::fread(buf.get(), 1, kChunk, f);
    if (n == 0) {
      ok = !std::ferror(f);
      break;
    }
    reg = CrcUpdate(first ? 0xFFFFFFFFu : reg, buf.get(), n);
    first = false;
    count += static_cast<std::uint32_t>(n);
  }
  std::fclose(f);
  if (!ok) return false;
  checksum = reg;
  size = static_cast<std::int32_t>(count);
  return true;
}

}  // namespace qor
