#include "install/package.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

void PutU32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// A package as the builder lays it out: [header] data, "LF" D, directory,
// "LF" P. entries: name and content.
std::string MakePackage(bool internetHeader, std::initializer_list<std::pair<std::string, std::string>> entries) {
  std::string file;
  if (internetHeader) file.append(qor::kInternetPackageHeader, qor::kInternetPackageHeaderSize);
  std::string directory;
  for (const auto& [name, content] : entries) {
    directory += name;
    directory += '\0';
    PutU32(directory, static_cast<std::uint32_t>(file.size()));
    PutU32(directory, static_cast<std::uint32_t>(content.size()));
    file += content;
  }
  directory += '\0';
  const auto position = static_cast<std::uint32_t>(file.size());
  file += "LF";
  PutU32(file, static_cast<std::uint32_t>(directory.size()));
  file += directory;
  file += "LF";
  PutU32(file, position);
  return file;
}

class PackageProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qor_package_probe_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    fs::path p = dir_ / name;
    std::FILE* f = std::fopen(p.string().c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return p.string();
  }

  fs::path dir_;
};

TEST_F(PackageProbe, BuiltPackagesAreRecognised) {
  const std::string plain = MakePackage(false, {{"setup.exe", std::string("MZ\x90\0", 4) + std::string(200, 'x')},
                                                {"qorapps.dat", "apps"},
                                                {"setup.dat", "[PRODUCT]\r\n"}});
  EXPECT_TRUE(qor::IsPackageFile(Write("plain.exe", plain).c_str()));
  const std::string internet = MakePackage(true, {{"setup.exe", "MZ"}, {"setup.dat", "x"}});
  ASSERT_EQ(internet.compare(0, 26, "Qor_Vex Internet Package\r\n"), 0);
  ASSERT_EQ(internet[26], '\0');
  EXPECT_TRUE(qor::IsPackageFile(Write("internet.pak", internet).c_str()));
  // The smallest file that passes: no entries, an empty directory.
  EXPECT_TRUE(qor::IsPackageFile(Write("empty_dir.pak", MakePackage(false, {})).c_str()));
}

TEST_F(PackageProbe, FilesWithoutAValidTrailerAreNotPackages) {
  const std::string good = MakePackage(false, {{"setup.exe", std::string(64, 'M')}, {"setup.dat", "x"}});
  const std::size_t n = good.size();
  auto withTrailerPosition = [&](std::uint32_t p) {
    std::string s = good.substr(0, n - 4);
    PutU32(s, p);
    return s;
  };
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"shorter_than_trailer", "LF\0\0\0"},
      {"plain_program", std::string("MZ") + std::string(500, '\0')},
      {"trailer_marker_wrong", good.substr(0, n - 6) + "LG" + good.substr(n - 4)},
      {"trailer_marker_lower_case", good.substr(0, n - 6) + "lf" + good.substr(n - 4)},
      {"position_past_end", withTrailerPosition(static_cast<std::uint32_t>(n + 100))},
      {"position_at_end", withTrailerPosition(static_cast<std::uint32_t>(n))},
      {"position_beyond_long", withTrailerPosition(0xFFFFFFF0u)},
      {"position_not_at_LF", withTrailerPosition(1)},
      {"header_cut_short", withTrailerPosition(static_cast<std::uint32_t>(n - 9))},
  };
  for (const Case& c : cases)
    EXPECT_FALSE(qor::IsPackageFile(Write(c.name, c.bytes).c_str())) << c.name;
  EXPECT_FALSE(qor::IsPackageFile((dir_ / "missing.exe").string().c_str()));
  EXPECT_FALSE(qor::IsPackageFile(dir_.string().c_str()));  // a folder
  EXPECT_FALSE(qor::IsPackageFile(""));
  EXPECT_FALSE(qor::IsPackageFile(nullptr));
}

TEST_F(PackageProbe, OnlyTheTwoMarkersAreChecked) {
  // The directory itself is read later, when the source is opened: a trailer
  // that points at "LF" and any length is enough here, even the trailer's own.
  std::string s = "....LF";
  PutU32(s, 0xFFFFFFFFu);
  s += "LF";
  PutU32(s, 4);
  EXPECT_TRUE(qor::IsPackageFile(Write("loose_directory", s).c_str()));
}

}  // namespace
