// CRC-32 register update by carry-less multiplication folding (PCLMULQDQ), for
// x86 and x86-64 processors that have it (install/cpu_features.h tells).
//
// Only the functions below are compiled for PCLMULQDQ/SSE4.1, and the wide
// variant for AVX-512F/VPCLMULQDQ (by target attributes, not by global
// compiler flags), so the rest of the program runs on any i686 and this code
// is entered only after CrcFoldingUsable() or CrcWideFoldingUsable() said yes.
#include "install/crc_core.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "install/cpu_features.h"

namespace qor::crc_internal {
namespace {

// How the folding works. Bytes are read as polynomials over GF(2), the lowest
// bit of the first byte being the highest power; in that order a 16-byte
// block B loaded into an XMM register has its first 8 bytes H in the low half
// and its last 8 bytes L in the high half, B = H*x^64 + L. Moving B forward by
// T bits (so that it can be xor-ed into the block that starts T bits later)
// means replacing B*x^T with anything congruent modulo P and no longer than
// 128 bits:  H*(x^(T+64) mod P) + L*(x^T mod P).
// PCLMULQDQ multiplies two bit-reversed 64-bit values and leaves the product
// one bit short of a bit-reversed 128-bit value (a factor of x), and a 33-bit
// constant c sits in the top of its reversed 64-bit lane (a factor of x^31);
// so the constant for H is x^(T+32) mod P and the one for L is x^(T-32) mod P,
// each bit-reversed into 33 bits.
constexpr std::uint64_t FoldConstant(int n) {
  // x^n mod P in the register's own bit-reversed form: bit i holds x^(31-i).
  // Multiplying by x is one step of the bitwise CRC loop.
  std::uint32_t r = 0x80000000u;  // x^0
  for (int i = 0; i < n; ++i) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
  return static_cast<std::uint64_t>(r) << 1;  // 33-bit reversed: bit j holds x^(32-j)
}

// Four blocks (512 bits) ahead, and one block (128 bits) ahead.
constexpr std::uint64_t kFold512H = FoldConstant(512 + 32);
constexpr std::uint64_t kFold512L = FoldConstant(512 - 32);
constexpr std::uint64_t kFold128H = FoldConstant(128 + 32);
constexpr std::uint64_t kFold128L = FoldConstant(128 - 32);
static_assert(kFold512H == 0x154442BD4u && kFold128H == 0x1751997D0u,
              "the well-known folding constants of CRC-32");

constexpr std::size_t kMinFoldBytes = 64;

// The wide variant keeps four 512-bit registers of four blocks each: sixteen
// blocks (2048 bits) ahead per step; when they are joined, one register
// (512 bits) ahead; and the last register's lanes 3, 2 and 1 blocks ahead.
constexpr std::size_t kMinWideBytes = 256;

#define QOR_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

// b moved forward by the distance the constants k were made for.
QOR_CLMUL_TARGET __attribute__((always_inline)) inline __m128i Fold(__m128i b, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(b, k, 0x00), _mm_clmulepi64_si128(b, k, 0x11));
}

QOR_CLMUL_TARGET __attribute__((always_inline)) inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The constants for a distance, found when the program is compiled.
template <int distance>
struct FoldConstants {
  static constexpr auto h = static_cast<long long>(FoldConstant(distance + 32));
  static constexpr auto l = static_cast<long long>(FoldConstant(distance - 32));
};

template <int distance>
QOR_CLMUL_TARGET __attribute__((always_inline)) inline __m128i Constants() {
  return _mm_set_epi64x(FoldConstants<distance>::l, FoldConstants<distance>::h);
}

// The register over everything before p, given x, which is congruent to
// everything so far up to its last 16 bytes (those just before p), and then
// over the len bytes at p.
QOR_CLMUL_TARGET __attribute__((always_inline)) inline std::uint32_t Finish(__m128i x, const unsigned char* p,
                                                                             std::size_t len) {
  const __m128i k128 = Constants<128>();
  for (; len >= 16; p += 16, len -= 16) x = _mm_xor_si128(Fold(x, k128), Load(p));

  // x is congruent to everything so far, laid out as the 16 bytes just before
  // p: the register over those bytes from zero is the register over the whole.
  unsigned char last[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
  const std::uint32_t reg = CrcUpdatePortable(0, last, sizeof last);
  return CrcUpdatePortable(reg, p, len);
}

#define QOR_WIDE_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

// Each 128-bit lane of b moved forward by the distance the constants k (in
// every lane) were made for, xor-ed with the data d.
QOR_WIDE_TARGET __attribute__((always_inline)) inline __m512i FoldWide(__m512i b, __m512i k, __m512i d) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(b, k, 0x00), _mm512_clmulepi64_epi128(b, k, 0x11), d,
                                   0x96);  // three-way xor
}

template <int distance>
QOR_WIDE_TARGET __attribute__((always_inline)) inline __m512i ConstantsWide() {
  constexpr auto h = FoldConstants<distance>::h, l = FoldConstants<distance>::l;
  return _mm512_set_epi64(l, h, l, h, l, h, l, h);
}

QOR_WIDE_TARGET __attribute__((always_inline)) inline __m512i LoadWide(const unsigned char* p) {
  return _mm512_loadu_si512(p);
}

}  // namespace

bool CrcFoldingUsable() {
  const unsigned needed = kCpuPclmul | kCpuSse41;
  return (CpuFeatures() & needed) == needed;
}

// On 32-bit Windows the stack is only 4-byte aligned; realign it on entry so
// that spilled XMM values have the 16-byte alignment the compiler assumes.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
QOR_CLMUL_TARGET std::uint32_t CrcUpdateFolding(std::uint32_t reg, const void* data, std::size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (len < kMinFoldBytes) return CrcUpdatePortable(reg, p, len);

  // Four running blocks; the incoming register belongs to the first 4 bytes.
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  p += 64;
  len -= 64;

  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512L), static_cast<long long>(kFold512H));
  while (len >= 64) {
    x0 = _mm_xor_si128(Fold(x0, k512), Load(p));
    x1 = _mm_xor_si128(Fold(x1, k512), Load(p + 16));
    x2 = _mm_xor_si128(Fold(x2, k512), Load(p + 32));
    x3 = _mm_xor_si128(Fold(x3, k512), Load(p + 48));
    p += 64;
    len -= 64;
  }

  // Join the four into one, then take in the remaining whole blocks.
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128L), static_cast<long long>(kFold128H));
  __m128i x = _mm_xor_si128(Fold(x0, k128), x1);
  x = _mm_xor_si128(Fold(x, k128), x2);
  x = _mm_xor_si128(Fold(x, k128), x3);
  return Finish(x, p, len);
}

bool CrcWideFoldingUsable() { return (CpuFeatures() & kCpuAvx512Clmul) != 0 && CrcFoldingUsable(); }

#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
QOR_WIDE_TARGET std::uint32_t CrcUpdateWideFolding(std::uint32_t reg, const void* data, std::size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (len < kMinWideBytes + 64) return CrcUpdateFolding(reg, p, len);
  // Loads that cross cache lines cost twice: the bytes up to a 64-byte
  // boundary go first.
  if (const std::size_t head = (0u - reinterpret_cast<std::uintptr_t>(p)) & 63) {
    reg = CrcUpdatePortable(reg, p, head);
    p += head;
    len -= head;
  }

  // Sixteen running blocks in four registers; the incoming register belongs
  // to the first 4 bytes.
  __m512i x0 = _mm512_xor_si512(LoadWide(p), _mm512_castsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
  __m512i x1 = LoadWide(p + 64);
  __m512i x2 = LoadWide(p + 128);
  __m512i x3 = LoadWide(p + 192);
  p += 256;
  len -= 256;

  const __m512i k2048 = ConstantsWide<2048>();
  while (len >= 256) {
    x0 = FoldWide(x0, k2048, LoadWide(p));
    x1 = FoldWide(x1, k2048, LoadWide(p + 64));
    x2 = FoldWide(x2, k2048, LoadWide(p + 128));
    x3 = FoldWide(x3, k2048, LoadWide(p + 192));
    p += 256;
    len -= 256;
  }

  // Join the four into one, then take in the remaining whole registers.
  const __m512i k512 = ConstantsWide<512>();
  __m512i x = FoldWide(x0, k512, x1);
  x = FoldWide(x, k512, x2);
  x = FoldWide(x, k512, x3);
  for (; len >= 64; p += 64, len -= 64) x = FoldWide(x, k512, LoadWide(p));

  // The four lanes into one: each moved forward to the last.
  alignas(64) unsigned char lanes[64];
  _mm512_store_si512(lanes, x);
  __m128i y = Load(lanes + 48);
  y = _mm_xor_si128(y, Fold(Load(lanes + 32), Constants<128>()));
  y = _mm_xor_si128(y, Fold(Load(lanes + 16), Constants<256>()));
  y = _mm_xor_si128(y, Fold(Load(lanes), Constants<384>()));
  return Finish(y, p, len);
}

}  // namespace qor::crc_internal

#else  // not x86: no folding implementation

namespace qor::crc_internal {

bool CrcFoldingUsable() { return false; }

bool CrcWideFoldingUsable() { return false; }

std::uint32_t CrcUpdateWideFolding(std::uint32_t reg, const void* data, std::size_t len) {
  return CrcUpdatePortable(reg, data, len);
}

std::uint32_t CrcUpdateFolding(std::uint32_t reg, const void* data, std::size_t len) {
  return CrcUpdatePortable(reg, data, len);
}

}  // namespace qor::crc_internal

#endif
