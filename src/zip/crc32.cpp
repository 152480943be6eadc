#include "install/crc_core.h"
#include "zip/inflate.h"

namespace qor {

std::uint32_t Crc32(const void* data, std::size_t length) {
  return ~CrcUpdate(0xFFFFFFFFu, data, length);
}

}  // namespace qor
