#include "script/script_text.h"

#include <cstdio>
#include <cstring>

namespace qor {

namespace {

constexpr std::size_t kTailLength = 16;
constexpr std::string_view kHeader = "[Setup Data File]";

bool IsControl(unsigned char c) { return c < 0x20; }
bool IsBlank(unsigned char c) { return c == ' ' || c == 0x08; }
bool EndsToken(unsigned char c) { return c == ' ' || IsControl(c) || c == ',' || c == '='; }

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Case-insensitive prefix test of `prefix` against the text at `at`.
bool StartsWithNoCase(const std::string& text, std::size_t at, std::string_view prefix) {
  if (at > text.size() || text.size() - at < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(static_cast<unsigned char>(text[at + i])) != AsciiLower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// Token to number: "0x..." unsigned hexadecimal, else optionally signed
// decimal. Stops at the first byte that does not belong; needs a digit;
// refuses a magnitude above 32 bits.
bool ConvertNumber(std::string_view t, std::int32_t& out) {
  std::uint64_t v = 0;
  std::size_t i = 0;
  bool negative = false;
  std::size_t digits = 0;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    for (i = 2; i < t.size(); ++i) {
      int d = HexDigit(static_cast<unsigned char>(t[i]));
      if (d < 0) break;
      v = v * 16 + static_cast<unsigned>(d);
      if (v > 0xFFFFFFFFu) return false;
      ++digits;
    }
  } else {
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      v = v * 10 + static_cast<unsigned>(t[i] - '0');
      if (v > 0xFFFFFFFFu) return false;
      ++digits;
    }
  }
  if (digits == 0) return false;
  std::uint32_t u = static_cast<std::uint32_t>(v);
  if (negative) u = 0u - u;
  out = static_cast<std::int32_t>(u);
  return true;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(static_cast<unsigned char>(a[i])) != AsciiLower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::uint32_t ScriptChecksum(const void* bytes, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::uint32_t acc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    // The byte as a signed 8-bit value, sign-extended: 0xE9 -> 0xFFFFFFE9.
    std::uint32_t value = p[i] >= 0x80 ? 0xFFFFFF00u | p[i] : p[i];
    acc += acc ^ value;
  }
  return acc;
}

std::string ChecksumTail(std::uint32_t checksum) {
  char tail[kTailLength + 1];
  std::snprintf(tail, sizeof tail, "Checksum%08X", static_cast<unsigned>(checksum));
  return std::string(tail, kTailLength);
}

bool IsDefinedName(std::string_view block, std::string_view name) {
  std::size_t pos = 0;
  while (pos < block.size() && block[pos] != '\0') {
    std::size_t end = block.find('\0', pos);
    if (end == std::string_view::npos) end = block.size();
    if (EqualsNoCase(block.substr(pos, end - pos), name)) return true;
    pos = end + 1;
  }
  return false;
}

void AppendDefinedName(std::string& block, std::string_view name) {
  if (name.empty()) return;
  if (block.empty()) block.push_back('\0');
  // Insert before the final NUL: old names, new name + NUL, final NUL.
  block.insert(block.size() - 1, name);
  block.insert(block.size() - 1, 1, '\0');
}

void ScriptText::Free() {
  text_.clear();
  text_.shrink_to_fit();
  file_.clear();
  file_.shrink_to_fit();
  loaded_ = false;
}

void ScriptText::SetText(std::string text) {
  Free();
  text_ = std::move(text);
  text_.resize(std::strlen(text_.c_str()));
  loaded_ = true;
}

bool ScriptText::Load(std::string fileBytes, const ScriptLoadOptions& options) {
  Free();
  const std::size_t size = fileBytes.size();
  if (size < kTailLength) return false;

  // The last 8 bytes, read as a hexadecimal number from their first byte.
  std::uint32_t stored = 0;
  std::size_t digits = 0;
  for (std::size_t i = size - 8; i < size; ++i) {
    int d = HexDigit(static_cast<unsigned char>(fileBytes[i]));
    if (d < 0) break;
    stored = stored * 16 + static_cast<unsigned>(d);
    ++digits;
  }
  if (digits == 0) return false;
  if (!options.buildMode && ScriptChecksum(fileBytes.data(), size - kTailLength) != stored) return false;

  if (options.keepFile) file_ = fileBytes;
  text_ = std::move(fileBytes);
  text_.resize(size - kTailLength);
  text_.resize(std::strlen(text_.c_str()));  // the text is a zero-terminated string

  if (options.resolve) {
    ScriptCursor c = 0;
    if (!StartsWithNoCase(text_, 0, kHeader) || !FindSection("Version1", c)) {
      Free();
      return false;
    }
    text_.erase(0, c);
    if (!FindSection("END", c)) {
      Free();
      return false;
    }
    text_.resize(c);
    Resolve(options.definedNames);
  }
  loaded_ = true;
  return true;
}

// The conditional pass. Kept bytes are copied down in one sweep, which gives
// the same text as moving the rest of the text back at every removal.
void ScriptText::Resolve(std::string_view definedNames) {
  std::string& t = text_;
  const std::size_t n = t.size();
  auto byte = [&t](std::size_t i) { return static_cast<unsigned char>(t[i]); };
  std::size_t r = 0, w = 0;
  while (r < n) {
    bool keep = true;
    if (t[r] == '?') {
      std::size_t p = r + 1;
      bool negated = false;
      if (p < n && t[p] == '-') {
        negated = true;
        ++p;
      }
      const std::size_t nameStart = p;
      while (p < n && t[p] != '?' && !IsControl(byte(p))) ++p;
      // The whole name is compared, however long; names are not cut.
      bool found = IsDefinedName(definedNames, std::string_view(t).substr(nameStart, p - nameStart));
      if (p < n && t[p] == '?') ++p;
      keep = negated ? !found : found;
      r = p;  // a kept line loses its prefix; a dropped one goes whole
    }
    std::size_t e = r;
    while (e < n && !IsControl(byte(e))) ++e;
    while (e < n && IsControl(byte(e))) ++e;
    if (keep) {
      if (w != r) std::memmove(&t[w], &t[r], e - r);
      w += e - r;
    }
    r = e;
  }
  t.resize(w);
}

void ScriptText::Replace(ScriptCursor from, ScriptCursor to, std::string_view with) {
  if (from > text_.size()) from = text_.size();
  if (to > text_.size()) to = text_.size();
  if (to < from) to = from;
  text_.replace(from, to - from, with);
  text_.resize(std::strlen(text_.c_str()));
}

bool ScriptText::NextLine(ScriptCursor& cursor) const {
  const char* s = text_.c_str();
  const std::size_t n = text_.size();
  std::size_t c = cursor < n ? cursor : n;
  for (;;) {
    const void* lf = std::memchr(s + c, '\n', n - c);
    if (!lf) {
      cursor = n;
      return false;
    }
    c = static_cast<std::size_t>(static_cast<const char*>(lf) - s) + 1;
    if (s[c] == '\r') ++c;
    // s[n] is the terminating zero, so s[c + 1] below stays inside the string.
    if (s[c] == ';' || (s[c] == '/' && s[c + 1] == '/') || s[c] == '\r' || s[c] == '\n') continue;
    cursor = c;
    return s[c] != '\0';
  }
}

bool ScriptText::FindSection(std::string_view name, ScriptCursor& cursor) const {
  std::string header;
  header.reserve(name.size() + 2);
  header += '[';
  header += name;
  header += ']';
  ScriptCursor c = 0;
  while (!AtEnd(c)) {
    if (StartsWithNoCase(text_, c, header)) {
      cursor = c;
      return true;
    }
    if (!NextLine(c)) return false;
  }
  return false;
}

bool ScriptText::SkipToValue(ScriptCursor& c, char separator) const {
  if (c > text_.size()) c = text_.size();
  while (IsBlank(At(c))) ++c;
  if (separator != '\0') {
    if (At(c) != static_cast<unsigned char>(separator)) return false;
    ++c;
    while (IsBlank(At(c))) ++c;
  }
  return true;
}

bool ScriptText::ReadQuoted(std::string& out, ScriptCursor& cursor, char separator, const RoleResolver* roles) const {
  out.clear();
  ScriptCursor c = cursor;
  bool ok = SkipToValue(c, separator);
  bool first = true;
  while (ok) {
    const ScriptCursor pieceStart = c;
    const bool role = first && At(c) == '$';
    if (role) ++c;
    if (At(c) != '"') {
      ok = false;
      c = pieceStart;
      break;
    }
    ScriptCursor q = c + 1;
    while (At(q) != '"' && !IsControl(At(q))) ++q;
    if (At(q) != '"') {
      ok = false;
      c = pieceStart;
      break;
    }
    std::string_view piece = std::string_view(text_).substr(c + 1, q - c - 1);
    if (role) {
      std::string path;
      if (!roles || !roles->RolePath(piece, path)) {
        ok = false;
        c = pieceStart;
        break;
      }
      out += path;
    } else {
      out += piece;
    }
    c = q + 1;
    first = false;
    if (At(c) != '"') break;
  }
  cursor = c;
  if (!ok) out.clear();
  return ok;
}

bool ScriptText::ReadToken(std::string& out, ScriptCursor& cursor, char separator) const {
  out.clear();
  ScriptCursor c = cursor;
  if (!SkipToValue(c, separator)) {
    cursor = c;
    return false;
  }
  const ScriptCursor start = c;
  while (!EndsToken(At(c))) ++c;
  out.assign(text_, start, c - start);
  cursor = c;
  return true;
}

bool ScriptText::ReadNumber(std::int32_t& out, ScriptCursor& cursor, char separator) const {
  std::string token;
  if (!ReadToken(token, cursor, separator)) return false;
  return ConvertNumber(token, out);
}

std::string ScriptText::SaveBytes() const {
  return text_ + ChecksumTail(ScriptChecksum(text_.data(), text_.size()));
}

bool ScriptText::SaveScriptFile(const std::string& path) const {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const std::string bytes = SaveBytes();
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

}  // namespace qor
