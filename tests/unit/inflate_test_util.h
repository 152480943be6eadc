// Running the inflate decoder in tests: output to a fresh MemoryStream (the
// in-place path) or to a plain stream (the windowed path), with the trace
// lines it writes to standard output captured.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../fuzz/reference_inflate.h"
#include "../fuzz/test_streams.h"
#include "../fuzz/zip_fixtures.h"
#include "zip/inflate.h"
#include "zip/stream.h"

namespace qor_test {

enum class OutputKind { kMemory, kPlain };

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Decoded {
  int ok = 0;
  Bytes out;
  std::vector<std::string> traces;
};

inline qor::MemoryStream* MemoryStreamWith(const Bytes& bytes) {
  qor::MemoryStream* s = nullptr;
  qor::CreateMemoryStream(&s);
  s->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  s->Seek(0, 0);
  return s;
}

// Input from a MemoryStream (read in place), or with piece > 0 from a
// stream that hands out at most that many bytes per read (read ahead into the
// decoder's buffer).
inline Decoded Inflate(const Bytes& data, std::uint32_t n, OutputKind kind = OutputKind::kMemory, bool cut = false,
                       std::uint32_t piece = 0) {
  Decoded d;
  qor::MemoryStream* memoryIn = MemoryStreamWith(data);
  ChunkedStream chunkedIn(data.data(), data.size(), piece);
  qor::Stream* in = piece ? static_cast<qor::Stream*>(&chunkedIn) : memoryIn;
  testing::internal::CaptureStdout();
  if (kind == OutputKind::kMemory) {
    qor::MemoryStream* out = nullptr;
    qor::CreateMemoryStream(&out);
    d.ok = qor::InflateEntry(in, out, n, cut);
    d.out.assign(out->Data(), out->Data() + out->Size());
    out->Release();
  } else {
    CollectingStream out;
    d.ok = qor::InflateEntry(in, &out, n, cut);
    d.out = out.data;
  }
  d.traces = SplitLines(testing::internal::GetCapturedStdout());
  memoryIn->Release();
  return d;
}

// The decoder on both output paths and both input paths against the plain
// reference decoder: the same result, and the same bytes (on success) and
// trace lines.
inline void ExpectMatchesReference(const Bytes& data, std::uint32_t n, bool cut, const std::string& what) {
  const ReferenceResult want = ReferenceInflate(data, n, cut);
  struct Path {
    OutputKind kind;
    std::uint32_t piece;
    const char* name;
  } paths[] = {{OutputKind::kMemory, 0, "in place"},
               {OutputKind::kPlain, 0, "windowed"},
               {OutputKind::kMemory, 5, "in place, input read ahead in 5-byte reads"},
               {OutputKind::kPlain, 4093, "windowed, input read ahead"}};
  for (const Path& p : paths) {
    const Decoded got = Inflate(data, n, p.kind, cut, p.piece);
    const char* path = p.name;
    ASSERT_EQ(got.ok, want.ok) << what << " (" << path << ", n " << n << ")";
    EXPECT_EQ(got.traces, want.traces) << what << " (" << path << ")";
    if (want.ok) {
      ASSERT_TRUE(got.out == want.out) << what << " (" << path << "): bytes differ";
    }
  }
}

// Text from a small vocabulary: compresses like prose.
inline Bytes Text(std::size_t size, unsigned seed = 1) {
  static const char* words[] = {"instalacja", "programu", "plik", "dysk", "the", "of", "archive", "entry",
                                "Qor", "setup", "window", "data", "a", "to", "and", "directory"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const char* w = words[rng() % 16];
    out.insert(out.end(), w, w + std::strlen(w));
    out.push_back(rng() % 11 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

inline Bytes Random(std::size_t size, unsigned seed = 2) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Fixed-size records with counters and small fields: typical binary data.
inline Bytes Records(std::size_t size, unsigned seed = 3) {
  std::mt19937 rng(seed);
  Bytes out;
  for (std::uint32_t i = 0; out.size() < size; ++i) {
    std::uint32_t fields[4] = {i, i * 7 + 1000, static_cast<std::uint32_t>(rng() % 16), 0x00464F52};
    const auto* p = reinterpret_cast<const std::uint8_t*>(fields);
    out.insert(out.end(), p, p + sizeof fields);
  }
  out.resize(size);
  return out;
}

}  // namespace qor_test
