#include "zip/inflate_tables.h"

namespace qor::inflate_internal {

namespace {

// Bytes with their bits in reverse order.
constexpr auto kReversedBytes = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned r = 0;
    for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    t[b] = static_cast<std::uint8_t>(r);
  }
  return t;
}();

// The low `bits` bits (at most 16) of code in reverse order: codes are sent
// most significant bit first, while table indexes take the first bit read
// lowest.
unsigned Reverse(unsigned code, unsigned bits) {
  const unsigned r16 = unsigned{kReversedBytes[code & 0xFF]} << 8 | kReversedBytes[(code >> 8) & 0xFF];
  return r16 >> (16 - bits);
}

}  // namespace

void BuildDecodeTable(std::uint32_t* table, unsigned tableBits, const std::uint8_t* lens, unsigned count,
                      const std::uint32_t* symbols) {
  // Symbols in order of (length, symbol), by counting.
  unsigned lenCount[kMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < count; ++s) ++lenCount[lens[s]];
  unsigned offset[kMaxCodeBits + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = offset[len] + lenCount[len];
  std::uint16_t sorted[kNumLitlenSyms];
  for (unsigned s = 0; s < count; ++s)
    if (lens[s]) sorted[offset[lens[s]]++] = static_cast<std::uint16_t>(s);
  const unsigned used = count - lenCount[0];

  // Canonical codes, up to the first one that no longer fits in its length.
  // The valid codes cover every bit pattern when their shares of the code
  // space (2^-len each) add up to one; only then can no entry be left
  // without a symbol.
  std::uint16_t codes[kNumLitlenSyms];
  unsigned valid = 0;
  std::uint32_t space = 0;  // in units of 2^-kMaxCodeBits
  for (unsigned code = 0, prevLen = 0; valid < used; ++valid) {
    unsigned len = lens[sorted[valid]];
    if (valid) code = (code + 1) << (len - prevLen);
    prevLen = len;
    if (code >= (1u << len)) break;
    codes[valid] = static_cast<std::uint16_t>(code);
    space += 1u << (kMaxCodeBits - len);
  }
  const bool complete = space == 1u << kMaxCodeBits;

  const unsigned mainSize = 1u << tableBits;
  if (!complete)
    for (unsigned i = 0; i < mainSize; ++i) table[i] = kInvalid;
  unsigned nextSub = mainSize;
  unsigned subStart = 0, subBits = 0, subPrefix = ~0u;
  for (unsigned k = 0; k < valid; ++k) {
    const unsigned sym = sorted[k], len = lens[sym];
    const unsigned rev = Reverse(codes[k], len);
    if (len <= tableBits) {
      const std::uint32_t entry = symbols[sym] + (len << 8) + len;
      for (unsigned i = rev; i < mainSize; i += 1u << len) table[i] = entry;
      continue;
    }
    const unsigned prefix = rev & (mainSize - 1);
    if (prefix != subPrefix) {
      // The codes that share these first bits follow each other, shortest
      // first; the subtable is as deep as the last of them needs.
      const unsigned top = unsigned{codes[k]} >> (len - tableBits);
      unsigned last = k;
      while (last + 1 < valid && (unsigned{codes[last + 1]} >> (lens[sorted[last + 1]] - tableBits)) == top) ++last;
      subPrefix = prefix;
      subStart = nextSub;
      subBits = lens[sorted[last]] - tableBits;
      nextSub += 1u << subBits;
      if (!complete)
        for (unsigned i = 0; i < (1u << subBits); ++i) table[subStart + i] = kInvalid;
      table[prefix] = kExceptional | kSubtable | subStart << 16 | subBits << 8 | tableBits;
    }
    const unsigned rest = len - tableBits;
    const std::uint32_t entry = symbols[sym] + (rest << 8) + rest;
    for (unsigned i = rev >> tableBits; i < (1u << subBits); i += 1u << rest) table[subStart + i] = entry;
  }
}

}  // namespace qor::inflate_internal
