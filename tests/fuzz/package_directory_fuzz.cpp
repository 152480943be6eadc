// Walks arbitrary bytes as a package directory: every entry it yields must
// lie inside the bytes, and the walk must end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "install/package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  std::size_t steps = 0;
  qor::PackageEntryView entry;
  while (qor::NextPackageEntry(data, size, pos, entry)) {
    const auto* name = reinterpret_cast<const std::uint8_t*>(entry.name);
    if (name < data || name >= data + size || pos > size) std::abort();
    if (std::strlen(entry.name) == 0) std::abort();
    if (++steps > size) std::abort();  // every entry takes at least 10 bytes
  }
  return 0;
}
