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
#include "../fuzz/zip_fixtures.h"
#include "zip/inflate.h"
#include "zip/stream.h"

namespace qor_test {

// A write-only stream that collects what it is given, taking at most
// `accept` bytes in all.
class CollectingStream final : public qor::Stream {
 public:
  explicit CollectingStream(std::size_t accept = SIZE_MAX) : accept_(accept) {}
  int AddRef() override { return 2; }
  int Release() override { return 1; }
  int Reserved1(std::intptr_t, std::intptr_t) override { return 0; }
  std::intptr_t GetProperty(int) override { return 0; }
  int SetProperty(int, std::intptr_t) override { return 0; }
  int GetPropertyData(int, void*) override { return 0; }
  int Reserved2(std::intptr_t, std::intptr_t) override { return 0; }
  int IsReadable() override { return 0; }
  int IsWritable() override { return 1; }
  std::int32_t Seek(std::int32_t, int) override { return -1; }
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* buffer, std::uint32_t count) override {
    std::size_t take = count;
    if (take > accept_ - data.size()) take = accept_ - data.size();
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    data.insert(data.end(), p, p + take);
    ++writes;
    return static_cast<std::uint32_t>(take);
  }
  Bytes data;
  int writes = 0;

 private:
  std::size_t accept_;
};

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

inline Decoded Inflate(const Bytes& data, std::uint32_t n, OutputKind kind = OutputKind::kMemory, bool cut = false) {
  Decoded d;
  qor::MemoryStream* in = MemoryStreamWith(data);
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
  in->Release();
  return d;
}

// The decoder on both output paths against the plain reference decoder:
// the same result, and on success the same bytes and trace lines.
inline void ExpectMatchesReference(const Bytes& data, std::uint32_t n, bool cut, const std::string& what) {
  const ReferenceResult want = ReferenceInflate(data, n, cut);
  for (OutputKind kind : {OutputKind::kMemory, OutputKind::kPlain}) {
    const Decoded got = Inflate(data, n, kind, cut);
    const char* path = kind == OutputKind::kMemory ? "in place" : "windowed";
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
