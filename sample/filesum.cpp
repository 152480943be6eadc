// filesum: size and checksum of files, as the setup script records them.
//
//   filesum FILE...   one line per file: "<size> 0x<CHECKSUM> <path>"
//
// The numbers come from the installer's own FileChecksum, so a script filled
// in from them is checked by the installer against the same function. Exit
// code 0 when every file was read, 1 when one could not be, 2 for no files.
#include <cstdint>
#include <cstdio>

#include "install/file_checksum.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: filesum FILE...\n");
    return 2;
  }
  int rc = 0;
  for (int i = 1; i < argc; ++i) {
    std::uint32_t checksum = 0;
    std::int32_t size = 0;
    if (!qor::FileChecksum(argv[i], checksum, size)) {
      std::fprintf(stderr, "%s: cannot read\n", argv[i]);
      rc = 1;
      continue;
    }
    std::printf("%d 0x%X %s\n", static_cast<int>(size), static_cast<unsigned>(checksum), argv[i]);
  }
  return rc;
}
