// OpenZipEntry, and the archive operations under it, on arbitrary bytes.
//
// The bytes are written to a file and opened with OpenZipEntry; the same
// bytes in a MemoryStream go through Open, GetKind, GetEntryInfo (with small
// and large name buffers) and ExtractEntry (with and without a limit, into a
// memory stream and into a stream that takes only part). Besides the
// sanitizers, the target checks that the reader serves exactly what
// ExtractEntry gives for the first entry, and that a limited extraction
// gives a prefix of the whole.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_streams.h"
#include "zip/zip_archive.h"
#include "zip_fixtures.h"

namespace {

using qor_test::Bytes;

std::string g_path;

void Fail(const char* what) {
  std::fprintf(stderr, "open_zip_entry_fuzz: %s\n", what);
  std::abort();
}

int Extract(qor::ZipArchive* zip, std::uint32_t index, std::uint32_t limit, Bytes& out, int& complete) {
  qor::MemoryStream* m = nullptr;
  qor::CreateMemoryStream(&m);
  const int r = zip->ExtractEntry(index, m, limit, &complete);
  out.assign(m->Data(), m->Data() + m->Size());
  m->Release();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, 1);
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_path = std::string(dir) + "/qor_zip_fuzz_" + std::to_string(getpid()) + ".zip";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Through a file, as the installer does.
  Bytes fromReader;
  bool readerOk = false;
  {
    std::FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    auto reader = qor::OpenZipEntry(g_path.c_str());
    unlink(g_path.c_str());
    if (reader) {
      readerOk = true;
      // A DEFLATE stream expands at most 1032 times (258 bytes per 2 bits).
      if (reader->Size() > 1032.0 * size + 1024) Fail("more bytes than the archive can hold");
      char buf[4096];
      for (std::uint32_t got; (got = reader->Read(buf, sizeof buf)) > 0;) fromReader.insert(fromReader.end(), buf, buf + got);
      if (fromReader.size() != reader->Size()) Fail("reader size and bytes read differ");
      reader->Seek(3, 0);
      reader->Seek(-1, 2);
      reader->Seek(7, 9);
    }
  }

  // Through the archive object on a memory stream.
  qor::MemoryStream* stream = nullptr;
  qor::CreateMemoryStream(&stream);
  stream->Write(data, static_cast<std::uint32_t>(size));
  qor::ZipArchive* zip = nullptr;
  qor::CreateZipArchive(&zip);
  const int opened = zip->Open(stream);
  int kind = -1;
  const char* name = nullptr;
  zip->GetKind(&kind, &name);
  if (!opened && (kind != 0 || std::strcmp(name, "") != 0)) Fail("kind set without a successful Open");
  if (opened && (kind < 1 || kind > 3)) Fail("unexpected kind");

  bool first = true;
  for (std::uint32_t index = 0; opened && index < 4; ++index) {
    char small[8], large[512];
    std::memset(small, 0x55, sizeof small);
    std::uint32_t entrySize = 0;
    const int info = zip->GetEntryInfo(index, small, sizeof small, &entrySize);
    if (info && std::memchr(small, 0, sizeof small) == nullptr) Fail("name not terminated within the buffer");
    zip->GetEntryInfo(index, large, sizeof large, &entrySize);

    Bytes whole;
    int complete = -1;
    const int extracted = Extract(zip, index, 0, whole, complete);
    if (first) {
      // OpenZipEntry extracts entry 0 the same way.
      if (readerOk != (info && extracted && complete == 1)) Fail("OpenZipEntry and ExtractEntry disagree");
      if (readerOk && fromReader != whole) Fail("OpenZipEntry's bytes differ from ExtractEntry's");
      first = false;
    }
    if (extracted && complete == 1) {
      Bytes part;
      int partComplete = -1;
      const std::uint32_t limit = 1 + static_cast<std::uint32_t>(whole.size() / 3);
      if (Extract(zip, index, limit, part, partComplete)) {
        if (part.size() > whole.size() || !std::equal(part.begin(), part.end(), whole.begin()))
          Fail("a limited extraction is not a prefix of the whole");
      }
      qor_test::CollectingStream taker(whole.size() / 2);
      zip->ExtractEntry(index, &taker, 0, &complete);
    }
  }
  zip->ReplaceEntry(0, 0, stream);
  zip->Close();
  zip->Release();
  stream->Release();
  return 0;
}
