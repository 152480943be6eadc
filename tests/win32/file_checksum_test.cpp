// FileChecksum through the Windows C runtime, and the locale the Win32 tests
// run under (code page 1250, as on a Polish Windows 95/98).
#include "install/file_checksum.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "check.h"
#include "temp_dir.h"

namespace {

// Bit-at-a-time reference: reflected CRC-32, register started at 0xFFFFFFFF on
// the first byte, never inverted; 0 when there are no bytes.
std::uint32_t ReferenceChecksum(const std::string& bytes) {
  if (bytes.empty()) return 0;
  std::uint32_t reg = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    reg ^= b;
    for (int i = 0; i < 8; ++i) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
  }
  return reg;
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  std::uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace

TEST_CASE(FileChecksumMatchesTheReferenceOnTempFiles) {
  qortest::TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    std::uint32_t expected;  // 0 = take the reference
  } cases[] = {
      {"empty.bin", "", 0},
      {"abc.bin", "abc", 0xCADBBE3Du},                // complement of the common CRC-32 0x352441C2
      {"chunks.bin", Pattern(3 * 65536 + 123), 0},    // crosses the 64 KiB read chunks
      {"zażółć gęślą.bin", "jaźń", 0},                // an ANSI (code page 1250) file name
  };
  for (const Case& c : cases) {
    REQUIRE(dir.Write(c.name, c.bytes)) << c.name;
    std::uint32_t sum = 1;
    std::int32_t size = -1;
    CHECK(qor::FileChecksum((dir / c.name).c_str(), sum, size)) << c.name;
    CHECK_EQ(sum, c.expected ? c.expected : ReferenceChecksum(c.bytes)) << c.name;
    CHECK_EQ(size, c.bytes.size()) << c.name;
  }
}

TEST_CASE(FileChecksumFailsWithoutTouchingTheOutputs) {
  qortest::TempDir dir;
  std::uint32_t sum = 7;
  std::int32_t size = 9;
  CHECK(!qor::FileChecksum((dir / "missing.bin").c_str(), sum, size));
  CHECK(!qor::FileChecksum(dir.path().c_str(), sum, size)) << "a folder is not a file";

  // A file that another process (here: another handle) holds without sharing
  // cannot be opened: ERROR_SHARING_VIOLATION.
  REQUIRE(dir.Write("locked.bin", "abc"));
  HANDLE lock = CreateFileA((dir / "locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  REQUIRE(lock != INVALID_HANDLE_VALUE);
  CHECK(!qor::FileChecksum((dir / "locked.bin").c_str(), sum, size));
  CloseHandle(lock);
  CHECK_EQ(sum, 7u);
  CHECK_EQ(size, 9);
  CHECK(qor::FileChecksum((dir / "locked.bin").c_str(), sum, size)) << "readable again once released";
}

TEST_CASE(TestsRunUnderCodePage1250) {
  CHECK_EQ(GetACP(), 1250u) << "LANG/LC_ALL should be pl_PL.UTF-8";
  // Literals are compiled to Windows-1250: 'ł' is the byte 0xB3.
  const char letter[] = "ł";
  CHECK_EQ(sizeof letter, 2u);
  CHECK_EQ(static_cast<unsigned char>(letter[0]), 0xB3u);
  wchar_t wide[2] = {};
  CHECK_EQ(MultiByteToWideChar(CP_ACP, 0, letter, 1, wide, 2), 1);
  CHECK_EQ(static_cast<unsigned>(wide[0]), 0x142u) << "U+0142 LATIN SMALL LETTER L WITH STROKE";
}
