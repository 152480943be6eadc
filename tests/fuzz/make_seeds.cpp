// Writes the fuzzers' seed corpora: small archives and DEFLATE streams of
// every kind the reader and the decoder handle, made with ZipBuilder, zlib
// and hand-built bit streams.
//
//   fuzz_make_seeds <tests/fuzz/corpus>
//
// Run once; the seeds are kept in the repository. The archives under
// tests/data/zip were copied into corpus/open_zip_entry/ by hand.
#include <cstdio>
#include <string>
#include <vector>

#include "zip_fixtures.h"

namespace {

using namespace qor_test;

Bytes Text(std::size_t size, unsigned seed) {
  static const char* words[] = {"instalacja", "programu", "plik", "dysk", "the", "of", "archive", "entry"};
  Bytes out;
  unsigned x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % 8];
    out.insert(out.end(), w, w + std::string(w).size());
    out.push_back((x >> 8) % 9 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes Noise(std::size_t size, unsigned seed) {
  Bytes out(size);
  unsigned x = seed;
  for (auto& b : out) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  return out;
}

bool Save(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return std::fclose(f) == 0;
}

// An inflate seed: the size wanted, the options byte, the data.
Bytes InflateSeed(std::uint32_t n, std::uint8_t options, const Bytes& data) {
  Bytes seed = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
                static_cast<std::uint8_t>(n >> 24), options};
  seed.insert(seed.end(), data.begin(), data.end());
  return seed;
}

ZipEntrySpec Entry(const std::string& name, const Bytes& data, int method) {
  ZipEntrySpec e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds <corpus directory>\n");
    return 2;
  }
  const std::string inflateDir = std::string(argv[1]) + "/inflate_entry/";
  const std::string zipDir = std::string(argv[1]) + "/open_zip_entry/";
  bool ok = true;

  const Bytes text = Text(1500, 1);
  struct Z {
    const char* name;
    int level, strategy;
    std::vector<DeflateStep> steps;
  } zlibSeeds[] = {
      {"level0", 0, Z_DEFAULT_STRATEGY, {}},
      {"level1", 1, Z_DEFAULT_STRATEGY, {}},
      {"level6", 6, Z_DEFAULT_STRATEGY, {}},
      {"level9", 9, Z_DEFAULT_STRATEGY, {}},
      {"fixed", 6, Z_FIXED, {}},
      {"huffman_only", 6, Z_HUFFMAN_ONLY, {}},
      {"rle", 6, Z_RLE, {}},
      {"sync_flush", 6, Z_DEFAULT_STRATEGY, {{301, Z_SYNC_FLUSH}, {400, Z_FULL_FLUSH}}},
      {"stored_after_huffman", 6, Z_DEFAULT_STRATEGY, {{303, Z_NO_FLUSH}, {500, Z_NO_FLUSH, 0}, {200, Z_NO_FLUSH, 9}}},
  };
  for (const auto& z : zlibSeeds) {
    const Bytes packed = DeflateRaw(text, z.level, z.strategy, z.steps);
    ok &= Save(inflateDir + z.name, InflateSeed(1500, 0, packed));
    ok &= Save(inflateDir + z.name + "_cut", InflateSeed(700, 1, packed));
    ok &= Save(inflateDir + z.name + "_read_ahead", InflateSeed(1500, 0x20, packed));
  }
  ok &= Save(inflateDir + "noise", InflateSeed(600, 0, DeflateRaw(Noise(600, 2), 6)));
  ok &= Save(inflateDir + "runs", InflateSeed(2000, 0, DeflateRaw(Bytes(2000, 'a'), 9)));

  // A dynamic block with an incomplete literal code and 32 distance codes.
  {
    std::vector<int> lit(288, 0), dist(32, 0);
    lit['A'] = 1;
    lit[256] = 2;
    lit[257] = 3;
    dist[0] = 1;
    dist[31] = 1;
    HuffmanWriter h(lit, dist);
    BitWriter w;
    DynamicHeader(w, true, lit, dist);
    h.Symbol(w, 'A');
    h.Match(w, 3, 1);
    h.Symbol(w, 256);
    ok &= Save(inflateDir + "odd_codes", InflateSeed(4, 0, w.Data()));
  }

  // Archives.
  ok &= Save(zipDir + "stored.zip", ZipBuilder::Build({Entry("a.txt", text, 0), Entry("b", Text(40, 3), 8)}));
  ok &= Save(zipDir + "deflated.zip", ZipBuilder::Build({Entry("a.txt", text, 8)}));
  {
    ZipLayout sfx;
    sfx.prefix = Bytes{'M', 'Z', 0x90, 0, 3, 0, 0, 0};
    ok &= Save(zipDir + "self_extractor.zip", ZipBuilder::Build({Entry("a.txt", Text(300, 4), 8)}, sfx));
    ZipLayout commented;
    commented.comment = "komentarz";
    ok &= Save(zipDir + "commented.zip", ZipBuilder::Build({Entry("a.txt", Text(100, 5), 0)}, commented));
    std::vector<ZipEntrySpec> odd = {Entry("first", Text(200, 6), 8), Entry("second", Text(50, 7), 0)};
    odd[0].localExtra = Bytes(40, 1);
    odd[0].comment = "c";
    odd[1].flags = 1;
    ZipLayout order;
    order.localOrder = {1, 0};
    ok &= Save(zipDir + "extras_and_order.zip", ZipBuilder::Build(odd, order));
  }
  if (!ok) std::fprintf(stderr, "fuzz_make_seeds: could not write every seed\n");
  return ok ? 0 : 1;
}
