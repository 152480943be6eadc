// libFuzzer target: the line walker and field readers over arbitrary text,
// the way the section interpreters use them, and the file table and product
// keys read from it. The text is used as it stands (no load checks), so every
// byte sequence reaches the readers.
// Seeds: tests/fuzz/corpus/script_readers/; tokens for -dict=: tests/data/script/fuzz.dict.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/file_table.h"
#include "script/script_text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Walks every line from `c` and reads fields with the readers in turn until
// one fails, checking the cursor stays inside the text.
void WalkFields(const qor::ScriptText& s, qor::ScriptCursor c, const qor::RoleResolver& roles) {
  std::string out;
  std::int32_t n = 0;
  std::size_t lines = 0;
  while (s.NextLine(c)) {
    Check(c < s.Text().size());
    Check(++lines <= s.Text().size());
    qor::ScriptCursor f = c;
    for (int field = 0; field < 16; ++field) {
      const char sep = field == 0 ? '\0' : (field % 3 == 0 ? '=' : ',');
      bool ok;
      switch (field % 4) {
        case 0: ok = s.ReadQuoted(out, f, sep, &roles); break;
        case 1: ok = s.ReadNumber(n, f, sep); break;
        case 2: ok = s.ReadToken(out, f, sep); break;
        default: {
          // A registry value: quoted, else a number from where that stopped.
          ok = s.ReadQuoted(out, f, sep, &roles) || s.ReadNumber(n, f, '\0');
          break;
        }
      }
      Check(f <= s.Text().size());
      if (!ok) break;
    }
  }
  Check(c == s.Text().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qor::ScriptText s;
  s.SetText(std::string(reinterpret_cast<const char*>(data), size));

  qor::FileTable table;
  table.SetInstallPath(size % 2 ? "C:\\Program Files\\Qor_Vex" : "");
  table.SetSourceIsInstalled(size % 3 == 0);
  const bool loaded = table.LoadFileTable(s);
  Check(loaded == !table.Records().empty());
  for (const qor::FileRecord& r : table.Records()) {
    Check(!r.installedName.empty());
    Check(r.installedName.size() <= qor::FileTable::kMaxNameLength);
    Check(r.role.size() <= qor::FileTable::kMaxNameLength);
    Check(r.compressedName.size() <= qor::FileTable::kMaxNameLength);
    Check(r.diskLabel.size() <= qor::FileTable::kMaxDiskLabelLength);
    std::string path;
    Check(table.RolePath(r.role, path));
    (void)table.SourceNameOf(r);
  }

  qor::ProductKeys keys;
  if (keys.LoadProductKeys(s)) {
    Check(keys.Block().size() <= qor::ProductKeys::kBufferSize);
    Check(!keys.Block().empty() && keys.Block().back() == '\0');
    (void)keys.ProductValue("Name");
  }

  for (const char* name : {"FILES", "PRODUCT", "REGISTRY", "PROGMAN", "END"}) {
    qor::ScriptCursor c = 0;
    if (s.FindSection(name, c)) WalkFields(s, c, table);
  }
  WalkFields(s, 0, table);
  return 0;
}
