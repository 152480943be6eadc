// Portable CRC-32 register update (braided table lookups) and the choice, made
// once per process, between it and the folding implementation.
#include "install/crc_core.h"

#include <atomic>
#include <bit>
#include <cstring>

namespace qor {
namespace crc_internal {
namespace {

constexpr std::uint32_t kPoly = 0xEDB88320u;  // reflected form of 0x04C11DB7

// The braided loop works on machine words of kWordBytes bytes, read
// little-endian, and keeps kLanes independent registers so that the processor
// can overlap their table lookups instead of waiting on one chain.
using Word = std::uintptr_t;
constexpr int kWordBytes = sizeof(Word);
constexpr int kLanes = 5;
constexpr int kBlockBytes = kLanes * kWordBytes;

// shift[k][x] is the register after the byte x followed by k zero bytes, all
// from a zero register. shift[0] is the classic byte table. A byte at offset b
// of a word, whose register must be carried to the start of the word kLanes
// words further on, needs shift[kBlockBytes - 1 - b]; carried only to the end
// of its own word it needs shift[kWordBytes - 1 - b].
struct CrcTables {
  std::uint32_t byte[256];                  // shift[0]
  std::uint32_t word[kWordBytes][256];      // word[b] = shift[kWordBytes - 1 - b]
  std::uint32_t braid[kWordBytes][256];     // braid[b] = shift[kBlockBytes - 1 - b]

  constexpr CrcTables() : byte{}, word{}, braid{} {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
      byte[i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = byte[i];
      for (int k = 0; k < kBlockBytes; ++k) {
        if (k < kWordBytes) word[kWordBytes - 1 - k][i] = c;
        if (k >= kBlockBytes - kWordBytes) braid[kBlockBytes - 1 - k][i] = c;
        c = (c >> 8) ^ byte[c & 0xFF];  // one more zero byte
      }
    }
  }
};
constexpr CrcTables kTables;

inline std::uint32_t ByteStep(std::uint32_t reg, unsigned char b) {
  return kTables.byte[(reg ^ b) & 0xFF] ^ (reg >> 8);
}

// Little-endian load of one word: a plain move on little-endian machines.
inline Word LoadWord(const unsigned char* p) {
  Word v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);
  } else {
    for (int b = 0; b < kWordBytes; ++b) v |= static_cast<Word>(p[b]) << (8 * b);
  }
  return v;
}

// Sum of table[b][byte b of v] over the bytes of the word.
inline std::uint32_t WordLookup(const std::uint32_t (&table)[kWordBytes][256], Word v) {
  std::uint32_t r = 0;
  for (int b = 0; b < kWordBytes; ++b) r ^= table[b][(v >> (8 * b)) & 0xFF];
  return r;
}

}  // namespace

std::uint32_t CrcUpdatePortable(std::uint32_t reg, const void* data, std::size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);

  // Byte steps up to a word boundary, so that the word loads below are aligned.
  while (len > 0 && reinterpret_cast<std::uintptr_t>(p) % kWordBytes != 0) {
    reg = ByteStep(reg, *p++);
    --len;
  }

  // Blocks of kLanes words. Lane k takes word k of every block; its register
  // is the contribution of everything it has seen, already carried forward to
  // the start of its word in the next block, where it is xor-ed in. The
  // incoming register belongs to the very first word. The last block is done
  // word after word, so that the lanes' registers join into one.
  std::size_t blocks = len / kBlockBytes;
  if (blocks > 0) {
    std::uint32_t lane[kLanes] = {reg};
    for (std::size_t i = 1; i < blocks; ++i, p += kBlockBytes) {
      for (int k = 0; k < kLanes; ++k)
        lane[k] = WordLookup(kTables.braid, LoadWord(p + k * kWordBytes) ^ lane[k]);
    }
    reg = 0;
    for (int k = 0; k < kLanes; ++k)
      reg = WordLookup(kTables.word, LoadWord(p + k * kWordBytes) ^ lane[k] ^ reg);
    p += kBlockBytes;
    len -= blocks * kBlockBytes;
  }

  // Fewer than kBlockBytes bytes left.
  for (; len >= kWordBytes; len -= kWordBytes, p += kWordBytes)
    reg = WordLookup(kTables.word, LoadWord(p) ^ reg);
  while (len--) reg = ByteStep(reg, *p++);
  return reg;
}

}  // namespace crc_internal

namespace {

using CrcFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

std::uint32_t ResolveAndUpdate(std::uint32_t reg, const void* data, std::size_t len);

// The implementation in use, or ResolveAndUpdate until the first call has
// looked at the processor. Racing first calls store the same pointer, so the
// choice needs no lock; afterwards each call costs one load and an indirect call.
std::atomic<CrcFn> g_crcImpl{ResolveAndUpdate};

CrcFn ChooseImplementation() {
  if (crc_internal::CrcWideFoldingUsable()) return crc_internal::CrcUpdateWideFolding;
  return crc_internal::CrcFoldingUsable() ? crc_internal::CrcUpdateFolding
                                          : crc_internal::CrcUpdatePortable;
}

std::uint32_t ResolveAndUpdate(std::uint32_t reg, const void* data, std::size_t len) {
  CrcFn fn = ChooseImplementation();
  g_crcImpl.store(fn, std::memory_order_relaxed);
  return fn(reg, data, len);
}

}  // namespace

std::uint32_t CrcUpdate(std::uint32_t reg, const void* data, std::size_t len) {
  return g_crcImpl.load(std::memory_order_relaxed)(reg, data, len);
}

const char* crc_internal::CrcImplementationName() {
  const CrcFn fn = ChooseImplementation();
  if (fn == crc_internal::CrcUpdateWideFolding) return "avx512-folding";
  return fn == crc_internal::CrcUpdateFolding ? "pclmul-folding" : "portable-braided";
}

}  // namespace qor
