// scriptsum: writes or checks the checksum tail of setup scripts.
//
//   scriptsum FILE...          give each file a fresh "Checksum%08X" tail:
//                              an existing tail ("Checksum" + 8 hex digits as
//                              the last 16 bytes) is replaced, else one is added
//   scriptsum --check FILE...  verify each file's tail as the installer does
//
// Built natively from the installer's own script code as the CMake target
// scriptsum; tools/scriptsum builds that target and runs it. Exit code 0 when
// every file was written or verified, 1 when one failed, 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <string>

#include "script/script_text.h"

namespace {

bool ReadAll(const char* path, std::string& bytes) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Written beside the file and renamed over it, so a failed write leaves the
// old file as it was.
bool WriteAll(const char* path, const std::string& bytes) {
  std::string tmp = std::string(path) + ".scriptsum-tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0) ok = false;
  if (ok && std::rename(tmp.c_str(), path) != 0) ok = false;
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

bool HasTail(const std::string& b) {
  if (b.size() < 16 || b.compare(b.size() - 16, 8, "Checksum") != 0) return false;
  for (std::size_t i = b.size() - 8; i < b.size(); ++i) {
    if (!std::strchr("0123456789ABCDEFabcdef", b[i]) || b[i] == '\0') return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
  int first = check ? 2 : 1;
  if (first >= argc) {
    std::fprintf(stderr, "usage: scriptsum [--check] FILE...\n");
    return 2;
  }
  int rc = 0;
  for (int i = first; i < argc; ++i) {
    std::string bytes;
    if (!ReadAll(argv[i], bytes)) {
      std::fprintf(stderr, "%s: cannot read\n", argv[i]);
      rc = 1;
      continue;
    }
    if (check) {
      qor::ScriptText script;
      qor::ScriptLoadOptions options;
      options.resolve = false;
      bool ok = script.Load(bytes, options);
      std::printf("%s: %s\n", argv[i], ok ? "ok" : "BAD checksum tail");
      if (!ok) rc = 1;
      continue;
    }
    if (HasTail(bytes)) bytes.resize(bytes.size() - 16);
    std::string tail = qor::ChecksumTail(qor::ScriptChecksum(bytes.data(), bytes.size()));
    if (!WriteAll(argv[i], bytes + tail)) {
      std::fprintf(stderr, "%s: cannot write\n", argv[i]);
      rc = 1;
      continue;
    }
    std::printf("%s: %s\n", argv[i], tail.c_str());
  }
  return rc;
}
