#include "app/setup_app.h"

#include <cstdio>

namespace qor {

std::string ModuleDirOf(const std::string& modulePath) {
  std::size_t slash = modulePath.rfind('\\');
  std::string dir = slash == std::string::npos ? std::string() : modulePath.substr(0, slash + 1);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
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
