// Register update of the reflected CRC-32 (polynomial 0xEDB88320).
//
// CrcUpdate applies no inversion on entry or exit: callers choose the start
// value and whether to complement the result. The product files' checksum
// starts at 0xFFFFFFFF and is never inverted; the ZIP CRC-32 is the usual
// complemented form of the same register.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qor {

std::uint32_t CrcUpdate(std::uint32_t reg, const void* data, std::size_t len);

}  // namespace qor
