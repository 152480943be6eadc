// Throughput of our CRC-32 register update against zlib's crc32 on the same
// 64 MiB buffer, measured side by side in one run.
//
//   crc_bench [rounds]     (default 7; the best round of each counts)
//
// Prints MB/s (10^6 bytes per second of the thread's processor time) of
// CrcUpdate (whichever implementation it chose on this processor), of zlib,
// their ratio, and for comparison the figures of the 128-bit folding and of
// the portable implementation. A 64 MiB buffer does not fit in the
// caches, so the fast path may be held back by memory; a second table repeats
// the measurement on one 64 KiB piece (FileChecksum's read size), which does.
// Exits 1 if any result differs from zlib's.
#include <zlib.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "install/crc_core.h"

namespace {

constexpr std::size_t kBufferBytes = std::size_t{64} << 20;

struct Result {
  double mbPerSecond = 0;
  std::uint32_t crc = 0;  // in zlib's complemented form
};

// Processor time of this thread, in seconds: the machine may be shared, and
// time spent waiting for a processor would count against whoever was running.
double Now() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

template <typename F>
Result Measure(std::size_t bytes, F&& run) {
  const double start = Now();
  std::uint32_t crc = run();
  return {bytes / (Now() - start) / 1e6, crc};
}

void KeepBest(Result& best, const Result& r) {
  if (r.mbPerSecond > best.mbPerSecond) best = r;
}

// Best of `rounds` for ours, zlib and the portable code over `pieces` calls of
// `len` bytes at p each, alternating the contenders round by round so that
// all see the same machine state. Returns false if the results differ.
bool Compare(const char* title, const unsigned char* p, std::size_t len, int pieces, int rounds) {
  auto repeat = [&](auto fn) {
    return [=] {
      std::uint32_t crc = 0;
      for (int i = 0; i < pieces; ++i) crc = fn(p, len);
      return crc;
    };
  };
  auto ours = repeat([](const unsigned char* q, std::size_t n) { return ~qor::CrcUpdate(0xFFFFFFFFu, q, n); });
  auto portable = repeat([](const unsigned char* q, std::size_t n) {
    return ~qor::crc_internal::CrcUpdatePortable(0xFFFFFFFFu, q, n);
  });
  const bool narrowUsable = qor::crc_internal::CrcFoldingUsable();
  auto narrow = repeat([narrowUsable](const unsigned char* q, std::size_t n) {
    return narrowUsable ? ~qor::crc_internal::CrcUpdateFolding(0xFFFFFFFFu, q, n)
                        : ~qor::crc_internal::CrcUpdatePortable(0xFFFFFFFFu, q, n);
  });
  // zlib takes at most 4 GiB - 1 per call; our pieces are far smaller.
  auto zlib = repeat([](const unsigned char* q, std::size_t n) {
    return static_cast<std::uint32_t>(crc32(0, q, static_cast<uInt>(n)));
  });

  // Warm the caches, page the buffer in, and let CrcUpdate choose its code.
  ours();
  zlib();

  const std::size_t total = len * pieces;
  Result o, z, port, nar;
  for (int i = 0; i < rounds; ++i) {
    KeepBest(o, Measure(total, ours));
    KeepBest(z, Measure(total, zlib));
    KeepBest(port, Measure(total, portable));
    KeepBest(nar, Measure(total, narrow));
  }

  std::printf("\n%s\n", title);
  std::printf("  ours (CrcUpdate)   %9.0f MB/s\n", o.mbPerSecond);
  std::printf("  zlib crc32         %9.0f MB/s\n", z.mbPerSecond);
  std::printf("  ratio ours/zlib    %9.2f\n", o.mbPerSecond / z.mbPerSecond);
  std::printf("  pclmul folding     %9.0f MB/s (ratio to zlib %.2f)%s\n", nar.mbPerSecond,
              nar.mbPerSecond / z.mbPerSecond, narrowUsable ? "" : " (not usable here: portable)");
  std::printf("  portable fallback  %9.0f MB/s (ratio to zlib %.2f)\n", port.mbPerSecond,
              port.mbPerSecond / z.mbPerSecond);
  if (o.crc != z.crc || port.crc != z.crc || nar.crc != z.crc) {
    std::printf("  MISMATCH: ours %08X, pclmul %08X, portable %08X, zlib %08X\n", o.crc, nar.crc, port.crc, z.crc);
    return false;
  }
  std::printf("  results agree: %08X\n", z.crc);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  if (rounds < 1) rounds = 1;

  std::vector<unsigned char> buf(kBufferBytes);
  std::mt19937_64 rng(1);
  for (std::size_t i = 0; i < buf.size(); i += 8) {
    std::uint64_t v = rng();
    for (int b = 0; b < 8; ++b) buf[i + b] = static_cast<unsigned char>(v >> (8 * b));
  }
  std::printf("CRC-32, best of %d rounds; implementation in use: %s\n", rounds,
              qor::crc_internal::CrcImplementationName());
  bool ok = Compare("64 MiB buffer, one call", buf.data(), buf.size(), 1, rounds);
  ok = Compare("64 KiB piece in cache, 1024 calls", buf.data(), 64 << 10, 1024, rounds) && ok;
  return ok ? 0 : 1;
}
