// The inflate decoder on data compressed by zlib: every kind of block zlib
// writes, byte-exact, with the trace lines each block leaves.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "inflate_test_util.h"
#include "zip/inflate.h"

namespace {

using namespace qor_test;

struct ZlibCase {
  const char* what;
  Bytes data;
  int level;
  int strategy = Z_DEFAULT_STRATEGY;
  std::vector<DeflateStep> steps = {};
};

std::vector<ZlibCase> ZlibCases() {
  Bytes abc;
  for (int i = 0; i < 3000; ++i) abc.push_back(static_cast<std::uint8_t>("abc"[i % 3]));
  Bytes mixed = Text(40000, 5);
  Bytes noise = Random(30000, 6);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  Bytes tail = Text(40000, 7);
  mixed.insert(mixed.end(), tail.begin(), tail.end());
  return {
      {"level 0: one stored block", Text(1000), 0},
      {"level 0: several stored blocks", Text(200000), 0},
      {"level 1", Text(100000), 1},
      {"level 6", Text(100000), 6},
      {"level 9", Text(100000), 9},
      {"level 9 binary records", Records(100000), 9},
      {"fixed Huffman only", Text(50000), 6, Z_FIXED},
      {"fixed Huffman only, binary", Records(50000), 9, Z_FIXED},
      {"literals only", Text(50000), 6, Z_HUFFMAN_ONLY},
      {"run-length only", Records(50000), 6, Z_RLE},
      {"length-258 matches at distance 1", Bytes(5000, 'a'), 9},
      {"overlapping matches at distance 3", abc, 9},
      {"incompressible data", Random(100000), 6},
      {"text, noise and text", mixed, 6},
      {"flushes leave empty stored blocks mid-stream", Text(60000), 6, Z_DEFAULT_STRATEGY,
       {{5001, Z_SYNC_FLUSH}, {7003, Z_FULL_FLUSH}, {10, Z_SYNC_FLUSH}, {20000, Z_BLOCK}}},
      {"level switched to 0 and back: stored blocks after Huffman blocks", Text(90000), 6, Z_DEFAULT_STRATEGY,
       {{3001, Z_NO_FLUSH}, {20000, Z_NO_FLUSH, 0}, {15000, Z_NO_FLUSH, 9}, {7, Z_NO_FLUSH, 0}, {9000, Z_NO_FLUSH, 1}}},
      {"fixed blocks with a stored one between", Text(30000), 6, Z_FIXED,
       {{1001, Z_NO_FLUSH}, {2000, Z_NO_FLUSH, 0}, {3000, Z_NO_FLUSH, 6}}},
  };
}

TEST(InflateZlib, EveryKindOfBlockDecodesByteExact) {
  for (const auto& c : ZlibCases()) {
    const Bytes packed = DeflateRaw(c.data, c.level, c.strategy, c.steps);
    ASSERT_FALSE(packed.empty()) << c.what;
    Bytes viaZlib;
    ASSERT_TRUE(InflateRawZlib(packed, viaZlib, c.data.size())) << c.what;
    ASSERT_TRUE(viaZlib == c.data) << c.what;
    const auto n = static_cast<std::uint32_t>(c.data.size());
    for (OutputKind kind : {OutputKind::kMemory, OutputKind::kPlain})
      for (std::uint32_t piece : {0u, 1000u, 70001u}) {
        const Decoded d = Inflate(packed, n, kind, false, piece);
        EXPECT_EQ(d.ok, 1) << c.what << ", input piece " << piece;
        EXPECT_TRUE(d.out == c.data) << c.what << ": bytes differ, input piece " << piece;
      }
    ExpectMatchesReference(packed, n, false, c.what);
  }
}

TEST(InflateZlib, TracesNameEachBlock) {
  {
    const Decoded d = Inflate(DeflateRaw(Text(1000), 0), 1000);
    EXPECT_EQ(d.ok, 1);
    EXPECT_EQ(d.traces, std::vector<std::string>{"wczytano 1000 bajtow z bloku 00...wychodze...."});
  }
  {
    // zlib stores at most 65535 bytes per block at level 0 (less with its
    // default buffer): every block before the last is announced with its size.
    const Decoded d = Inflate(DeflateRaw(Text(200000), 0), 200000);
    ASSERT_EQ(d.ok, 1);
    ASSERT_GE(d.traces.size(), 2u);
    std::uint32_t announced = 0;
    for (std::size_t i = 0; i + 1 < d.traces.size(); ++i) {
      unsigned len = 0;
      ASSERT_EQ(std::sscanf(d.traces[i].c_str(), "wcztyano blok 00 o wielkosci=%u  beda nastepne...", &len), 1)
          << d.traces[i];
      EXPECT_EQ(d.traces[i], "wcztyano blok 00 o wielkosci=" + std::to_string(len) + "  beda nastepne...");
      announced += len;
    }
    EXPECT_EQ(d.traces.back(), "wczytano " + std::to_string(200000 - announced) + " bajtow z bloku 00...wychodze....");
  }
  {
    // A fixed block that ends exactly with the entry: stopped before its end code.
    const Decoded d = Inflate(DeflateRaw(Text(3000), 6, Z_FIXED), 3000);
    EXPECT_EQ(d.ok, 1);
    EXPECT_EQ(d.traces, std::vector<std::string>{"blok fixed.... "});
  }
  {
    // Two dynamic blocks through a flush: the first one's end is reached.
    const Decoded d = Inflate(DeflateRaw(Text(20000), 6, Z_DEFAULT_STRATEGY, {{10000, Z_BLOCK}}), 20000);
    EXPECT_EQ(d.ok, 1);
    EXPECT_EQ(d.traces, (std::vector<std::string>{"blok dynamiczny.... ", "koniec bloku dynamic", "blok dynamiczny.... "}));
  }
}

TEST(InflateZlib, RandomDataOfManySizesMatchesZlib) {
  const std::size_t sizes[] = {1, 2, 3, 7, 8, 9, 100, 257, 258, 259, 1000, 4095, 32767, 32768, 32769, 65535, 65536, 65537, 100000, 262143, 262144, 300001, 1u << 20};
  unsigned seed = 10;
  for (std::size_t size : sizes) {
    const Bytes kinds[] = {Random(size, ++seed), Text(size, ++seed), Records(size, ++seed)};
    for (const Bytes& data : kinds) {
      for (int level : {1, 6, 9}) {
        const Bytes packed = DeflateRaw(data, level);
        const auto n = static_cast<std::uint32_t>(size);
        const Decoded d = Inflate(packed, n);
        ASSERT_EQ(d.ok, 1) << "size " << size << " level " << level;
        ASSERT_TRUE(d.out == data) << "size " << size << " level " << level;
        if (size > 65536 && level == 6) {
          const Decoded w = Inflate(packed, n, OutputKind::kPlain, false, 65536);
          ASSERT_EQ(w.ok, 1) << "windowed, size " << size;
          ASSERT_TRUE(w.out == data) << "windowed, size " << size;
        }
      }
    }
  }
}

// Only the first n bytes are produced, however far the data goes, and
// nothing after them is read: the block in progress is left unfinished.
TEST(InflateZlib, StopsAfterNBytesInsideABlock) {
  const Bytes text = Text(50000, 9);
  struct Case {
    const char* what;
    Bytes packed;
  } cases[] = {
      {"literals only", DeflateRaw(text, 6, Z_HUFFMAN_ONLY)},
      {"stored", DeflateRaw(text, 0)},
  };
  for (const auto& c : cases)
    for (std::uint32_t n : {1u, 2u, 1000u, 25000u, 49999u}) {
      const Decoded d = Inflate(c.packed, n);
      ASSERT_EQ(d.ok, 1) << c.what << ", n " << n;
      EXPECT_TRUE(d.out == Bytes(text.begin(), text.begin() + n)) << c.what << ", n " << n;
      ASSERT_FALSE(d.traces.empty());
      EXPECT_NE(d.traces.back().rfind("koniec", 0), 0u) << c.what << ": the last block is left unfinished";
      ExpectMatchesReference(c.packed, n, false, c.what);
    }
  const Decoded stored = Inflate(DeflateRaw(text, 0), 1000);
  EXPECT_EQ(stored.traces, std::vector<std::string>{"wczytano 1000 bajtow z bloku 00...wychodze...."});
}

TEST(InflateZlib, EntryOfSizeZeroFails) {
  const Bytes empty = DeflateRaw({}, 6);
  EXPECT_EQ(Inflate(empty, 0).ok, 0);
  EXPECT_EQ(Inflate(DeflateRaw(Text(100), 6), 0).ok, 0);
}

TEST(InflateZlib, CorruptedNlenFails) {
  Bytes packed = DeflateRaw(Text(1000), 0);  // header byte, LEN, NLEN, data
  packed[3] ^= 0x10;
  const Decoded d = Inflate(packed, 1000);
  EXPECT_EQ(d.ok, 0);
  EXPECT_EQ(d.traces, std::vector<std::string>{"blad bloku 00: NLEN nie jest dopelnieniem LEN"});
}

TEST(InflateZlib, TruncatedDataFails) {
  const Bytes data = Text(20000, 4);
  for (int level : {0, 1, 9}) {
    Bytes packed = DeflateRaw(data, level);
    // Four bytes hold more than an end-of-block code and its padding, so
    // without them some needed bits are missing.
    for (std::size_t cut : {std::size_t{4}, packed.size() / 2}) {
      Bytes shorter(packed.begin(), packed.end() - static_cast<std::ptrdiff_t>(cut));
      EXPECT_EQ(Inflate(shorter, 20000).ok, 0) << "level " << level << " without the last " << cut << " bytes";
    }
  }
}

TEST(InflateZlib, EntryLongerThanItsDataFails) {
  const Bytes data = Text(5000, 8);
  for (int level : {0, 6}) {
    // Decoding would have to go on after the final block.
    EXPECT_EQ(Inflate(DeflateRaw(data, level), 5001).ok, 0) << "level " << level;
  }
}

TEST(InflateOutput, LargeWritesToAPlainStream) {
  const Bytes data = Text(1u << 20, 12);
  const Bytes packed = DeflateRaw(data, 6);
  qor::MemoryStream* in = MemoryStreamWith(packed);
  CollectingStream out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(qor::InflateEntry(in, &out, static_cast<std::uint32_t>(data.size())), 1);
  testing::internal::GetCapturedStdout();
  in->Release();
  EXPECT_TRUE(out.data == data);
  EXPECT_LE(out.writes, 8) << "the output is handed on in pieces of a few hundred KiB";
}

TEST(InflateOutput, OutputThatRefusesBytesFails) {
  const Bytes data = Text(300000, 13);
  const Bytes packed = DeflateRaw(data, 6);
  for (std::size_t accept : {std::size_t{0}, std::size_t{1000}, data.size() - 1}) {
    qor::MemoryStream* in = MemoryStreamWith(packed);
    CollectingStream out(accept);
    testing::internal::CaptureStdout();
    EXPECT_EQ(qor::InflateEntry(in, &out, static_cast<std::uint32_t>(data.size())), 0) << "accepting " << accept;
    testing::internal::GetCapturedStdout();
    in->Release();
  }
}

// A memory stream that already holds bytes receives the entry exactly as a
// series of writes at its position would leave it.
TEST(InflateOutput, MemoryStreamPositionedAnywhere) {
  const Bytes data = Text(70000, 14);
  const Bytes packed = DeflateRaw(data, 6);
  struct Case {
    std::size_t existing;
    std::int32_t position;
  } cases[] = {{10, 3}, {100000, 5}, {10, 10}, {10, 25}, {0, 4}};
  for (const auto& c : cases) {
    qor::MemoryStream* in = MemoryStreamWith(packed);
    qor::MemoryStream* out = MemoryStreamWith(Bytes(c.existing, 'E'));
    out->Seek(c.position, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(qor::InflateEntry(in, out, static_cast<std::uint32_t>(data.size())), 1);
    testing::internal::GetCapturedStdout();
    Bytes expected(c.existing, 'E');
    expected.resize(std::max(expected.size(), c.position + data.size()), 0);
    std::copy(data.begin(), data.end(), expected.begin() + c.position);
    EXPECT_TRUE(Bytes(out->Data(), out->Data() + out->Size()) == expected)
        << "existing " << c.existing << ", position " << c.position;
    EXPECT_EQ(out->Position(), c.position + data.size());
    in->Release();
    out->Release();
  }
}

TEST(InflateCrc32, KnownValuesAndZlib) {
  EXPECT_EQ(qor::Crc32("abc", 3), 0x352441C2u);
  EXPECT_EQ(qor::Crc32("", 0), 0u);
  EXPECT_EQ(qor::Crc32("123456789", 9), 0xCBF43926u);
  const Bytes data = Random(100003, 15);
  EXPECT_EQ(qor::Crc32(data.data(), data.size()), crc32(0, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace
