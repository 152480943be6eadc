#include "uninstall/root_folder.h"

#include <cstddef>
#include <string>
#include <vector>

namespace qor {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The path's names, split at every run of separators.
std::vector<std::string_view> Names(std::string_view path) {
  std::vector<std::string_view> names;
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) ++i;
    std::size_t start = i;
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    if (i > start) names.push_back(path.substr(start, i - start));
  }
  return names;
}

bool OnlyDotsAndSpaces(std::string_view name) {
  for (char c : name)
    if (c != '.' && c != ' ') return false;
  return true;
}

bool EqualsIgnoringCase(std::string_view a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

}  // namespace

bool IsRootFolder(std::string_view path) {
  std::vector<std::string_view> names;
  std::size_t rootNames = 0;  // leading names that belong to the root itself
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    names = Names(path.substr(2));
    std::size_t first = 0;
    // "\\?\" and "\\.\" only say how the rest is to be read.
    if (!names.empty() && (names[0] == "?" || names[0] == ".")) first = 1;
    if (first < names.size() && names[first].size() == 2 && names[first][1] == ':' &&
        IsDriveLetter(names[first][0])) {
      rootNames = first + 1;  // \\?\C:
    } else if (first == 1 && first < names.size() && EqualsIgnoringCase(names[first], "UNC")) {
      rootNames = first + 3;  // \\?\UNC\server\share
    } else {
      rootNames = first + 2;  // \\server\share
    }
  } else {
    names = Names(path);
    if (path.size() >= 2 && path[1] == ':' && IsDriveLetter(path[0])) {
      // "C:name" is relative to the drive's current folder, but a name is
      // still needed for it to be any folder but the root.
      names = Names(path.substr(2));
    }
  }

  // What is left below the root, with "." and ".." resolved the way the
  // system resolves them: ".." at the root stays at the root.
  std::size_t depth = 0;
  for (std::size_t i = rootNames; i < names.size(); ++i) {
    std::string_view name = names[i];
    if (name == "..") {
      if (depth > 0) --depth;
    } else if (!OnlyDotsAndSpaces(name)) {
      ++depth;
    }
  }
  return depth == 0;
}

}  // namespace qor
