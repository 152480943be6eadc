// MemoryStream and FileStream: the stream objects the ZIP reader works on.
// Freeing is checked by the sanitizer build (a double free or a leak fails
// there); a FileStream's descriptor is checked directly.
#include "zip/stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using qor::FileStream;
using qor::MemoryStream;

struct MemoryStreamHolder {
  MemoryStream* s = nullptr;
  MemoryStreamHolder() { qor::CreateMemoryStream(&s); }
  ~MemoryStreamHolder() {
    if (s) s->Release();
  }
  MemoryStream* operator->() const { return s; }
};

std::string Contents(MemoryStream* s) { return std::string(reinterpret_cast<const char*>(s->Data()), s->Size()); }

TEST(ZipMemoryStream, CreateGivesAnEmptyStreamWithOneReference) {
  MemoryStream* s = nullptr;
  EXPECT_EQ(qor::CreateMemoryStream(&s), 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetProperty(3), 0);
  EXPECT_EQ(s->Seek(0, 1), 0);
  EXPECT_EQ(s->AddRef(), 2);
  EXPECT_EQ(s->Release(), 1);
  EXPECT_EQ(s->Release(), 0);  // freed here, once
}

// Each row: seek (origin, offset), then write `text`; the write's result and
// the size and position after it.
TEST(ZipMemoryStream, SizeGrowsByExactlyWhatEachWriteNeeds) {
  struct Row {
    int origin;
    std::int32_t offset;
    const char* text;
    std::uint32_t written, size, position;
  } rows[] = {
      {1, 0, "abc", 3, 3, 3},    // append
      {0, 1, "X", 1, 3, 2},      // overwrite inside: no growth
      {0, 2, "YZW", 3, 5, 5},    // straddles the end: grows to position + count
      {2, 0, "", 0, 5, 5},       // nothing written, nothing grown
      {2, 2, "Q", 1, 8, 8},      // past the end: the gap reads as zeros
      {2, 2, "", 0, 10, 10},     // an empty write past the end still covers the gap
  };
  MemoryStreamHolder s;
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string("writing '") + r.text + "' at origin " + std::to_string(r.origin) + " offset " +
                 std::to_string(r.offset));
    s->Seek(r.offset, r.origin);
    EXPECT_EQ(s->Write(r.text, static_cast<std::uint32_t>(std::strlen(r.text))), r.written);
    EXPECT_EQ(s->Size(), r.size);
    EXPECT_EQ(s->GetProperty(3), static_cast<std::intptr_t>(r.size));
    EXPECT_EQ(s->Position(), r.position);
  }
  EXPECT_EQ(Contents(s.s), std::string("aXYZW\0\0Q\0\0", 10));
}

TEST(ZipMemoryStream, ManySmallWritesKeepTheExactSize) {
  MemoryStreamHolder s;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    char c = static_cast<char>('a' + i % 26);
    ASSERT_EQ(s->Write(&c, 1), 1u);
    expected += c;
    ASSERT_EQ(s->Size(), expected.size());
  }
  EXPECT_EQ(Contents(s.s), expected);
}

TEST(ZipMemoryStream, ReadsStopAtTheEndAndSeeksGoAnywhere) {
  MemoryStreamHolder s;
  s->Write("0123456789", 10);
  char buf[16] = {};
  EXPECT_EQ(s->Seek(0, 0), 0);
  EXPECT_EQ(s->Read(buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(s->Seek(3, 1), 7);
  EXPECT_EQ(s->Read(buf, 16), 3u);  // only what is left
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(s->Read(buf, 16), 0u);  // at the end
  EXPECT_EQ(s->Seek(5, 2), 15);     // beyond the end is allowed
  EXPECT_EQ(s->Read(buf, 16), 0u);
  EXPECT_EQ(s->Seek(-2, 2), 8);
  EXPECT_EQ(s->Seek(100, 7), 8);    // an unknown origin leaves the position
  EXPECT_EQ(s->Seek(-1, 0), -1);    // not clamped: a huge position, where reads give 0
  EXPECT_EQ(s->Read(buf, 16), 0u);
  EXPECT_EQ(s->Size(), 10u);
}

TEST(ZipMemoryStream, PropertiesAndFixedAnswers) {
  MemoryStreamHolder s;
  EXPECT_EQ(s->GetProperty(1), 0);
  EXPECT_EQ(s->GetProperty(2), 0);
  EXPECT_EQ(s->GetProperty(4), 1);
  EXPECT_EQ(s->GetProperty(5), -1);
  EXPECT_EQ(s->SetProperty(1, 7), 1);
  EXPECT_EQ(s->GetProperty(1), 7);
  EXPECT_EQ(s->SetProperty(2, 1234), 1);  // property 1 is not 1: kept as a value
  EXPECT_EQ(s->GetProperty(2), 1234);
  EXPECT_EQ(s->SetProperty(3, 99), 0);
  EXPECT_EQ(s->SetProperty(9, 99), 0);
  EXPECT_EQ(s->IsReadable(), 1);
  EXPECT_EQ(s->IsWritable(), 1);
  EXPECT_EQ(s->Reserved1(1, 2), 0);
  EXPECT_EQ(s->Reserved2(1, 2), 0);

  std::int32_t v = 0;
  EXPECT_EQ(s->GetPropertyData(1, &v), 1);
  EXPECT_EQ(v, 7);
  s->Write("abcd", 4);
  std::uint32_t size = 0;
  EXPECT_EQ(s->GetPropertyData(3, &size), 1);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(s->GetPropertyData(4, &size), 0);
}

TEST(ZipMemoryStream, StringPropertyIsAPrivateCopyFreedWithTheStream) {
  MemoryStreamHolder s;
  s->SetProperty(2, 55);  // a plain value first: must not be freed later
  s->SetProperty(1, 1);
  char text[] = "nazwa";
  EXPECT_EQ(s->SetProperty(2, reinterpret_cast<std::intptr_t>(text)), 1);
  const char* copy = reinterpret_cast<const char*>(s->GetProperty(2));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, text);
  text[0] = 'X';
  EXPECT_STREQ(copy, "nazwa");
  char other[] = "druga";
  s->SetProperty(2, reinterpret_cast<std::intptr_t>(other));  // the first copy is freed
  std::intptr_t p = 0;
  EXPECT_EQ(s->GetPropertyData(2, &p), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(p), "druga");
}

// In-place filling must leave the stream as the same bytes written with
// Write would, also from a position past the end.
TEST(ZipMemoryStream, ReserveAndCommitActLikeOneWrite) {
  for (std::int32_t gap : {0, 3}) {
    MemoryStreamHolder viaWrite, viaReserve;
    viaWrite->Write("head", 4);
    viaReserve->Write("head", 4);
    viaWrite->Seek(gap, 2);
    viaReserve->Seek(gap, 2);
    viaWrite->Write("payload", 7);
    std::uint32_t room = 0;
    unsigned char* p = viaReserve->Reserve(7, room);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(room, 7u);
    std::memcpy(p, "payload", 7);
    viaReserve->Commit(7);
    EXPECT_EQ(Contents(viaReserve.s), Contents(viaWrite.s)) << "gap " << gap;
    EXPECT_EQ(viaReserve->Position(), viaWrite->Position());
  }
}

struct TempFile {
  std::filesystem::path path;
  explicit TempFile(const std::string& bytes) {
    path = std::filesystem::temp_directory_path() / ("qor_zs_" + std::to_string(getpid()) + "_" +
                                                     std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ~TempFile() { std::filesystem::remove(path); }
};

bool DescriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(ZipFileStream, ReadsSeeksAndReportsTheLength) {
  TempFile file("0123456789");
  int fd = open(file.path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  FileStream* s = new FileStream(fd);
  char buf[16];
  EXPECT_EQ(s->Read(buf, 3), 3u);
  EXPECT_EQ(s->GetProperty(3), 10);  // the length, without moving the position
  EXPECT_EQ(s->Read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "34");
  EXPECT_EQ(s->Seek(-1, 2), 9);
  EXPECT_EQ(s->Seek(-4, 1), 5);
  EXPECT_EQ(s->Seek(-4, 7), 1);  // any other non-zero origin counts from the current position
  EXPECT_EQ(s->Seek(2, 0), 2);
  EXPECT_EQ(s->Read(buf, 16), 8u);
  EXPECT_EQ(s->Read(buf, 16), 0u);
  EXPECT_EQ(s->Seek(-1, 0), -1);
  EXPECT_EQ(s->GetProperty(1), 1);
  EXPECT_EQ(s->GetProperty(2), 0);
  EXPECT_EQ(s->SetProperty(1, 5), 0);
  EXPECT_EQ(s->GetPropertyData(3, buf), 0);
  EXPECT_EQ(s->Write("x", 1), 0u);
  EXPECT_EQ(s->IsReadable(), 1);
  EXPECT_EQ(s->IsWritable(), 0);

  EXPECT_EQ(s->AddRef(), 2);
  EXPECT_EQ(s->Release(), 1);
  EXPECT_TRUE(DescriptorOpen(fd));
  EXPECT_EQ(s->Release(), 0);
  EXPECT_FALSE(DescriptorOpen(fd)) << "the last Release closes the descriptor";
}

TEST(ZipFileStream, ReadErrorIsPassedOn) {
  int fd = open(std::filesystem::temp_directory_path().c_str(), O_RDONLY);  // a directory: read fails
  ASSERT_GE(fd, 0);
  FileStream* s = new FileStream(fd);
  char buf[4];
  EXPECT_EQ(s->Read(buf, 4), 0xFFFFFFFFu);
  s->Release();
}

}  // namespace
