// The inflate decoder on hand-built bit streams: code sets that zlib refuses
// (incomplete, over-subscribed, 288/32 codes) decode as a bit-by-bit search
// of the per-length code lists decodes them, and corrupt streams fail.
// Every case is also checked against the plain reference decoder, and,
// where zlib has an opinion, against zlib.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "inflate_test_util.h"

namespace {

using namespace qor_test;

std::vector<int> FixedLitLens() {
  std::vector<int> lens(288);
  for (int s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  return lens;
}
const HuffmanWriter& Fixed() {
  static const HuffmanWriter w(FixedLitLens(), std::vector<int>(30, 5));
  return w;
}

// Literal/length code lengths: `count` symbols, all 0 except those given.
std::vector<int> Lens(int count, std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> lens(static_cast<std::size_t>(count), 0);
  for (auto [sym, len] : set) lens[static_cast<std::size_t>(sym)] = len;
  return lens;
}

enum Zlib { kZlibRefuses, kZlibAgrees, kZlibNotAsked };

struct CodeCase {
  std::string what;
  Bytes data;
  std::uint32_t n;
  bool ok;
  std::string out;  // when ok
  Zlib zlib = kZlibNotAsked;
  bool cut = false;
};

void Check(const CodeCase& c) {
  SCOPED_TRACE(c.what);
  for (OutputKind kind : {OutputKind::kMemory, OutputKind::kPlain}) {
    const Decoded d = Inflate(c.data, c.n, kind, c.cut);
    EXPECT_EQ(d.ok, c.ok ? 1 : 0);
    if (c.ok) {
      EXPECT_EQ(std::string(d.out.begin(), d.out.end()), c.out);
    }
  }
  ExpectMatchesReference(c.data, c.n, c.cut, c.what);
  if (c.zlib != kZlibNotAsked) {
    Bytes z;
    bool zok = InflateRawZlib(c.data, z, 1 << 20);
    if (c.zlib == kZlibRefuses) {
      EXPECT_FALSE(zok) << "zlib accepts it";
    } else {
      EXPECT_TRUE(zok) << "zlib refuses it";
      EXPECT_EQ(std::string(z.begin(), z.begin() + std::min<std::size_t>(z.size(), c.out.size())), c.out);
    }
  }
}

TEST(InflateCodes, IncompleteAndOverSubscribedSets) {
  std::vector<CodeCase> cases;
  {
    // 'A' = 0, end of block = 10; the pattern 11 belongs to no code.
    const auto lit = Lens(257, {{'A', 1}, {256, 2}});
    const HuffmanWriter h(lit, {1});
    BitWriter ok, bad;
    DynamicHeader(ok, true, lit, {1});
    for (int i = 0; i < 3; ++i) h.Symbol(ok, 'A');
    h.Symbol(ok, 256);
    cases.push_back({"incomplete set: decodes while only its codes appear", ok.Data(), 3, true, "AAA", kZlibRefuses});
    DynamicHeader(bad, true, lit, {1});
    h.Symbol(bad, 'A');
    bad.Code(3, 2).Bits(0, 16);
    cases.push_back({"incomplete set: a pattern no code claims fails", bad.Data(), 3, false, ""});
  }
  {
    // Three 1-bit codes: 0, 1, and a third (2) that can never be read; the
    // end-of-block code after it cannot be read either.
    const auto lit = Lens(257, {{'A', 1}, {'B', 1}, {'C', 1}, {256, 2}});
    const HuffmanWriter h(lit, {1});
    BitWriter w;
    DynamicHeader(w, true, lit, {1});
    for (char c : std::string("ABBA")) h.Symbol(w, c);
    cases.push_back({"over-subscribed set: the codes that fit decode", w.Data(), 4, true, "ABBA", kZlibRefuses});
  }
  {
    // Lengths 1..12 for 'a'..'l', then 12 again for 'm' (the last code that
    // fits) and for 'n' (over-subscribed): 12-bit codes live in subtables.
    std::vector<int> lit(257, 0);
    for (int i = 0; i < 12; ++i) lit['a' + i] = i + 1;
    lit['m'] = 12;
    lit['n'] = 12;
    lit[256] = 13;
    const HuffmanWriter h(lit, {1});
    ASSERT_TRUE(h.Writable('m'));
    ASSERT_FALSE(h.Writable('n'));
    BitWriter w;
    DynamicHeader(w, true, lit, {1});
    for (char c : std::string("abcdefghijklmmlkjihgfedcba")) h.Symbol(w, c);
    cases.push_back({"over-subscribed set with long codes", w.Data(), 26, true, "abcdefghijklmmlkjihgfedcba", kZlibRefuses});
  }
  {
    // 288 literal/length and 32 distance lengths may be sent; the length
    // symbols 286 and 287 have codes but no meaning.
    const auto lit = Lens(288, {{'A', 1}, {256, 2}, {287, 2}});
    const HuffmanWriter h(lit, {1});
    BitWriter ok, bad;
    DynamicHeader(ok, true, lit, std::vector<int>(32, 5));
    h.Symbol(ok, 'A');
    h.Symbol(ok, 'A');
    h.Symbol(ok, 256);
    cases.push_back({"288 literal/length and 32 distance lengths", ok.Data(), 2, true, "AA", kZlibRefuses});
    DynamicHeader(bad, true, lit, std::vector<int>(32, 5));
    h.Symbol(bad, 'A');
    h.Symbol(bad, 287);
    cases.push_back({"length symbol 287 fails", bad.Data(), 2, false, ""});
  }
  {
    // Without an end-of-block code the block cannot end, but the entry can.
    const auto lit = Lens(257, {{'A', 1}});
    const HuffmanWriter h(lit, {1});
    BitWriter w;
    DynamicHeader(w, true, lit, {1});
    for (int i = 0; i < 5; ++i) h.Symbol(w, 'A');
    cases.push_back({"no end-of-block code", w.Data(), 5, true, "AAAAA", kZlibRefuses});
  }
  {
    // One distance code of one bit, as zlib writes when one distance is used.
    const auto lit = Lens(258, {{'a', 1}, {256, 2}, {257, 2}});
    const HuffmanWriter h(lit, {1});
    BitWriter w;
    DynamicHeader(w, true, lit, {1});
    h.Symbol(w, 'a');
    h.Match(w, 3, 1);
    h.Symbol(w, 256);
    cases.push_back({"a single one-bit distance code", w.Data(), 4, true, "aaaa", kZlibAgrees});
  }
  for (const auto& c : cases) Check(c);
}

TEST(InflateCodes, DistanceSymbolsWithoutMeaning) {
  std::vector<CodeCase> cases;
  const auto lit = Lens(258, {{'A', 1}, {257, 1}});
  for (int sym : {30, 31}) {
    // Distance symbol 0 has code 0 and `sym` code 1.
    std::vector<int> dist(32, 0);
    dist[0] = 1;
    dist[static_cast<std::size_t>(sym)] = 1;
    const HuffmanWriter h(lit, dist);
    BitWriter ok, bad;
    DynamicHeader(ok, true, lit, dist);
    h.Symbol(ok, 'A');
    h.Symbol(ok, 257);
    h.DistSymbol(ok, 0);
    cases.push_back({"distance symbol 0 beside " + std::to_string(sym), ok.Data(), 4, true, "AAAA"});
    DynamicHeader(bad, true, lit, dist);
    h.Symbol(bad, 'A');
    h.Symbol(bad, 257);
    h.DistSymbol(bad, sym);
    bad.Bits(0, 16);
    cases.push_back({"distance symbol " + std::to_string(sym) + " fails", bad.Data(), 4, false, ""});
  }
  for (std::uint32_t code : {30u, 31u}) {
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);
    Fixed().Symbol(w, 'a');
    Fixed().Symbol(w, 257);
    w.Code(code, 5).Bits(0, 16);
    cases.push_back({"fixed distance code " + std::to_string(code) + " fails", w.Data(), 4, false, "", kZlibRefuses});
  }
  for (int sym : {286, 287}) {
    BitWriter w;
    w.Bits(1, 1).Bits(1, 2);
    Fixed().Symbol(w, 'a');
    Fixed().Symbol(w, sym);
    w.Bits(0, 16);
    cases.push_back({"fixed length symbol " + std::to_string(sym) + " fails", w.Data(), 4, false, "", kZlibRefuses});
  }
  for (const auto& c : cases) Check(c);
}

// Code lengths for 286 + 30 symbols ('A' and end of block 1 bit, distance 0
// 1 bit), the last 29 sent as one run of zeros of 11 + x.
Bytes RunHeader(int lastRunExtra) {
  BitWriter w;
  DynamicHeaderRaw(w, true, 29, 29, FullPrecode(),
                   {{18, 54}, {1}, {18, 127}, {18, 41}, {1}, {18, 18}, {1}, {18, lastRunExtra}});
  const HuffmanWriter h(Lens(286, {{'A', 1}, {256, 1}}), Lens(30, {{0, 1}}));
  h.Symbol(w, 'A');
  h.Symbol(w, 'A');
  h.Symbol(w, 256);
  return w.Data();
}

TEST(InflateCodes, CodeLengthSequences) {
  std::vector<CodeCase> cases = {
      {"run of zeros ending at the last length", RunHeader(18), 2, true, "AA", kZlibAgrees},
      {"run carrying the count to 317", RunHeader(19), 2, true, "AA", kZlibRefuses},
      {"run carrying the count beyond 317 fails", RunHeader(20), 2, false, "", kZlibRefuses},
  };
  {
    BitWriter w;
    DynamicHeaderRaw(w, true, 0, 0, FullPrecode(), {{16, 0}, {1}});
    w.Bits(0, 32);
    cases.push_back({"repeat before any length fails", w.Data(), 1, false, "", kZlibRefuses});
  }
  {
    // The code-length code has one code, 0 for length 1: the bits 1111111 match nothing.
    std::vector<int> pre(19, 0);
    pre[1] = 1;
    BitWriter w;
    DynamicHeaderRaw(w, true, 0, 0, pre, {});
    w.Bits(0x7F, 7).Bits(0, 32);
    cases.push_back({"code-length code that matches nothing fails", w.Data(), 1, false, "", kZlibRefuses});
  }
  {
    // Repeats within the literal lengths and from the literal into the
    // distance lengths: 'A'..'D' 3 bits, end of block and 257 2 bits,
    // distance symbols 0..3 2 bits (both codes complete).
    BitWriter w;
    DynamicHeaderRaw(w, true, 1, 3, FullPrecode(),
                     {{18, 54}, {3}, {16, 0}, {18, 127}, {18, 38}, {2}, {2}, {16, 0}, {2}});
    const HuffmanWriter h(Lens(258, {{'A', 3}, {'B', 3}, {'C', 3}, {'D', 3}, {256, 2}, {257, 2}}), {2, 2, 2, 2});
    for (char c : std::string("ABC")) h.Symbol(w, c);
    h.Match(w, 3, 3);
    h.Symbol(w, 256);
    cases.push_back({"repeats across both alphabets", w.Data(), 6, true, "ABCABC", kZlibAgrees});
  }
  for (const auto& c : cases) Check(c);
}

TEST(InflateCodes, LongestCodesUseSubtables) {
  // Literal lengths 1..14 for 'a'..'n', 15 for 'o' and for end of block;
  // distance lengths 1..14 for symbols 0..13, 15 for 14 and 15: both complete.
  std::vector<int> lit(257, 0), dist(16, 0);
  for (int i = 0; i < 14; ++i) lit['a' + i] = i + 1, dist[static_cast<std::size_t>(i)] = i + 1;
  lit['o'] = lit[256] = 15;
  dist[14] = dist[15] = 15;
  std::vector<int> litFull = lit;
  litFull.resize(286, 0);
  litFull[257] = litFull[284] = 15;  // lengths 3 and 227..257; the code is now over-subscribed at 15
  const HuffmanWriter h(litFull, dist);
  BitWriter w;
  DynamicHeader(w, true, litFull, dist);
  std::string expected;
  for (char c = 'a'; c <= 'o'; ++c) h.Symbol(w, c), expected += c;
  ASSERT_TRUE(h.Writable(256));
  ASSERT_FALSE(h.Writable(257)) << "codes after the last one that fits cannot be read";
  h.Symbol(w, 256);
  CodeCase c{"15-bit literal and distance codes", w.Data(), 15, true, expected};
  Check(c);

  // A complete literal/length code with 15-bit codes, matches with every
  // distance symbol.
  std::vector<int> l3(286, 0);
  for (int i = 0; i < 14; ++i) l3['a' + i] = i + 1;
  l3['o'] = 15;
  l3[285] = 15;
  const HuffmanWriter h3(l3, dist);
  BitWriter w3;
  DynamicHeader(w3, true, l3, dist);
  std::string out;
  for (char ch = 'a'; ch <= 'o'; ++ch) h3.Symbol(w3, ch), out += ch;
  for (int sym = 0; sym < 16; ++sym) {
    const int d = HuffmanWriter::DistBase(sym);
    ASSERT_LE(d, static_cast<int>(out.size()));
    h3.Match(w3, 258, d);
    for (int i = 0; i < 258; ++i) out += out[out.size() - static_cast<std::size_t>(d)];
  }
  Check({"15-bit length and distance codes in matches", w3.Data(), static_cast<std::uint32_t>(out.size()), true, out});
}

TEST(InflateCodes, MatchesAgainstTheOutput) {
  std::vector<CodeCase> cases;
  auto fixedBlock = [](bool final, const std::function<void(BitWriter&)>& body) {
    BitWriter w;
    w.Bits(final ? 1 : 0, 1).Bits(1, 2);
    body(w);
    return w;
  };
  {
    BitWriter w = fixedBlock(true, [](BitWriter& b) {
      Fixed().Symbol(b, 'x');
      Fixed().Match(b, 3, 2);
      Fixed().Symbol(b, 256);
    });
    cases.push_back({"match reaching before the first byte fails", w.Data(), 4, false, "", kZlibRefuses});
  }
  {
    BitWriter w = fixedBlock(true, [](BitWriter& b) {
      Fixed().Symbol(b, 'x');
      Fixed().Symbol(b, 'y');
      Fixed().Match(b, 3, 2);
      Fixed().Symbol(b, 256);
    });
    cases.push_back({"match reaching back to the first byte", w.Data(), 5, true, "xyxyx", kZlibAgrees});
  }
  {
    BitWriter w = fixedBlock(true, [](BitWriter& b) {
      Fixed().Symbol(b, 'a');
      Fixed().Match(b, 10, 1);
      Fixed().Symbol(b, 256);
    });
    cases.push_back({"match ending with the entry", w.Data(), 11, true, "aaaaaaaaaaa", kZlibAgrees});
    cases.push_back({"match running past the entry fails", w.Data(), 5, false, ""});
    CodeCase cut{"match cut at a limit", w.Data(), 5, true, "aaaaa"};
    cut.cut = true;
    cases.push_back(cut);
    cases.push_back({"final block, then more wanted", w.Data(), 12, false, ""});
  }
  {
    BitWriter w = fixedBlock(false, [](BitWriter& b) {
      Fixed().Symbol(b, 'a');
      Fixed().Symbol(b, 256);
    });
    w.Bits(1, 1).Bits(1, 2);
    Fixed().Symbol(w, 'b');
    Fixed().Symbol(w, 256);
    cases.push_back({"two fixed blocks", w.Data(), 2, true, "ab", kZlibAgrees});
  }
  {
    BitWriter w;
    w.Bits(1, 1).Bits(3, 2).Bits(0, 32);
    cases.push_back({"reserved block type fails", w.Data(), 1, false, "", kZlibRefuses});
  }
  for (const auto& c : cases) Check(c);
}

// A stored block after a Huffman block: its length field follows the byte
// boundary after its header, wherever the header falls.
TEST(InflateCodes, StoredBlockAfterAHuffmanBlockAtEveryBitOffset) {
  for (int k = 0; k <= 40; ++k) {
    BitWriter w;
    w.Bits(0, 1).Bits(1, 2);
    std::string expected;
    for (int i = 0; i < k; ++i) {
      const int sym = i % 3 == 2 ? 200 : 'a' + i % 26;  // 8- and 9-bit codes
      Fixed().Symbol(w, sym);
      expected += static_cast<char>(sym);
    }
    Fixed().Symbol(w, 256);
    w.Stored(true, ToBytes("hello"));
    expected += "hello";
    Check({"stored block after " + std::to_string(k) + " literals", w.Data(),
           static_cast<std::uint32_t>(expected.size()), true, expected, kZlibAgrees});
  }
}

// Random code sets (complete, incomplete or over-subscribed) with random
// symbols and matches written in them, and random damage: the decoder
// agrees with the reference decoder on the result, the bytes and the traces.
TEST(InflateCodes, RandomCodeSetsAgreeWithTheReference) {
  std::mt19937 rng(2024);
  for (int iter = 0; iter < 600; ++iter) {
    const int nlit = 257 + static_cast<int>(rng() % 32);
    const int ndist = 1 + static_cast<int>(rng() % 32);
    const int maxLen = 1 + static_cast<int>(rng() % 15);
    std::vector<int> lit(static_cast<std::size_t>(nlit)), dist(static_cast<std::size_t>(ndist));
    for (auto& l : lit) l = rng() % 3 == 0 ? 0 : 1 + static_cast<int>(rng() % static_cast<unsigned>(maxLen));
    for (auto& l : dist) l = rng() % 3 == 0 ? 0 : 1 + static_cast<int>(rng() % 15);
    const HuffmanWriter h(lit, dist);
    BitWriter w;
    const bool fixedFirst = rng() % 4 == 0;
    if (fixedFirst) {
      w.Bits(0, 1).Bits(1, 2);
      Fixed().Symbol(w, 'z');
      Fixed().Symbol(w, 256);
    }
    DynamicHeader(w, true, lit, dist);
    std::vector<int> writable;
    for (int s = 0; s < nlit; ++s)
      if (h.Writable(s) && s != 256) writable.push_back(s);
    std::uint32_t produced = fixedFirst ? 1 : 0;
    for (int i = 0; i < 200 && !writable.empty(); ++i) {
      const int sym = writable[rng() % writable.size()];
      if (sym < 256) {
        h.Symbol(w, sym);
        ++produced;
        continue;
      }
      if (sym > 285) {
        h.Symbol(w, sym);
        break;
      }
      h.Symbol(w, sym);
      static const int lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
      w.Bits(rng(), static_cast<unsigned>(lengthExtra[sym - 257]));
      std::vector<int> dists;
      for (int d = 0; d < ndist; ++d)
        if (h.DistWritable(d)) dists.push_back(d);
      if (dists.empty()) break;
      const int ds = dists[rng() % dists.size()];
      h.DistSymbol(w, ds);
      if (ds >= 30) break;
      w.Bits(rng(), static_cast<unsigned>(ds < 4 ? 0 : (ds - 2) / 2));
      produced += 3;
    }
    if (h.Writable(256) && rng() % 2) h.Symbol(w, 256);
    Bytes data = w.Data();
    if (rng() % 4 == 0 && !data.empty()) data[rng() % data.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    if (rng() % 5 == 0 && data.size() > 4) data.resize(data.size() - 1 - rng() % 4);
    std::uint32_t n = produced == 0 ? 1 : 1 + static_cast<std::uint32_t>(rng() % (produced + 300));
    const bool cut = rng() % 3 == 0;
    ExpectMatchesReference(data, n, cut, "random code set " + std::to_string(iter));
    if (HasFatalFailure()) return;
  }
}

// zlib streams with bits flipped, bytes cut off and sizes that do not match:
// whatever the damage, the decoder agrees with the reference decoder.
TEST(InflateCodes, DamagedStreamsAgreeWithTheReference) {
  std::mt19937 rng(77);
  for (int iter = 0; iter < 1500; ++iter) {
    const std::size_t size = 1 + rng() % 3000;
    const Bytes data = iter % 3 == 0 ? Random(size, iter) : Text(size, iter);
    const int levels[] = {0, 1, 6, 9};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE};
    Bytes packed = DeflateRaw(data, levels[rng() % 4], strategies[rng() % 4]);
    const int flips = static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) packed[rng() % packed.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    if (rng() % 4 == 0) packed.resize(rng() % (packed.size() + 1));
    std::uint32_t n = static_cast<std::uint32_t>(size);
    if (rng() % 3 == 0) n = 1 + static_cast<std::uint32_t>(rng() % (size + 100));
    const bool cut = rng() % 4 == 0;
    ExpectMatchesReference(packed, n, cut, "damaged stream " + std::to_string(iter));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
