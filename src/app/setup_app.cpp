#include "app/setup_app.h"

#include <cstdio>

namespace qor {

bool SetupApp::IsDefined(const char* name, std::size_t len) const {
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  const char* p = definedNames.c_str();
  const char* end = p + definedNames.size();
  while (p < end && *p) {
    std::size_t n = std::char_traits<char>::length(p);
    if (n == len) {
      std::size_t i = 0;
      while (i < n && lower(static_cast<unsigned char>(p[i])) == lower(static_cast<unsigned char>(name[i]))) ++i;
      if (i == n) return true;
    }
    p += n + 1;
  }
  return false;
}

bool HasSetupScript(const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += "setup.dat";
  if (path.size() + 1 > kMaxPath) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace qor
