#include "install/crc_core.h"

#include <array>
#include <cstring>

namespace qor {
namespace {

// Eight 256-entry tables: table[0] is the classic byte table, table[k] moves a
// byte k positions further through the register (slicing-by-8).
struct CrcTables {
  std::uint32_t t[8][256];
  constexpr CrcTables() : t{} {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int b = 0; b < 8; ++b) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
      for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};
constexpr CrcTables kTables;

inline std::uint32_t Load32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // little-endian hosts only (x86)
}

}  // namespace

std::uint32_t CrcUpdate(std::uint32_t reg, const void* data, std::size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  const auto& t = kTables.t;
  while (len >= 8) {
    std::uint32_t a = Load32(p) ^ reg;
    std::uint32_t b = Load32(p + 4);
    reg = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
          t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    p += 8;
    len -= 8;
  }
  while (len--) reg = t[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
  return reg;
}

}  // namespace qor
