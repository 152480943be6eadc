#include "app/setup_app.h"

#include <cstdio>

namespace qor {

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
