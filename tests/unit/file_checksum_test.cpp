#include "install/file_checksum.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

struct TempFile {
  fs::path path;
  explicit TempFile(const std::string& bytes) {
    path = fs::temp_directory_path() / ("qor_ck_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ~TempFile() { fs::remove(path); }
};

TEST(FileChecksum, KnownValues) {
  struct Case {
    std::string bytes;
    std::uint32_t checksum;
  } cases[] = {
      {"", 0},              // the start value is applied only when bytes arrive
      {"abc", 0xCADBBE3Du}, // complement of the common CRC-32 0x352441C2
  };
  for (const auto& c : cases) {
    TempFile f(c.bytes);
    std::uint32_t sum = 1;
    std::int32_t size = -1;
    ASSERT_TRUE(qor::FileChecksum(f.path.string().c_str(), sum, size));
    EXPECT_EQ(sum, c.checksum) << "bytes '" << c.bytes << "'";
    EXPECT_EQ(size, static_cast<std::int32_t>(c.bytes.size()));
  }
}

TEST(FileChecksum, LargeFileMatchesZlibAcrossChunks) {
  std::string bytes(3 * 65536 + 123, '\0');
  std::mt19937 rng(7);
  for (auto& b : bytes) b = static_cast<char>(rng());
  TempFile f(bytes);
  std::uint32_t sum = 0;
  std::int32_t size = 0;
  ASSERT_TRUE(qor::FileChecksum(f.path.string().c_str(), sum, size));
  uLong z = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  EXPECT_EQ(sum, static_cast<std::uint32_t>(~z));
  EXPECT_EQ(size, static_cast<std::int32_t>(bytes.size()));
}

TEST(FileChecksum, FailureLeavesOutputsUnset) {
  for (std::string path : {fs::temp_directory_path().string(), std::string("/nonexistent/qor/file.bin")}) {
    std::uint32_t sum = 0x12345678;
    std::int32_t size = 77;
    EXPECT_FALSE(qor::FileChecksum(path.c_str(), sum, size)) << path;
    EXPECT_EQ(sum, 0x12345678u);
    EXPECT_EQ(size, 77);
  }
}

}  // namespace
