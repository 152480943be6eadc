// Throughput of our inflate decoder against zlib's inflate on the same data,
// measured side by side in one run.
//
//   inflate_bench [rounds] [megabytes] [corpus]   (defaults 5, 20, all three)
//
// Three corpora of about 20 MB each are generated deterministically: text
// from a word generator, binary data from structured records, and random
// bytes. Each is compressed once with zlib at level 6 (raw DEFLATE, as in a
// ZIP entry) and then decoded:
//  * ours: InflateEntry from a MemoryStream into a fresh MemoryStream, the
//    way OpenZipEntry extracts an entry (the decoder fills the stream's own
//    buffer in place);
//  * ours, windowed: InflateEntry into a stream that only counts what it is
//    given (output through the 256 KiB window, in large writes);
//  * zlib: inflate in one call into a freshly allocated buffer of the size.
// The block trace lines the decoder writes go to /dev/null while it runs.
// Prints MB/s (10^6 bytes of output per second, best round) and our ratio
// to zlib. Exits 1 if any output differs from the corpus.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zip/inflate.h"
#include "zip/stream.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Prose-like text: words drawn with a skewed distribution, punctuation,
// capitals and line breaks.
Bytes MakeText(std::size_t size) {
  static const char* const syllables[] = {"in", "sta", "la", "cja", "pro", "gra", "mu", "pli", "ku", "dy",
                                          "sk", "the", "an", "ti", "vi", "rus", "ne", "to", "wer", "sja",
                                          "ar", "chi", "wum", "da", "ne", "kon", "fi", "gu", "ra", "cji"};
  std::mt19937 rng(1);
  std::vector<std::string> words;
  for (int i = 0; i < 4000; ++i) {
    std::string w;
    const int parts = 1 + static_cast<int>(rng() % 4);
    for (int p = 0; p < parts; ++p) w += syllables[rng() % 30];
    words.push_back(w);
  }
  std::geometric_distribution<int> pick(0.01);
  Bytes out;
  out.reserve(size + 64);
  bool sentenceStart = true;
  while (out.size() < size) {
    std::string w = words[static_cast<std::size_t>(pick(rng)) % words.size()];
    if (sentenceStart) w[0] = static_cast<char>(w[0] - 'a' + 'A');
    out.insert(out.end(), w.begin(), w.end());
    const unsigned r = rng() % 100;
    sentenceStart = r < 7;
    if (r < 7) out.push_back('.');
    else if (r < 12) out.push_back(',');
    out.push_back(r % 17 == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

// Records as a program would store them: an id, a timestamp, a few small
// counters, a fixed-point value, a type code and a name from a small set.
Bytes MakeBinary(std::size_t size) {
  struct Record {
    std::uint32_t id;
    std::uint32_t time;
    std::uint16_t counts[4];
    std::int32_t value;
    std::uint8_t type;
    std::uint8_t flags;
    char name[14];
  };
  static const char* const names[] = {"setup.exe", "qor_engn.dll", "Qor_Mail.Exe", "MailConf.Exe", "monitor.exe",
                                      "readme.txt", "setup.dat", "uninst.exe"};
  std::mt19937 rng(2);
  Bytes out;
  out.reserve(size + sizeof(Record));
  std::uint32_t time = 1000000000;
  std::int32_t value = 0;
  for (std::uint32_t id = 0; out.size() < size; ++id) {
    Record r{};
    r.id = id;
    time += rng() % 60;
    r.time = time;
    for (auto& c : r.counts) c = static_cast<std::uint16_t>(rng() % 8 == 0 ? rng() % 1000 : rng() % 4);
    value += static_cast<std::int32_t>(rng() % 201) - 100;
    r.value = value;
    r.type = static_cast<std::uint8_t>(rng() % 5);
    r.flags = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0x80 : 0);
    const char* name = names[rng() % 8];
    std::memcpy(r.name, name, std::strlen(name));
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    out.insert(out.end(), p, p + sizeof r);
  }
  out.resize(size);
  return out;
}

Bytes MakeRandom(std::size_t size) {
  std::mt19937_64 rng(3);
  Bytes out(size);
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t v = rng();
    std::memcpy(&out[i], &v, 8);
  }
  return out;
}

Bytes Deflate(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A stream that copies what it is given into a buffer allocated beforehand,
// as a consumer of the windowed path would.
class BufferStream final : public qor::Stream {
 public:
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
  explicit BufferStream(std::size_t capacity) : buffer(capacity) {}
  std::uint32_t Write(const void* data, std::uint32_t count) override {
    if (count > buffer.size() - bytes) count = static_cast<std::uint32_t>(buffer.size() - bytes);
    std::memcpy(buffer.data() + bytes, data, count);
    bytes += count;
    return count;
  }
  Bytes buffer;
  std::size_t bytes = 0;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Figures {
  double ours = 0, windowed = 0, zlib = 0;
  bool ok = true;
};

Figures Measure(const Bytes& data, const Bytes& packed, int rounds) {
  Figures f;
  const double mb = data.size() / 1e6;
  qor::MemoryStream* in = nullptr;
  qor::CreateMemoryStream(&in);
  in->Write(packed.data(), static_cast<std::uint32_t>(packed.size()));
  const auto n = static_cast<std::uint32_t>(data.size());

  for (int round = 0; round < rounds; ++round) {
    {
      in->Seek(0, 0);
      qor::MemoryStream* out = nullptr;
      qor::CreateMemoryStream(&out);
      const auto start = std::chrono::steady_clock::now();
      const int r = qor::InflateEntry(in, out, n);
      const double s = Seconds(start);
      if (r != 1 || out->Size() != n || std::memcmp(out->Data(), data.data(), n) != 0) f.ok = false;
      out->Release();
      if (mb / s > f.ours) f.ours = mb / s;
    }
    {
      in->Seek(0, 0);
      BufferStream out(data.size());
      const auto start = std::chrono::steady_clock::now();
      const int r = qor::InflateEntry(in, &out, n);
      const double s = Seconds(start);
      if (r != 1 || out.bytes != n || std::memcmp(out.buffer.data(), data.data(), n) != 0) f.ok = false;
      if (mb / s > f.windowed) f.windowed = mb / s;
    }
    {
      const auto start = std::chrono::steady_clock::now();
      unsigned char* out = static_cast<unsigned char*>(std::malloc(n));
      z_stream z{};
      inflateInit2(&z, -15);
      z.next_in = const_cast<Bytef*>(packed.data());
      z.avail_in = static_cast<uInt>(packed.size());
      z.next_out = out;
      z.avail_out = n;
      const int r = inflate(&z, Z_FINISH);
      inflateEnd(&z);
      const double s = Seconds(start);
      if (r != Z_STREAM_END || z.total_out != n || std::memcmp(out, data.data(), n) != 0) f.ok = false;
      std::free(out);
      if (mb / s > f.zlib) f.zlib = mb / s;
    }
  }
  in->Release();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::size_t size = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20) * 1000000;

  struct Corpus {
    const char* name;
    Bytes data;
  } corpora[] = {{"text", MakeText(size)}, {"binary", MakeBinary(size)}, {"incompressible", MakeRandom(size)}};

  // The decoder's trace lines would swamp the table: send them to /dev/null
  // and keep our own copy of standard output for the figures.
  std::fflush(stdout);
  const int console = dup(1);
  const int devnull = open("/dev/null", O_WRONLY);
  std::FILE* report = fdopen(console, "w");

  std::fprintf(report, "inflate_bench: best of %d rounds, MB/s of output\n", rounds);
  std::fprintf(report, "%-15s %10s %9s %9s %9s %9s %8s\n", "corpus", "MB", "packed%", "ours", "windowed", "zlib",
               "ours/zlib");
  bool ok = true;
  for (const auto& c : corpora) {
    if (argc > 3 && std::strcmp(argv[3], c.name) != 0) continue;
    const Bytes packed = Deflate(c.data);
    dup2(devnull, 1);
    const Figures f = Measure(c.data, packed, rounds);
    std::fflush(stdout);
    ok = ok && f.ok;
    std::fprintf(report, "%-15s %10.1f %8.1f%% %9.0f %9.0f %9.0f %8.2fx%s\n", c.name, c.data.size() / 1e6,
                 100.0 * packed.size() / c.data.size(), f.ours, f.windowed, f.zlib, f.ours / f.zlib,
                 f.ok ? "" : "  OUTPUT DIFFERS");
    std::fflush(report);
  }
  dup2(console, 1);
  return ok ? 0 : 1;
}
