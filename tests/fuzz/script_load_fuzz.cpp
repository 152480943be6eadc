// libFuzzer target: ScriptText::Load on arbitrary bytes.
//
// The first input byte picks the options: bit 0 resolve, bit 1 build mode,
// bit 2 append the correct checksum tail (so the verified path reaches the
// resolver), bit 3 keep the file, bits 4-5 which names are defined. The rest
// is the file.
// Seeds: tests/fuzz/corpus/script_load/; tokens for -dict=: tests/data/script/fuzz.dict.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script/script_text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool StartsNoCase(const std::string& s, std::string_view p) {
  return s.size() >= p.size() && qor::EqualsNoCase(std::string_view(s).substr(0, p.size()), p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if (mode & 4) bytes += qor::ChecksumTail(qor::ScriptChecksum(bytes.data(), bytes.size()));

  std::string names;
  static const char* const kNames[] = {"NOMONITOR", "NOCTXMENU", "a", "\xAF\xD3\xA3W"};
  for (int i = 0; i < 4; ++i) {
    if (((mode >> 4) & 3) > i) qor::AppendDefinedName(names, kNames[i]);
  }

  qor::ScriptLoadOptions o;
  o.resolve = mode & 1;
  o.buildMode = mode & 2;
  o.keepFile = mode & 8;
  o.definedNames = names;

  qor::ScriptText s;
  const bool ok = s.Load(bytes, o);
  Check(ok == s.Loaded());
  // With a correct tail and no resolving, every file of 16 bytes or more loads.
  if ((mode & 4) && !o.resolve) Check(ok);
  if (!ok) {
    Check(s.Text().empty() && s.FileBytes().empty());
    return 0;
  }
  Check(bytes.size() >= 16);
  Check(s.Text().size() <= bytes.size() - 16);
  Check(std::strlen(s.Text().c_str()) == s.Text().size());
  Check(s.FileBytes() == (o.keepFile ? bytes : std::string()));
  if (o.resolve) {
    Check(StartsNoCase(s.Text(), "[Version1]"));
  } else {
    // Unresolved: the file less its tail, up to a zero byte.
    std::string body = bytes.substr(0, bytes.size() - 16);
    Check(s.Text() == std::string(body.c_str()));
  }

  // What the build mode saves loads again, verified, to the same text.
  qor::ScriptText again;
  qor::ScriptLoadOptions plain;
  plain.resolve = false;
  Check(again.Load(s.SaveBytes(), plain));
  Check(again.Text() == s.Text());
  return 0;
}
