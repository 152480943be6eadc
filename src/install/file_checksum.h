// Size and checksum of a whole file, as the setup script records them for
// every product file: the reflected CRC-32 register started at 0xFFFFFFFF on
// the first byte and never inverted, so an empty file gives 0.
#pragma once
#include <cstdint>

namespace qor {

// True with both outputs set when the whole file was read; false (outputs
// untouched) when it cannot be opened, the buffer cannot be had, or a read fails.
bool FileChecksum(const char* path, std::uint32_t& checksum, std::int32_t& size);

}  // namespace qor
