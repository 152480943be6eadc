// Every CRC-32 implementation against zlib's crc32, which computes the same
// register complemented on entry and exit: CrcUpdate(r, p, n) == ~crc32(~r, p, n).
#include "install/crc_core.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using qor::crc_internal::CrcFoldingUsable;
using CrcFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

struct Impl {
  const char* name;
  CrcFn fn;
};

// The implementations this processor can run: the portable one always, the
// folding ones where usable, and the dispatching entry point.
std::vector<Impl> Implementations() {
  std::vector<Impl> impls = {{"portable", qor::crc_internal::CrcUpdatePortable}, {"CrcUpdate", qor::CrcUpdate}};
  if (qor::crc_internal::CrcWideFoldingUsable())
    impls.push_back({"wide folding", qor::crc_internal::CrcUpdateWideFolding});
  else
    std::printf("note: wide folding implementation not usable here\n");
  if (CrcFoldingUsable())
    impls.push_back({"folding", qor::crc_internal::CrcUpdateFolding});
  else
    std::printf("note: folding implementation not usable here, tested through the portable one only\n");
  return impls;
}

std::uint32_t Reference(std::uint32_t reg, const unsigned char* p, std::size_t len) {
  return ~static_cast<std::uint32_t>(crc32(~reg & 0xFFFFFFFFu, p, static_cast<uInt>(len)));
}

std::vector<unsigned char> RandomBytes(std::size_t n, unsigned seed) {
  std::vector<unsigned char> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

TEST(CrcCore, KnownValues) {
  struct Case {
    std::string bytes;
    std::uint32_t reg, expected;
  } cases[] = {
      {"", 0xFFFFFFFFu, 0xFFFFFFFFu},           // no bytes, register unchanged
      {"abc", 0xFFFFFFFFu, 0xCADBBE3Du},        // complement of CRC-32 0x352441C2
      {"123456789", 0xFFFFFFFFu, 0x340BC6D9u},  // complement of the check value 0xCBF43926
      {std::string(64, 'a'), 0xFFFFFFFFu, 0x764B9AAAu},  // complement of 0x89B46555; one folding round
  };
  for (const auto& impl : Implementations())
    for (const auto& c : cases)
      EXPECT_EQ(impl.fn(c.reg, c.bytes.data(), c.bytes.size()), c.expected)
          << impl.name << " on " << c.bytes.size() << " bytes '" << c.bytes.substr(0, 9) << "'";
}

TEST(CrcCore, EveryLengthAndAlignmentMatchesZlib) {
  const auto buf = RandomBytes(640 + 16, 11);
  for (const auto& impl : Implementations()) {
    for (std::size_t align = 0; align < 16; ++align) {
      for (std::size_t len = 0; len <= 640; ++len) {
        const unsigned char* p = buf.data() + align;
        for (std::uint32_t reg : {0xFFFFFFFFu, 0u, 0x9E3779B9u}) {
          ASSERT_EQ(impl.fn(reg, p, len), Reference(reg, p, len))
              << impl.name << ": align " << align << " len " << len << " reg " << std::hex << reg;
        }
      }
    }
  }
}

TEST(CrcCore, LongBuffersMatchZlib) {
  const auto buf = RandomBytes((4 << 20) + 64, 23);
  const std::vector<unsigned char> zeros(1 << 20, 0), ones(1 << 20, 0xFF);
  std::mt19937 rng(5);
  for (const auto& impl : Implementations()) {
    for (int i = 0; i < 8; ++i) {
      std::size_t off = rng() % 64;
      std::size_t len = (std::size_t{1} << 20) + rng() % (3 << 20);
      ASSERT_EQ(impl.fn(0xFFFFFFFFu, buf.data() + off, len), Reference(0xFFFFFFFFu, buf.data() + off, len))
          << impl.name << ": offset " << off << " len " << len;
    }
    for (const auto* v : {&zeros, &ones})
      EXPECT_EQ(impl.fn(0xFFFFFFFFu, v->data(), v->size()), Reference(0xFFFFFFFFu, v->data(), v->size()))
          << impl.name << ": 1 MiB of 0x" << std::hex << int((*v)[0]);
  }
}

// The register is the whole state: a buffer split anywhere, and handled by any
// mix of implementations, gives the register of the buffer in one call.
TEST(CrcCore, SplitCallsChainToTheWholeBuffer) {
  const auto buf = RandomBytes(1000, 31);
  const std::uint32_t whole = Reference(0xFFFFFFFFu, buf.data(), buf.size());
  const auto impls = Implementations();
  for (const auto& first : impls) {
    for (const auto& second : impls) {
      for (std::size_t split = 0; split <= buf.size(); ++split) {
        std::uint32_t reg = first.fn(0xFFFFFFFFu, buf.data(), split);
        reg = second.fn(reg, buf.data() + split, buf.size() - split);
        ASSERT_EQ(reg, whole) << first.name << " then " << second.name << ", split at " << split;
      }
    }
  }
  // Many uneven pieces of a long buffer, as a reader with odd chunk sizes produces.
  const auto big = RandomBytes(3 << 20, 37);
  const std::uint32_t bigWhole = Reference(0xFFFFFFFFu, big.data(), big.size());
  std::mt19937 rng(41);
  for (const auto& impl : impls) {
    std::uint32_t reg = 0xFFFFFFFFu;
    for (std::size_t pos = 0; pos < big.size();) {
      std::size_t n = std::min<std::size_t>(big.size() - pos, rng() % 70000);
      reg = impl.fn(reg, big.data() + pos, n);
      pos += n;
    }
    EXPECT_EQ(reg, bigWhole) << impl.name;
  }
}

TEST(CrcCore, DispatchPicksFoldingExactlyWhenUsable) {
  const std::string name = qor::crc_internal::CrcImplementationName();
  EXPECT_EQ(name, qor::crc_internal::CrcWideFoldingUsable() ? "avx512-folding"
                  : CrcFoldingUsable()                       ? "pclmul-folding"
                                                             : "portable-braided");
}

}  // namespace
