// Throughput of our inflate decoder against zlib's inflate and libdeflate on
// the same data, measured side by side in one run.
//
//   inflate_bench [rounds] [megabytes] [corpus]   (defaults 7, 20, all)
//
// Corpora of about 20 MB each: three generated deterministically (text from
// a word generator, binary data from structured records, random bytes) and
// two of real files this machine has, each file after the other in name
// order until the size is reached: C headers from /usr/include as text, and
// the Windows PE DLLs of the Wine installation as the binaries an installer
// ships. A corpus whose files are missing is left out. Each is compressed
// once with zlib at level 6 and once at level 9 (raw DEFLATE, as in a ZIP
// entry) and then decoded, the contenders taking turns within each round:
//  * ours: InflateEntry from a MemoryStream into a fresh MemoryStream, the
//    way OpenZipEntry extracts an entry (the decoder fills the stream's own
//    buffer in place);
//  * generic: the same with the generic fast loop forced, the one the 32-bit
//    program runs;
//  * windowed: InflateEntry into a stream that only copies what it is given
//    into a buffer (output through the 256 KiB window, in large writes);
//  * zlib: inflate in one call into a freshly allocated buffer of the size;
//  * libdeflate: libdeflate_deflate_decompress into a freshly allocated
//    buffer of the size, with a decompressor allocated for the call.
// The block trace lines the decoder writes go to /dev/null while it runs.
// Times are the thread's processor time. Prints MB/s (10^6 bytes of output
// per second, best round) and the ratios
// to zlib and to libdeflate. Exits 1 if any output differs from the corpus.
#include <fcntl.h>
#include <unistd.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// Files below `folder` whose names end in `suffix`, one after the other in
// name order, until `size` bytes; empty when there are none.
Bytes ConcatenateFiles(const char* folder, const char* suffix, std::size_t size) {
  namespace fs = std::filesystem;
  std::vector<fs::path> paths;
  std::error_code ec;
  const std::string tail = suffix;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file(ec) && name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
      paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  Bytes out;
  for (const auto& path : paths) {
    if (out.size() >= size) break;
    std::ifstream f(path, std::ios::binary);
    out.insert(out.end(), std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  if (out.size() > size) out.resize(size);
  return out;
}

Bytes MakeHeaders(std::size_t size) { return ConcatenateFiles("/usr/include", ".h", size); }

// The 32-bit DLLs where the Wine installation keeps them, else the 64-bit ones.
Bytes MakePeDlls(std::size_t size) {
  for (const char* folder : {"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows",
                             "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"}) {
    Bytes b = ConcatenateFiles(folder, ".dll", size);
    if (!b.empty()) return b;
  }
  return {};
}

Bytes Deflate(const Bytes& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
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

// Processor time of this thread, in seconds: the machine is shared, and time
// spent waiting for a processor would count against whoever was running.
double Now() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double Seconds(double since) {
  return Now() - since;
}

struct Figures {
  double ours = 0, generic = 0, windowed = 0, zlib = 0, libdeflate = 0;
  bool ok = true;
};

void KeepBest(double& best, double mbPerSecond) {
  if (mbPerSecond > best) best = mbPerSecond;
}

// InflateEntry from in (rewound) into a fresh MemoryStream; MB/s, or 0 when
// the output differs.
double OursIntoMemory(qor::MemoryStream* in, const Bytes& data, qor::inflate_internal::FastLoop loop) {
  const auto n = static_cast<std::uint32_t>(data.size());
  in->Seek(0, 0);
  qor::MemoryStream* out = nullptr;
  qor::CreateMemoryStream(&out);
  const double start = Now();
  const int r = qor::inflate_internal::InflateEntryWith(in, out, n, false, loop);
  const double s = Seconds(start);
  const bool same = r == 1 && out->Size() == n && std::memcmp(out->Data(), data.data(), n) == 0;
  out->Release();
  return same ? data.size() / 1e6 / s : 0;
}

Figures Measure(const Bytes& data, const Bytes& packed, int rounds) {
  Figures f;
  const double mb = data.size() / 1e6;
  qor::MemoryStream* in = nullptr;
  qor::CreateMemoryStream(&in);
  in->Write(packed.data(), static_cast<std::uint32_t>(packed.size()));
  const auto n = static_cast<std::uint32_t>(data.size());
  using qor::inflate_internal::FastLoop;

  for (int round = 0; round < rounds; ++round) {
    const double ours = OursIntoMemory(in, data, FastLoop::kChosen);
    f.ok = f.ok && ours > 0;
    KeepBest(f.ours, ours);
    const double generic = OursIntoMemory(in, data, FastLoop::kGeneric);
    f.ok = f.ok && generic > 0;
    KeepBest(f.generic, generic);
    {
      in->Seek(0, 0);
      BufferStream out(data.size());
      const double start = Now();
      const int r = qor::InflateEntry(in, &out, n);
      const double s = Seconds(start);
      if (r != 1 || out.bytes != n || std::memcmp(out.buffer.data(), data.data(), n) != 0) f.ok = false;
      KeepBest(f.windowed, mb / s);
    }
    {
      const double start = Now();
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
      KeepBest(f.zlib, mb / s);
    }
    {
      const double start = Now();
      unsigned char* out = static_cast<unsigned char*>(std::malloc(n));
      libdeflate_decompressor* d = libdeflate_alloc_decompressor();
      std::size_t produced = 0;
      const libdeflate_result r = libdeflate_deflate_decompress(d, packed.data(), packed.size(), out, n, &produced);
      libdeflate_free_decompressor(d);
      const double s = Seconds(start);
      if (r != LIBDEFLATE_SUCCESS || produced != n || std::memcmp(out, data.data(), n) != 0) f.ok = false;
      std::free(out);
      KeepBest(f.libdeflate, mb / s);
    }
  }
  in->Release();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  const std::size_t size = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20) * 1000000;
  const char* only = argc > 3 ? argv[3] : nullptr;

  struct Corpus {
    const char* name;
    Bytes (*make)(std::size_t);
  } corpora[] = {{"text", MakeText},          {"binary", MakeBinary}, {"incompressible", MakeRandom},
                 {"headers", MakeHeaders}, {"pe-dlls", MakePeDlls}};

  // The decoder's trace lines would swamp the table: send them to /dev/null
  // and keep our own copy of standard output for the figures.
  std::fflush(stdout);
  const int console = dup(1);
  const int devnull = open("/dev/null", O_WRONLY);
  std::FILE* report = fdopen(console, "w");

  std::fprintf(report, "inflate_bench: best of %d rounds, MB/s of output; libdeflate %s\n", rounds,
               LIBDEFLATE_VERSION_STRING);
  std::fprintf(report, "%-14s %2s %6s %7s %7s %7s %8s %6s %6s %9s %9s %9s\n", "corpus", "lv", "MB", "packed%",
               "ours", "generic", "windowed", "zlib", "ldef", "ours/zlib", "ours/ldef", "gen/ldef");
  bool ok = true;
  for (const auto& c : corpora) {
    if (only && std::strcmp(only, c.name) != 0) continue;
    const Bytes data = c.make(size);
    if (data.empty()) {
      std::fprintf(report, "%-14s    (no files on this machine)\n", c.name);
      continue;
    }
    for (int level : {6, 9}) {
      const Bytes packed = Deflate(data, level);
      dup2(devnull, 1);
      const Figures f = Measure(data, packed, rounds);
      std::fflush(stdout);
      ok = ok && f.ok;
      std::fprintf(report, "%-14s %2d %6.1f %6.1f%% %7.0f %7.0f %8.0f %6.0f %6.0f %8.2fx %8.2fx %8.2fx%s\n", c.name,
                   level, data.size() / 1e6, 100.0 * packed.size() / data.size(), f.ours, f.generic, f.windowed,
                   f.zlib, f.libdeflate, f.ours / f.zlib, f.ours / f.libdeflate, f.generic / f.libdeflate,
                   f.ok ? "" : "  OUTPUT DIFFERS");
      std::fflush(report);
    }
  }
  dup2(console, 1);
  return ok ? 0 : 1;
}
