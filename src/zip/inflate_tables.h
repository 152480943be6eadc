// Huffman decode tables of the inflate decoder.
//
// A table is looked up with the next bits of the input (first bit read in
// the lowest index bit). Its main part has 2^tableBits entries; a code longer
// than tableBits is found in a subtable that the main entry for its first
// tableBits bits points to.
//
// Which symbol a bit pattern decodes to is decided exactly as a search that
// reads the code one bit at a time, and after each bit looks for a symbol
// whose code has that length and that value, would decide it:
//  * codes are assigned in order of (length, symbol): the first code is 0,
//    each next one is (previous + 1) shifted left by the growth in length;
//  * a code that no longer fits in its length (an over-subscribed set) can
//    never be seen, and neither can any code assigned after it, since the
//    codes only grow; the codes before it stay valid;
//  * the valid codes never overlap as prefixes, so the first (shortest)
//    match is the only match;
//  * a pattern that no valid code claims (an incomplete set) is invalid: the
//    search would read all bits and find nothing.
//
// Entry layout (32 bits):
//   bits  0..7   bits the entry consumes: codeword bits plus, for a length or
//                a distance, its extra bits; for a subtable pointer tableBits
//   bits  8..11  codeword bits alone (where the extra bits begin); for a
//                subtable pointer, the subtable's index bits
//   bit  13      end of block
//   bit  14      subtable pointer
//   bit  15      exceptional: end of block, subtable pointer or invalid code
//   bits 16..30  value: literal byte, base length, base distance, code-length
//                symbol, or a subtable's first index
//   bit  31      literal (literal/length tables only)
#pragma once
#include <array>
#include <cstdint>

namespace qor::inflate_internal {

constexpr std::uint32_t kLiteral = 0x80000000u;
constexpr std::uint32_t kExceptional = 0x8000u;
constexpr std::uint32_t kSubtable = 0x4000u;
constexpr std::uint32_t kEndOfBlock = 0x2000u;
constexpr std::uint32_t kInvalid = kExceptional;

constexpr unsigned kLitlenTableBits = 11;
constexpr unsigned kDistTableBits = 8;
constexpr unsigned kPrecodeTableBits = 7;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kNumLitlenSyms = 288;
constexpr unsigned kNumDistSyms = 32;
constexpr unsigned kNumPrecodeSyms = 19;

// Worst cases: the main table plus one subtable of the deepest kind per symbol.
constexpr unsigned kLitlenTableSize = (1u << kLitlenTableBits) + kNumLitlenSyms * (1u << (kMaxCodeBits - kLitlenTableBits));
constexpr unsigned kDistTableSize = (1u << kDistTableBits) + kNumDistSyms * (1u << (kMaxCodeBits - kDistTableBits));
constexpr unsigned kPrecodeTableSize = 1u << kPrecodeTableBits;  // code-length codes are at most 7 bits

// What each symbol decodes to, before its codeword bits are added: bits 0..7
// hold the extra bits alone (RFC 1951, 3.2.5).
namespace detail {
constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                         33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                         1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr std::array<std::uint32_t, kNumLitlenSyms> MakeLitlenSymbols() {
  std::array<std::uint32_t, kNumLitlenSyms> t{};
  for (unsigned s = 0; s < 256; ++s) t[s] = kLiteral | s << 16;
  t[256] = kExceptional | kEndOfBlock;
  for (unsigned s = 257; s < 286; ++s) t[s] = std::uint32_t{kLengthBase[s - 257]} << 16 | kLengthExtra[s - 257];
  t[286] = t[287] = kInvalid;  // length symbols without a meaning
  return t;
}

constexpr std::array<std::uint32_t, kNumDistSyms> MakeDistSymbols() {
  std::array<std::uint32_t, kNumDistSyms> t{};
  for (unsigned s = 0; s < 30; ++s) t[s] = std::uint32_t{kDistBase[s]} << 16 | kDistExtra[s];
  t[30] = t[31] = kInvalid;  // distance symbols without a meaning
  return t;
}

constexpr std::array<std::uint32_t, kNumPrecodeSyms> MakePrecodeSymbols() {
  std::array<std::uint32_t, kNumPrecodeSyms> t{};
  for (unsigned s = 0; s < kNumPrecodeSyms; ++s) t[s] = s << 16;
  return t;
}
}  // namespace detail

inline constexpr auto kLitlenSymbols = detail::MakeLitlenSymbols();
inline constexpr auto kDistSymbols = detail::MakeDistSymbols();
inline constexpr auto kPrecodeSymbols = detail::MakePrecodeSymbols();

// Builds the table for the code lengths lens[0..count) (0: unused; at most
// kMaxCodeBits) into table, which must hold the worst case for tableBits.
void BuildDecodeTable(std::uint32_t* table, unsigned tableBits, const std::uint8_t* lens, unsigned count,
                      const std::uint32_t* symbols);

}  // namespace qor::inflate_internal
