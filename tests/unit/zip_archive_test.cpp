// The ZIP archive object: recognising archives, walking the central
// directory, extracting stored and deflated entries, and OpenZipEntry.
// Archives are assembled by ZipBuilder; the files under tests/data/zip come
// from Info-ZIP (see the README there).
#include "zip/zip_archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "inflate_test_util.h"

namespace {

using namespace qor_test;
namespace fs = std::filesystem;

// A stream over bytes that logs the ranges it was asked to read.
class SpyStream final : public qor::Stream {
 public:
  explicit SpyStream(Bytes bytes) : bytes_(std::move(bytes)) {}
  int AddRef() override { return 2; }
  int Release() override { return 1; }
  int Reserved1(std::intptr_t, std::intptr_t) override { return 0; }
  std::intptr_t GetProperty(int id) override { return id == 3 ? static_cast<std::intptr_t>(bytes_.size()) : 0; }
  int SetProperty(int, std::intptr_t) override { return 0; }
  int GetPropertyData(int, void*) override { return 0; }
  int Reserved2(std::intptr_t, std::intptr_t) override { return 0; }
  int IsReadable() override { return 1; }
  int IsWritable() override { return 0; }
  std::int32_t Seek(std::int32_t offset, int origin) override {
    if (origin == 0) pos_ = static_cast<std::uint32_t>(offset);
    if (origin == 1) pos_ += static_cast<std::uint32_t>(offset);
    if (origin == 2) pos_ = static_cast<std::uint32_t>(bytes_.size()) + static_cast<std::uint32_t>(offset);
    return static_cast<std::int32_t>(pos_);
  }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    reads.push_back({pos_, count});
    if (pos_ >= bytes_.size()) return 0;
    std::uint32_t n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(bytes_.size()) - pos_);
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  // True when some read touched [from, to).
  bool ReadWithin(std::uint32_t from, std::uint32_t to) const {
    for (auto [at, count] : reads)
      if (at < to && at + count > from) return true;
    return false;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;

 private:
  Bytes bytes_;
  std::uint32_t pos_ = 0;
};

// An archive opened on a memory stream holding `bytes`.
struct Opened {
  qor::MemoryStream* stream = nullptr;
  qor::ZipArchive* zip = nullptr;
  int open = 0;
  explicit Opened(const Bytes& bytes) {
    stream = MemoryStreamWith(bytes);
    qor::CreateZipArchive(&zip);
    open = zip->Open(stream);
  }
  ~Opened() {
    zip->Release();
    stream->Release();
  }
  int Kind() const {
    int kind = -1;
    const char* name = nullptr;
    zip->GetKind(&kind, &name);
    return kind;
  }
  std::string KindName() const {
    int kind = -1;
    const char* name = nullptr;
    zip->GetKind(&kind, &name);
    return name;
  }
  // ExtractEntry into a fresh memory stream.
  int Extract(std::uint32_t index, std::string& out, int& complete, std::uint32_t limit = 0) {
    qor::MemoryStream* m = nullptr;
    qor::CreateMemoryStream(&m);
    complete = -1;
    testing::internal::CaptureStdout();
    int r = zip->ExtractEntry(index, m, limit, &complete);
    testing::internal::GetCapturedStdout();
    out.assign(reinterpret_cast<const char*>(m->Data()), m->Size());
    m->Release();
    return r;
  }
};

ZipLayout WithComment(const std::string& comment) {
  ZipLayout l;
  l.comment = comment;
  return l;
}

ZipLayout WithPrefix(const Bytes& prefix, const std::string& comment = "", bool relativeOffsets = false) {
  ZipLayout l;
  l.prefix = prefix;
  l.comment = comment;
  l.relativeOffsets = relativeOffsets;
  return l;
}

Bytes Stub() {
  Bytes stub = ToBytes("MZ");
  stub.resize(200, 0x90);
  return stub;
}

ZipEntrySpec Entry(const std::string& name, const Bytes& data, int method = 0) {
  ZipEntrySpec e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

const Bytes kText = Text(1500, 31);
const std::string kTextString(kText.begin(), kText.end());

TEST(ZipArchiveOpen, ClassifiesStreams) {
  const Bytes plain = ZipBuilder::Build({Entry("a.txt", kText)});
  Bytes localOnly = plain;
  localOnly.resize(30);
  Bytes shortLocal = plain;
  shortLocal.resize(29);
  Bytes wrongDirectory = plain;
  wrongDirectory[wrongDirectory.size() - 6] ^= 1;  // the directory offset points next to the directory
  struct Case {
    const char* what;
    Bytes bytes;
    int open;
    int kind;
    const char* name;
  } cases[] = {
      {"ZIP archive", plain, 1, 1, "ZIP Archive"},
      {"ZIP archive with a comment", ZipBuilder::Build({Entry("a.txt", kText)}, WithComment("komentarz")), 1, 3,
       "Volumed ZIP Archive"},
      {"end record pointing beside the directory", wrongDirectory, 1, 3, "Volumed ZIP Archive"},
      {"30 bytes: a local header alone", localOnly, 1, 3, "Volumed ZIP Archive"},
      {"29 bytes", shortLocal, 0, 0, ""},
      {"executable with an appended archive", ZipBuilder::Build({Entry("a.txt", kText)}, WithPrefix(Stub())), 1, 2,
       "Self-Extractor ZIP Archive"},
      {"executable whose archive counts offsets from its own start",
       ZipBuilder::Build({Entry("a.txt", kText)}, WithPrefix(Stub(), "", true)), 0, 0, ""},
      {"executable with an appended archive with a comment", ZipBuilder::Build({Entry("a.txt", kText)}, WithPrefix(Stub(), "x")),
       0, 0, ""},
      {"executable alone", Stub(), 0, 0, ""},
      {"text", Text(500), 0, 0, ""},
      {"nothing", {}, 0, 0, ""},
  };
  for (const auto& c : cases) {
    Opened z(c.bytes);
    EXPECT_EQ(z.open, c.open) << c.what;
    EXPECT_EQ(z.Kind(), c.kind) << c.what;
    EXPECT_EQ(z.KindName(), c.name) << c.what;
  }
  EXPECT_STREQ(qor::ZipKindName(4), "Volumed Self-Extractor ZIP Archive");
}

TEST(ZipArchiveOpen, KindOnlyWhileOpen) {
  Opened z(ZipBuilder::Build({Entry("a.txt", kText)}));
  ASSERT_EQ(z.Kind(), 1);
  qor::MemoryStream* other = MemoryStreamWith(Text(100));
  EXPECT_EQ(z.zip->Open(other), 0);
  EXPECT_EQ(z.Kind(), 1) << "a failed Open leaves the archive as it was";
  other->Release();
  z.zip->Close();
  EXPECT_EQ(z.Kind(), 0);
  EXPECT_EQ(z.KindName(), "");
  char name[16];
  std::uint32_t size = 7;
  EXPECT_EQ(z.zip->GetEntryInfo(0, name, sizeof name, &size), 0);
  std::string out;
  int complete;
  EXPECT_EQ(z.Extract(0, out, complete), 0);

  qor::ZipArchive* fresh = nullptr;
  EXPECT_EQ(qor::CreateZipArchive(&fresh), 1);
  int kind = -1;
  const char* kindName = nullptr;
  fresh->GetKind(&kind, &kindName);
  EXPECT_EQ(kind, 0);
  EXPECT_STREQ(kindName, "");
  EXPECT_EQ(fresh->AddRef(), 2);
  EXPECT_EQ(fresh->Release(), 1);
  EXPECT_EQ(fresh->Release(), 0);
}

TEST(ZipArchiveOpen, TakesNoReferenceOnItsStream) {
  qor::MemoryStream* stream = MemoryStreamWith(ZipBuilder::Build({Entry("a.txt", kText)}));
  qor::ZipArchive* zip = nullptr;
  qor::CreateZipArchive(&zip);
  ASSERT_EQ(zip->Open(stream), 1);
  EXPECT_EQ(zip->Release(), 0);
  EXPECT_EQ(stream->AddRef(), 2) << "the stream kept its single reference";
  stream->Release();
  stream->Release();
}

TEST(ZipArchiveRead, VolumedArchiveRefusesEveryRead) {
  Opened z(ZipBuilder::Build({Entry("a.txt", kText)}, WithComment("komentarz")));
  ASSERT_EQ(z.Kind(), 3);
  char name[64] = "untouched";
  std::uint32_t size = 7;
  EXPECT_EQ(z.zip->GetEntryInfo(0, name, sizeof name, &size), 0);
  std::string out;
  int complete;
  EXPECT_EQ(z.Extract(0, out, complete), 0);
  EXPECT_EQ(complete, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(z.zip->ReplaceEntry(0, 0, z.stream), 0);
}

TEST(ZipArchiveRead, WalksTheDirectoryToEveryEntry) {
  std::vector<ZipEntrySpec> entries = {Entry("first.txt", ToBytes("one")), Entry("dir/second.bin", kText, 8),
                                       Entry("3", Records(5000), 8)};
  entries[0].centralExtra = Bytes(17, 0xEE);
  entries[0].comment = "komentarz pliku";
  entries[1].localExtra = Bytes(5, 1);
  entries[1].comment = std::string(300, 'c');
  Opened z(ZipBuilder::Build(entries));
  ASSERT_EQ(z.Kind(), 1);
  for (std::uint32_t i = 0; i < entries.size(); ++i) {
    char name[64];
    std::uint32_t size = 0;
    ASSERT_EQ(z.zip->GetEntryInfo(i, name, sizeof name, &size), 1) << i;
    EXPECT_EQ(std::string(name), entries[i].name);
    EXPECT_EQ(size, entries[i].data.size());
    std::string out;
    int complete;
    EXPECT_EQ(z.Extract(i, out, complete), 1) << i;
    EXPECT_EQ(complete, 1);
    EXPECT_TRUE(out == std::string(entries[i].data.begin(), entries[i].data.end())) << "entry " << i;
  }
  char name[64] = "x";
  std::uint32_t size = 9;
  EXPECT_EQ(z.zip->GetEntryInfo(3, name, sizeof name, &size), 0) << "past the last entry";
  EXPECT_EQ(size, 0u);
  EXPECT_STREQ(name, "");
  std::string out;
  int complete;
  EXPECT_EQ(z.Extract(3, out, complete), 0);
  EXPECT_EQ(z.Extract(0xFFFFFFFF, out, complete), 0);
}

TEST(ZipArchiveRead, NameLongerThanTheBufferIsCut) {
  const std::string longName(600, 'n');
  Opened z(ZipBuilder::Build({Entry(longName, kText), Entry("", ToBytes("anonymous"))}));
  char buf[520];
  std::memset(buf, '#', sizeof buf);
  std::uint32_t size = 0;
  ASSERT_EQ(z.zip->GetEntryInfo(0, buf, 512, &size), 1);
  EXPECT_EQ(std::string(buf), longName.substr(0, 511));
  EXPECT_EQ(std::string(buf + 512, 8), std::string(8, '#')) << "nothing written past the buffer";
  EXPECT_EQ(size, kText.size());
  ASSERT_EQ(z.zip->GetEntryInfo(0, buf, 1, &size), 1);
  EXPECT_STREQ(buf, "");
  ASSERT_EQ(z.zip->GetEntryInfo(0, nullptr, 0, &size), 1);
  std::memset(buf, '#', sizeof buf);
  ASSERT_EQ(z.zip->GetEntryInfo(1, buf, 512, &size), 1);
  EXPECT_STREQ(buf, "") << "an entry without a name";
  EXPECT_EQ(size, 9u);

  // A name length reaching past the end of the archive: the part that is
  // there, whatever the buffer size.
  Bytes bytes = ZipBuilder::Build({Entry("abc", kText)});
  const std::size_t central = bytes.size() - 22 - 46 - 3;
  bytes[central + 29] = 0x08;  // name length 0x0803
  Opened cut(bytes);
  for (std::uint32_t bufSize : {4u, 512u}) {
    std::memset(buf, '#', sizeof buf);
    ASSERT_EQ(cut.zip->GetEntryInfo(0, buf, bufSize, &size), 1) << bufSize;
    EXPECT_EQ(std::string(buf).substr(0, 3), "abc");
    EXPECT_LT(std::strlen(buf), bufSize);
  }
}

// Entry 0 is the first one in the central directory, wherever its local
// header lies; the data starts after the local header's own name and extra
// field, whatever the central header says of them.
TEST(ZipArchiveRead, FindsDataThroughTheLocalHeader) {
  const Bytes other = Text(700, 32);
  struct Case {
    const char* what;
    std::size_t localExtra, centralExtra;
    std::vector<std::size_t> order;
  } cases[] = {
      {"local extra field longer than the central one", 300, 4, {}},
      {"central extra field longer than the local one", 0, 250, {}},
      {"first entry's local header second in the file", 0, 0, {1, 0}},
      {"both", 40, 0, {1, 0}},
  };
  for (const auto& c : cases)
    for (int method : {0, 8}) {
      std::vector<ZipEntrySpec> entries = {Entry("wanted", kText, method), Entry("other", other, method)};
      entries[0].localExtra = Bytes(c.localExtra, 0xAB);
      entries[0].centralExtra = Bytes(c.centralExtra, 0xCD);
      ZipLayout layout;
      layout.localOrder = c.order;
      Opened z(ZipBuilder::Build(entries, layout));
      std::string out;
      int complete;
      EXPECT_EQ(z.Extract(0, out, complete), 1) << c.what << ", method " << method;
      EXPECT_TRUE(out == kTextString) << c.what << ", method " << method;
    }
}

TEST(ZipArchiveRead, ZeroLengthEntries) {
  Opened z(ZipBuilder::Build({Entry("empty", {}, 0), Entry("empty deflated", {}, 8)}));
  std::string out = "x";
  int complete;
  EXPECT_EQ(z.Extract(0, out, complete), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(complete, 1);
  EXPECT_EQ(z.Extract(1, out, complete), 0) << "a deflated entry must produce at least one byte";
  EXPECT_EQ(complete, 0);
}

TEST(ZipArchiveRead, EncryptedEntryIsRefusedBeforeAnyDataIsRead) {
  for (int method : {0, 8}) {
    std::vector<ZipEntrySpec> entries = {Entry("secret", kText, method)};
    entries[0].flags = 1;
    const Bytes bytes = ZipBuilder::Build(entries);
    SpyStream spy(bytes);
    qor::ZipArchive* zip = nullptr;
    qor::CreateZipArchive(&zip);
    ASSERT_EQ(zip->Open(&spy), 1);
    spy.reads.clear();
    CollectingStream out;
    int complete = -1;
    EXPECT_EQ(zip->ExtractEntry(0, &out, 0, &complete), 0);
    EXPECT_EQ(complete, 0);
    EXPECT_TRUE(out.data.empty());
    // The local header and the data lie before the central directory.
    const std::uint32_t directory = static_cast<std::uint32_t>(bytes.size()) - 22 - 46 - 6;
    EXPECT_FALSE(spy.ReadWithin(0, directory)) << "method " << method;
    zip->Release();
  }
}

TEST(ZipArchiveRead, LimitAndCompleteFlag) {
  const std::uint32_t size = static_cast<std::uint32_t>(kText.size());
  struct Case {
    std::uint32_t limit;
    std::uint32_t extracted;
    int complete;
  } cases[] = {
      {0, size, 1},         // no limit
      {size + 1, size, 1},  // a limit above the size does not apply
      {size, size, 0},      // a limit equal to the size applies: all bytes, but not "complete"
      {size - 1, size - 1, 0},
      {513, 513, 0},
      {1, 1, 0},
  };
  for (int method : {0, 8}) {
    Opened z(ZipBuilder::Build({Entry("a", kText, method)}));
    for (const auto& c : cases) {
      std::string out;
      int complete;
      EXPECT_EQ(z.Extract(0, out, complete, c.limit), 1) << "method " << method << ", limit " << c.limit;
      EXPECT_EQ(complete, c.complete) << "method " << method << ", limit " << c.limit;
      EXPECT_TRUE(out == kTextString.substr(0, c.extracted)) << "method " << method << ", limit " << c.limit;
    }
  }
  // A limit that ends inside a match gives the bytes before it.
  const Bytes runs(3000, 'r');
  Opened z(ZipBuilder::Build({Entry("runs", runs, 8)}));
  std::string out;
  int complete;
  EXPECT_EQ(z.Extract(0, out, complete, 1000), 1);
  EXPECT_EQ(out, std::string(1000, 'r'));
  EXPECT_EQ(complete, 0);
}

TEST(ZipArchiveRead, StoredEntryIntoAStreamThatTakesLess) {
  Opened z(ZipBuilder::Build({Entry("a", kText, 0)}));
  CollectingStream out(600);
  int complete = -1;
  EXPECT_EQ(z.zip->ExtractEntry(0, &out, 0, &complete), 1);
  EXPECT_EQ(complete, 0);
  EXPECT_EQ(out.writes, 3) << "pieces of 512 bytes";
  EXPECT_TRUE(out.data == Bytes(kText.begin(), kText.begin() + 600));
}

TEST(ZipArchiveRead, Refusals) {
  std::vector<ZipEntrySpec> other = {Entry("a", kText, 12)};
  std::vector<ZipEntrySpec> beyond = {Entry("a", kText, 0)};
  beyond[0].overrideSize = true;
  beyond[0].size = 100000;
  std::vector<ZipEntrySpec> corrupt = {Entry("a", kText, 8)};
  corrupt[0].payload = DeflateRaw(kText, 6);
  corrupt[0].payload[5] ^= 0x55;
  Bytes badLocal = ZipBuilder::Build({Entry("a", kText, 0)});
  badLocal[0] = 'Q';  // the local header the directory points at is not one
  std::vector<ZipEntrySpec> tooLong = {Entry("a", kText, 8)};
  tooLong[0].overrideSize = true;
  tooLong[0].size = static_cast<std::uint32_t>(kText.size()) + 1;
  struct Case {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"compression method 12", ZipBuilder::Build(other)},
      {"stored entry running past the end of the archive", ZipBuilder::Build(beyond)},
      {"damaged deflate data", ZipBuilder::Build(corrupt)},
      {"size larger than the deflate data holds", ZipBuilder::Build(tooLong)},
  };
  for (const auto& c : cases) {
    Opened z(c.bytes);
    ASSERT_EQ(z.Kind(), 1) << c.what;
    std::string out;
    int complete;
    EXPECT_EQ(z.Extract(0, out, complete), 0) << c.what;
    EXPECT_EQ(complete, 0) << c.what;
  }
  Opened z(ZipBuilder::Build({Entry("a", kText, 0)}, WithPrefix(Stub())));
  ASSERT_EQ(z.Kind(), 2);
  EXPECT_EQ(z.zip->ReplaceEntry(0, 0, z.stream), 0) << "writing back is not supported";
  Bytes moved = ZipBuilder::Build({Entry("a", kText, 0)}, WithPrefix(Stub()));
  moved[200] = 'Q';
  Opened bad(moved);
  std::string out;
  int complete;
  EXPECT_EQ(bad.Extract(0, out, complete), 0) << "no local header where the directory says";
}

// ---------------------------------------------------------------------------
// OpenZipEntry

struct TempFile {
  fs::path path;
  explicit TempFile(const Bytes& bytes) {
    static int serial = 0;
    path = fs::temp_directory_path() / ("qor_zip_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() { fs::remove(path); }
};

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

std::string ReadAll(qor::ZipEntryReader& r) {
  std::string all;
  char buf[1000];
  for (std::uint32_t n; (n = r.Read(buf, sizeof buf)) > 0;) all.append(buf, n);
  return all;
}

std::unique_ptr<qor::ZipEntryReader> OpenQuietly(const char* path) {
  testing::internal::CaptureStdout();
  auto r = qor::OpenZipEntry(path);
  testing::internal::GetCapturedStdout();
  return r;
}

TEST(ZipOpenEntry, ReadsTheFirstEntryFromMemory) {
  const Bytes big = Text(300000, 33);
  TempFile file(ZipBuilder::Build({Entry("big.txt", big, 8), Entry("second", ToBytes("second"))}));
  const std::size_t before = OpenDescriptors();
  auto reader = OpenQuietly(file.path.c_str());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(OpenDescriptors(), before) << "the archive file is closed again";
  EXPECT_EQ(reader->Size(), big.size());
  EXPECT_TRUE(ReadAll(*reader) == std::string(big.begin(), big.end()));
  EXPECT_EQ(reader->Read(nullptr, 10), 0u) << "at the end";
  EXPECT_EQ(reader->Seek(5, 0), 5);
  EXPECT_EQ(reader->Seek(5, 1), 10);
  EXPECT_EQ(reader->Seek(-3, 2), static_cast<std::int32_t>(big.size() - 3));
  EXPECT_EQ(reader->Seek(0, 3), 0) << "an unknown origin does nothing";
  EXPECT_EQ(ReadAll(*reader), std::string(big.end() - 3, big.end()));
  EXPECT_EQ(reader->Size(), big.size()) << "the size does not depend on the position";
}

TEST(ZipOpenEntry, FilesMadeByOtherPrograms) {
  const std::string data = QOR_TEST_DATA "/zip/";
  std::ifstream in(data + "readme.txt", std::ios::binary);
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(readme.size(), 115u);
  struct Case {
    const char* file;
    bool opens;
  } cases[] = {
      {"deflated.zip", true},
      {"stored.zip", true},
      {"piped.zip", true},
      {"streamed_zip64.zip", true},
      {"self_extractor.bin", true},
      {"encrypted.zip", false},
      {"commented.zip", false},
      {"self_extractor_unadjusted.bin", false},
      {"no_such_file.zip", false},
  };
  for (const auto& c : cases) {
    auto reader = OpenQuietly((data + c.file).c_str());
    ASSERT_EQ(reader != nullptr, c.opens) << c.file;
    if (reader) {
      EXPECT_EQ(ReadAll(*reader), readme) << c.file;
    }
  }
}

TEST(ZipOpenEntry, RefusedArchivesGiveNull) {
  std::vector<ZipEntrySpec> encrypted = {Entry("a", kText, 8)};
  encrypted[0].flags = 1;
  std::vector<ZipEntrySpec> emptyDeflated = {Entry("a", {}, 8)};
  Bytes cut = ZipBuilder::Build({Entry("a", kText)});
  cut.resize(29);
  struct Case {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"archive with a comment", ZipBuilder::Build({Entry("a", kText, 8)}, WithComment("komentarz"))},
      {"encrypted first entry", ZipBuilder::Build(encrypted)},
      {"deflated first entry of size 0", ZipBuilder::Build(emptyDeflated)},
      {"29 bytes", cut},
  };
  for (const auto& c : cases) {
    TempFile file(c.bytes);
    const std::size_t before = OpenDescriptors();
    EXPECT_EQ(OpenQuietly(file.path.c_str()), nullptr) << c.what;
    EXPECT_EQ(OpenDescriptors(), before) << c.what << ": the file is closed on failure too";
  }
}

// A directory record that puts its local header at 2 GiB or beyond, in an
// archive whose record name happens to hold a local header and some bytes. A
// file cannot be positioned there (its Seek says -1 and stays put), a memory
// stream can but holds nothing there: either way there is no entry to
// extract, and the bytes after the record must not be taken for it.
TEST(ZipOpenEntry, LocalHeaderBeyondWhatAFileCanReachIsRefused) {
  Bytes planted = {'P', 'K', 3, 4};
  planted.resize(30, 0);  // name and extra lengths 0: the data would follow at once
  planted.insert(planted.end(), {'p', 'l', 'a', 'n', 't', 'e', 'd', '!'});
  const std::string genuine = "genuine!";
  const Bytes bytes = ZipBuilder::Build({Entry(std::string(planted.begin(), planted.end()), ToBytes(genuine))});
  const std::size_t offsetField = bytes.size() - 22 - planted.size() - 46 + 42;
  ASSERT_EQ(bytes[offsetField], 0) << "the entry's local header is at 0";

  {
    TempFile file(bytes);
    auto reader = OpenQuietly(file.path.c_str());
    ASSERT_NE(reader, nullptr) << "the archive as built";
    EXPECT_EQ(ReadAll(*reader), genuine);
  }
  // The first position a file cannot reach, the one the fuzzer found, and the
  // one where a failed Seek's -1 reads as the position asked for.
  for (std::uint32_t offset : {0x80000000u, 0xFAFFFF02u, 0xFFFFFFFFu}) {
    Bytes moved = bytes;
    for (int i = 0; i < 4; ++i) moved[offsetField + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    TempFile file(moved);
    auto reader = OpenQuietly(file.path.c_str());
    EXPECT_EQ(reader, nullptr) << std::hex << "local header at 0x" << offset << " read from a file gave \""
                               << (reader ? ReadAll(*reader) : "") << "\"";
    Opened z(moved);
    ASSERT_EQ(z.Kind(), 1);
    std::string out;
    int complete;
    EXPECT_EQ(z.Extract(0, out, complete), 0) << std::hex << "local header at 0x" << offset << " read from memory";
    EXPECT_EQ(out, "");
  }
}

TEST(ZipOpenEntry, StoredCrcIsNotChecked) {
  Bytes bytes = ZipBuilder::Build({Entry("a", kText, 8)});
  bytes[14] ^= 0xFF;  // CRC-32 in the local header
  const std::size_t central = bytes.size() - 22 - 46 - 1;
  bytes[central + 16] ^= 0xFF;  // and in the central header
  TempFile file(bytes);
  auto reader = OpenQuietly(file.path.c_str());
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(ReadAll(*reader) == kTextString);
}

}  // namespace
