// The setup script setup.dat: its loader, checksum, conditional lines, line
// walker and field readers. Portable: the caller reads the file's bytes
// (through the installation source) and hands them to ScriptText::Load.
//
// The file as stored (8-bit Windows-1250 text; a byte from 0x80 up is an
// ordinary character, a byte below 0x20 a control character):
//
//   [Setup Data File]            first 17 bytes, any letter case
//   ...                          ignored
//   [Version1]                   start of the part that is read
//   [PRODUCT]                    sections "[name]", in any order, found by name;
//   Name=Qor_Vex                 a section ends at the next line beginning "["
//   [FILES]
//   ?-NOMONITOR?"Monitor",...    conditional prefix (see below)
//   ; comment   // comment       skipped by NextLine, as are blank lines
//   [END]                        it and all after it are not part of the text
//   <CR LF>                      whatever stands here is kept by the build mode
//   Checksum1A2B3C4D             last 16 bytes: "Checksum" + 8 hex digits,
//                                ScriptChecksum of every byte before them
//
// Lines end with CR LF; LF alone and LF CR are accepted. A line is blank when
// its first byte is CR or LF; a line of spaces is not blank.
//
// Conditional prefix "?NAME?" keeps its line only when NAME is a defined name
// (switch /def=), "?-NAME?" drops its line when NAME is defined; names compare
// ignoring ASCII letter case. A kept line loses its prefix; a dropped line goes
// with its line end and the blank lines right after it. The resolving pass
// treats any control byte as ending a line, so a tab in the middle of a line
// starts a new "line" for this pass only.
//
// Fields of an entry line:
//   blanks          space and 0x08 (a tab is not a blank)
//   separator       "," between list fields, "=" between a name and its value;
//                   blanks may stand around it
//   quoted value    pieces "..." written back to back and joined; the first may
//                   be a role reference $"Role" (the installed path of the file
//                   with that role); no escapes, no control bytes in a piece
//   bare token      bytes up to a space, control byte, "," or "="; may be empty
//   number          a token: "0x"/"0X" + hex digits (unsigned), otherwise an
//                   optionally signed decimal number; conversion stops at the
//                   first byte that does not belong; at least one digit; a
//                   magnitude above 0xFFFFFFFF fails; the result wraps to 32
//                   bits ("-1" gives 0xFFFFFFFF, "4294967295" gives -1)
//
// Letter case: every comparison "without regard to letter case" in this area
// folds the ASCII letters only; Polish letters compare byte for byte.
//
// Where the text comes from: SetupApp holds a ScriptText `script`; the engine's
// LoadScript (install/engine.h) reads setup.dat through the source layer, as
// stored, and hands the bytes to Load with the run's mode and /def= names;
// its SaveScript writes the /build result with SaveScriptFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// A position in the script text: the index of a byte; Text().size() is the
// position of the terminating zero. Indexes, not pointers, so they survive
// ScriptText::Replace before the replaced range.
using ScriptCursor = std::size_t;

// Answers role references ($"Role") met by ReadQuoted. FileTable implements it.
class RoleResolver {
 public:
  // True with the installed path of the first file whose role is `role`.
  virtual bool RolePath(std::string_view role, std::string& path) const = 0;

 protected:
  ~RoleResolver() = default;
};

// The add-xor sum guarding setup.dat: start 0xFFFFFFFF; for every byte,
// taken as a signed 8-bit value and sign-extended, acc += acc ^ value.
// "abc" gives 0xFFFFFF9B, the single byte 0xE9 gives 0x00000015.
std::uint32_t ScriptChecksum(const void* bytes, std::size_t length);

// The 16-byte tail "Checksum%08X" (upper-case hex).
std::string ChecksumTail(std::uint32_t checksum);

// Defined names, as the /def= switch collects them: each name followed by a
// NUL, the block ended by one more NUL. "" (nothing defined yet) and "\0" are
// both empty blocks; a block lacking its final NUL is read up to its end.
bool IsDefinedName(std::string_view block, std::string_view name);
// Adds a name to a block (creating the final NUL when the block is empty);
// an empty name is ignored.
void AppendDefinedName(std::string& block, std::string_view name);

struct ScriptLoadOptions {
  bool resolve = true;     // reduce to the resolved text (false: build mode)
  bool buildMode = false;  // do not verify the checksum (the tail must still end in hex)
  bool keepFile = false;   // pack mode: keep the complete file, tail included (FileBytes)
  std::string_view definedNames;  // the /def= block, see IsDefinedName
};

class ScriptText {
 public:
  // Checks the bytes of setup.dat and makes them the script text. Fails (and
  // leaves no text) when the file is shorter than 16 bytes, its last 8 bytes
  // do not begin with a hexadecimal digit, the checksum differs (not in build
  // mode), or, when resolving, the "[Setup Data File]" header, the
  // "[Version1]" line or the "[END]" line is missing.
  // Without resolve the text is the whole file less its 16-byte tail.
  // With resolve it runs from the "[Version1]" line up to the "[END]" line,
  // conditional lines resolved. The text ends at the first zero byte of the
  // file, if there is one (the checksum still covers every byte).
  bool Load(std::string fileBytes, const ScriptLoadOptions& options);
  // Uses `text` as the script text as it stands (up to a zero byte), without
  // any check; for the build mode's tests and for tools.
  void SetText(std::string text);
  void Free();

  bool Loaded() const { return loaded_; }
  const std::string& Text() const { return text_; }
  // The complete file as read, when loaded with keepFile; else empty.
  const std::string& FileBytes() const { return file_; }
  // The byte at a cursor; 0 at or past the end.
  unsigned char At(ScriptCursor cursor) const {
    return cursor < text_.size() ? static_cast<unsigned char>(text_[cursor]) : 0;
  }
  bool AtEnd(ScriptCursor cursor) const { return cursor >= text_.size(); }
  // Replaces the bytes [from, to) with `with` (the build mode's line rewrite).
  // Positions are clamped to the text; a zero byte in `with` ends the text there.
  void Replace(ScriptCursor from, ScriptCursor to, std::string_view with);

  // Cursor at the start of the first line that begins with "[name]" (any
  // letter case, prefix match). The first line is compared even when it is a
  // comment. False (cursor unchanged) when no line matches.
  bool FindSection(std::string_view name, ScriptCursor& cursor) const;
  // To the start of the next line that is neither blank nor a comment. False
  // at the end of the text, with the cursor on the terminating zero.
  bool NextLine(ScriptCursor& cursor) const;

  // The readers skip blanks, then, when `separator` is not 0, require it and
  // skip the blanks after it. A reader that fails leaves the cursor where it
  // stopped: on the separator's place when that is missing; ReadQuoted on the
  // start of the piece that failed (the value's first byte when it does not
  // begin with a double quote or "$"), so the caller can read the same value
  // again with another reader.
  //
  // Quoted value; `roles` answers a leading role reference (null: every role
  // reference fails). `out` is empty after a failure.
  bool ReadQuoted(std::string& out, ScriptCursor& cursor, char separator, const RoleResolver* roles) const;
  // Bare token; fails only when the separator is missing.
  bool ReadToken(std::string& out, ScriptCursor& cursor, char separator) const;
  // Number (see the top of this file). Once the separator is passed, the
  // cursor ends after the whole token, whether or not it converts.
  bool ReadNumber(std::int32_t& out, ScriptCursor& cursor, char separator) const;

  // The bytes SaveScript writes: the text, then ChecksumTail of the text.
  std::string SaveBytes() const;
  // Writes SaveBytes to `path` (binary, created or truncated). False when the
  // file cannot be created or not every byte reaches it; the caller shows
  // "Nie można utworzyć setup.dat".
  bool SaveScriptFile(const std::string& path) const;

 private:
  bool SkipToValue(ScriptCursor& c, char separator) const;
  void Resolve(std::string_view definedNames);

  std::string text_;
  std::string file_;
  bool loaded_ = false;
};

// Shared by the area: ASCII-only case folding.
inline unsigned char AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace qor
