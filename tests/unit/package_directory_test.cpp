#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/package.h"

namespace {

std::string Entry(const std::string& name, std::uint32_t offset, std::uint32_t size) {
  std::string e = name;
  e += '\0';
  for (std::uint32_t v : {offset, size})
    for (int i = 0; i < 4; ++i) e += static_cast<char>((v >> (8 * i)) & 0xFF);
  return e;
}

std::vector<std::string> Walk(const std::string& dir) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  qor::PackageEntryView e;
  const auto* bytes = reinterpret_cast<const unsigned char*>(dir.data());
  while (qor::NextPackageEntry(bytes, dir.size(), pos, e))
    out.push_back(std::string(e.name) + "@" + std::to_string(e.offset) + "+" + std::to_string(e.size));
  return out;
}

TEST(PackageDirectory, WalksEntriesUpToTheEmptyName) {
  std::string dir = Entry("setup.exe", 0, 99840) + Entry("qor_vexw.ex_", 99840, 344539) + '\0' +
                    Entry("after.end", 1, 1);
  EXPECT_EQ(Walk(dir), (std::vector<std::string>{"setup.exe@0+99840", "qor_vexw.ex_@99840+344539"}));
}

TEST(PackageDirectory, DamagedDirectoryEndsTheWalk) {
  std::string good = Entry("setup.exe", 0, 10);
  struct Case {
    const char* what;
    std::string dir;
    std::size_t entries;
  } cases[] = {
      {"numbers cut short", good + Entry("b", 1, 2).substr(0, 6), 1},
      {"name without its zero", good + "name", 1},
      {"no final empty name", good, 1},
      {"nothing at all", "", 0},
      {"offset and size of 0xFFFFFFFF", Entry("x", 0xFFFFFFFFu, 0xFFFFFFFFu) + '\0', 1},
  };
  for (const auto& c : cases) EXPECT_EQ(Walk(c.dir).size(), c.entries) << c.what;
}

}  // namespace
