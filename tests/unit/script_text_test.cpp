#include "script/script_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using qor::ScriptCursor;
using qor::ScriptLoadOptions;
using qor::ScriptText;

std::string WithTail(const std::string& body) {
  return body + qor::ChecksumTail(qor::ScriptChecksum(body.data(), body.size()));
}

std::string Names(std::initializer_list<const char*> names) {
  std::string block;
  for (const char* n : names) qor::AppendDefinedName(block, n);
  return block;
}

ScriptLoadOptions Resolved(std::string_view names = {}) {
  ScriptLoadOptions o;
  o.definedNames = names;
  return o;
}

ScriptLoadOptions Build() {
  ScriptLoadOptions o;
  o.resolve = false;
  o.buildMode = true;
  return o;
}

// A role table standing in for the file table.
struct Roles : qor::RoleResolver {
  std::map<std::string, std::string> paths;
  bool RolePath(std::string_view role, std::string& path) const override {
    auto it = paths.find(std::string(role));
    if (it == paths.end()) return false;
    path = it->second;
    return true;
  }
};

const std::string kBody =
    "[Setup Data File]\r\n"
    "written by hand\r\n"
    "[Version1]\r\n"
    "[PRODUCT]\r\n"
    "Name=Qor_Vex\r\n"
    "[END]\r\n"
    "\r\n";

TEST(ScriptChecksum, KnownValues) {
  struct Case {
    std::string bytes;
    std::uint32_t sum;
  } cases[] = {
      {"", 0xFFFFFFFFu},
      {"abc", 0xFFFFFF9Bu},
      {"\xE9", 0x00000015u},  // a byte from 0x80 up is sign-extended
  };
  for (const auto& c : cases) {
    EXPECT_EQ(qor::ScriptChecksum(c.bytes.data(), c.bytes.size()), c.sum) << "bytes '" << c.bytes << "'";
  }
  EXPECT_EQ(qor::ChecksumTail(0xABCDu), "Checksum0000ABCD");
  EXPECT_EQ(qor::ChecksumTail(0xFFFFFF9Bu), "ChecksumFFFFFF9B");
}

TEST(DefinedNames, BlockAndLookup) {
  std::string block = Names({"NOCTXMENU", "", "NOMONITOR"});
  EXPECT_EQ(block, std::string("NOCTXMENU\0NOMONITOR\0\0", 21));
  EXPECT_TRUE(qor::IsDefinedName(block, "nomonitor"));
  EXPECT_FALSE(qor::IsDefinedName(block, "NOMON"));
  EXPECT_FALSE(qor::IsDefinedName(block, ""));  // the block's end is not a name
  EXPECT_FALSE(qor::IsDefinedName("", "X"));
  EXPECT_FALSE(qor::IsDefinedName(std::string_view("\0", 1), ""));
  EXPECT_TRUE(qor::IsDefinedName("A", "a"));  // a block missing its final NUL is read to its end
}

TEST(ScriptLoad, Failures) {
  std::string good = WithTail(kBody);
  std::string flipped = good;
  flipped[kBody.size() - 2] = '\n';  // a line end changed after the tail was made
  struct Case {
    const char* what;
    std::string bytes;
    ScriptLoadOptions options;
  } cases[] = {
      {"15 bytes", good.substr(good.size() - 15), Build()},
      {"empty", "", Build()},
      {"tail not hex, resolving", kBody + "ChecksumZZZZZZZZ", Resolved()},
      {"tail not hex, build mode", kBody + "ChecksumZZZZZZZZ", Build()},
      {"tail beginning with a blank", kBody + "Checksum 1234567", Build()},
      {"checksum differs", kBody + "Checksum00000000", Resolved()},
      {"byte changed before the tail", flipped, Resolved()},
      {"checksum differs, unresolved", kBody + "Checksum00000000", ScriptLoadOptions{false, false, false, {}}},
      {"no header", WithTail("[Setup Data Fil]\r\n[Version1]\r\n[END]\r\n"), Resolved()},
      {"header not at the first byte", WithTail(" [Setup Data File]\r\n[Version1]\r\n[END]\r\n"), Resolved()},
      {"no [Version1]", WithTail("[Setup Data File]\r\n[Version2]\r\n[END]\r\n"), Resolved()},
      {"no [END]", WithTail("[Setup Data File]\r\n[Version1]\r\n[FILES]\r\n"), Resolved()},
      {"[END] before [Version1] only", WithTail("[Setup Data File]\r\n[END]\r\n[Version1]\r\n"), Resolved()},
  };
  for (auto& c : cases) {
    ScriptText s;
    EXPECT_FALSE(s.Load(c.bytes, c.options)) << c.what;
    EXPECT_FALSE(s.Loaded()) << c.what;
    EXPECT_EQ(s.Text(), "") << c.what;
  }
}

TEST(ScriptLoad, ChecksumTailAccepted) {
  ScriptText s;
  EXPECT_TRUE(s.Load(WithTail(kBody), Resolved()));
  // Lower-case hex digits read too; the word before them is not examined.
  std::string tail = qor::ChecksumTail(qor::ScriptChecksum(kBody.data(), kBody.size()));
  std::string lower = kBody + "xxxxxxxx" + tail.substr(8);
  for (std::size_t i = lower.size() - 8; i < lower.size(); ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
  EXPECT_TRUE(s.Load(lower, Resolved()));
  // The build mode does not verify: any hex number will do.
  EXPECT_TRUE(s.Load(kBody + "Checksum00000000", Build()));
}

TEST(ScriptLoad, UnresolvedKeepsWholeFileLessTail) {
  const std::string body = "[setup data file]\r\n?X?[Version1]\r\n[END]\r\n\r\n";
  ScriptText s;
  ScriptLoadOptions o = Build();
  o.keepFile = true;
  ASSERT_TRUE(s.Load(body + "Checksum00000000", o));
  EXPECT_EQ(s.Text(), body);
  EXPECT_EQ(s.FileBytes(), body + "Checksum00000000");
  // SaveScript of a text ending in [END] CR LF CR LF: the text, then 16 bytes.
  std::string saved = s.SaveBytes();
  EXPECT_EQ(saved, WithTail(body));
  EXPECT_EQ(saved.size(), body.size() + 16);
}

TEST(ScriptLoad, ResolvedTextRunsFromVersionMarkToEndMark) {
  const std::string body =
      "[SETUP DATA FILE] anything\r\n"
      "ignored [FILES]\r\n"
      "[FILES]\r\n"  // before the version mark: not part of the text
      "[Version1]\r\n"
      "[FILES]\r\n"
      "\"a\"\r\n"
      "[END]\r\n"
      "[REGISTRY]\r\n";
  ScriptText s;
  ASSERT_TRUE(s.Load(WithTail(body), Resolved()));
  EXPECT_EQ(s.Text(), "[Version1]\r\n[FILES]\r\n\"a\"\r\n");
  ScriptCursor c = 99;
  EXPECT_FALSE(s.FindSection("REGISTRY", c));
  ASSERT_TRUE(s.FindSection("FILES", c));
  EXPECT_EQ(c, 12u);
}

TEST(ScriptLoad, ZeroByteEndsTheTextButNotTheChecksum) {
  std::string body = kBody;
  body.insert(body.find("Name"), std::string("\0", 1));
  ScriptText s;
  ScriptLoadOptions o = Build();
  o.keepFile = true;
  ASSERT_TRUE(s.Load(WithTail(body), o));
  EXPECT_EQ(s.Text(), kBody.substr(0, kBody.find("Name")));
  EXPECT_EQ(s.FileBytes(), WithTail(body));
  // Resolving: the text (and with it [END]) ends at the zero byte.
  EXPECT_FALSE(s.Load(WithTail(body), Resolved()));
}

std::string ResolveLines(const std::string& lines, std::string_view names) {
  ScriptText s;
  std::string body = "[Setup Data File]\r\n[Version1]\r\n" + lines + "[END]\r\n";
  if (!s.Load(WithTail(body), Resolved(names))) return "<load failed>";
  return s.Text().substr(12);  // after "[Version1]\r\n"
}

TEST(ScriptLoad, ConditionalLines) {
  const std::string nomonitor = Names({"NOMONITOR"});
  const std::string polish = Names({"\xAF\xD3\xA3W"});  // ŻÓŁW in Windows-1250
  struct Case {
    const char* what;
    std::string lines;
    std::string names;
    std::string expected;
  } cases[] = {
      {"negated, defined: dropped", "?-NOMONITOR?a\r\nb\r\n", nomonitor, "b\r\n"},
      {"plain, defined: kept without prefix", "?NOMONITOR?a\r\nb\r\n", nomonitor, "a\r\nb\r\n"},
      {"plain, nothing defined: dropped", "?NOMONITOR?a\r\nb\r\n", "", "b\r\n"},
      {"negated, nothing defined: kept", "?-NOMONITOR?a\r\nb\r\n", "", "a\r\nb\r\n"},
      {"any letter case", "?nomonitor?a\r\n", nomonitor, "a\r\n"},
      {"dropped with the blank lines after it", "?X?a\r\n\r\n\r\nb\r\n\r\n", "", "b\r\n\r\n"},
      {"kept with its blank lines", "?-X?a\r\n\r\nb\r\n", "", "a\r\n\r\nb\r\n"},
      {"only the first prefix is a condition", "?-X??Y?a\r\n", "", "?Y?a\r\n"},
      {"section header with a prefix", "?-NOMONITOR?[FILES]\r\nb\r\n", nomonitor, "b\r\n"},
      {"name ended by the line end", "?-X\r\nb\r\n", "", "\r\nb\r\n"},
      {"empty name is never defined", "??a\r\n?-?b\r\n", nomonitor, "b\r\n"},
      {"LF line ends", "?X?a\nb\n", "", "b\n"},
      {"Polish letters compare byte for byte", "?\xAF\xD3\xA3W?a\r\n?\xBF\xF3\xB3w?b\r\n", polish, "a\r\n"},
      // A control byte ends a line for this pass, so a prefix after a tab counts.
      {"tab inside a line", "x\t?X?y\r\nz\r\n", "", "x\tz\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveLines(c.lines, c.names), c.expected) << c.what;
  }
}

TEST(ScriptLoad, LongConditionNameComparedWhole) {
  std::string name(250, 'N');
  std::string block = Names({name.c_str()});
  std::string cut = Names({name.substr(0, 199).c_str()});
  std::string line = "?" + name + "?a\r\n";
  EXPECT_EQ(ResolveLines(line, block), "a\r\n");
  EXPECT_EQ(ResolveLines(line, cut), "");
}

TEST(ScriptLines, NextLineSkipsBlanksAndComments) {
  ScriptText s;
  s.SetText("first\r\n; c\r\n// c\r\n\r\n\n/x\r\n  \r\nlast\n\rafter LF CR");
  ScriptCursor c = 0;
  std::vector<std::string> seen;
  while (s.NextLine(c)) {
    std::string t;
    s.ReadToken(t, c, '\0');
    seen.push_back(t);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"/x", "", "last", "after"}));
  EXPECT_TRUE(s.AtEnd(c));
  EXPECT_EQ(c, s.Text().size());
  // A text whose last line is a comment, or that ends in a line end.
  s.SetText("a\r\n;c");
  c = 0;
  EXPECT_FALSE(s.NextLine(c));
  EXPECT_EQ(c, 5u);
  s.SetText("a\r\n");
  c = 0;
  EXPECT_FALSE(s.NextLine(c));
  EXPECT_EQ(c, 3u);
}

TEST(ScriptLines, FindSection) {
  ScriptText s;
  s.SetText("[files]\r\n1\r\n;[REGISTRY]\r\n[Registry] x\r\n[REGISTRY]\r\n[FILESX]\r\n");
  struct Case {
    const char* name;
    bool found;
    ScriptCursor at;
  } cases[] = {
      {"FILES", true, 0},          // the first line, any letter case
      {"REGISTRY", true, 25},      // not the comment; the first of two
      {"FILESX", true, 51},
      {"PROGMAN", false, 77},
      {"FILE", false, 77},         // "[FILE]" is no prefix of "[files]"
  };
  for (const auto& c : cases) {
    ScriptCursor cursor = 77;
    EXPECT_EQ(s.FindSection(c.name, cursor), c.found) << c.name;
    EXPECT_EQ(cursor, c.at) << c.name;
  }
}

TEST(ScriptReaders, ReadQuoted) {
  Roles roles;
  roles.paths["SetupProgram"] = "C:\\Program Files\\Qor_Vex\\setup.exe";
  struct Case {
    const char* text;
    char separator;
    bool ok;
    std::string value;
    std::size_t cursor;  // where the cursor stands afterwards
  } cases[] = {
      {"\"abc\"", 0, true, "abc", 5},
      {"\"\"", 0, true, "", 2},
      {"\"a\"\"b\"\"c\",", 0, true, "abc", 9},
      {"\"a\" \"b\"", 0, true, "a", 3},  // a blank ends the value
      {" \b \"x\"", 0, true, "x", 6},    // blanks: space and 0x08
      {"  ,  \"x\"", ',', true, "x", 8},
      {"\b=\b\"x\"", '=', true, "x", 6},
      {"$\"SetupProgram\"\" /uninstall\"", 0, true, "C:\\Program Files\\Qor_Vex\\setup.exe /uninstall", 28},
      {"\"\xB3\xF3\xBF\xEA\"", 0, true, "\xB3\xF3\xBF\xEA", 6},  // Windows-1250 letters
      {"\"x\"", ',', false, "", 0},       // separator missing
      {"  \"x\"", ',', false, "", 2},
      {",  123", ',', false, "", 3},      // no quote after the separator: on the value
      {"\t\"x\"", 0, false, "", 0},       // a tab is not a blank
      {"$\"Nobody\"", 0, false, "", 0},   // unknown role
      {"$x", 0, false, "", 0},
      {"\"a\"$\"SetupProgram\"", 0, true, "a", 3},  // a role reference only as the first piece
      {"\"abc", 0, false, "", 0},         // no closing quote
      {"\"a\rb\"", 0, false, "", 0},      // control byte inside a piece
      {"\"a\"\"b", 0, false, "", 3},      // the second piece fails: cursor on it
      {"", 0, false, "", 0},
  };
  for (const auto& c : cases) {
    ScriptText s;
    s.SetText(c.text);
    std::string out = "stale";
    ScriptCursor cursor = 0;
    EXPECT_EQ(s.ReadQuoted(out, cursor, c.separator, &roles), c.ok) << "text '" << c.text << "'";
    EXPECT_EQ(out, c.value) << "text '" << c.text << "'";
    EXPECT_EQ(cursor, c.cursor) << "text '" << c.text << "'";
  }
  // Without a role table every role reference fails.
  ScriptText s;
  s.SetText("$\"SetupProgram\"");
  std::string out;
  ScriptCursor cursor = 0;
  EXPECT_FALSE(s.ReadQuoted(out, cursor, 0, nullptr));
}

TEST(ScriptReaders, ReadToken) {
  struct Case {
    const char* text;
    char separator;
    bool ok;
    std::string value;
    std::size_t cursor;
  } cases[] = {
      {"Package=Full", 0, true, "Package", 7},
      {"=Full\r\n", '=', true, "Full", 5},
      {" = Win95,Win98", '=', true, "Win95", 8},
      {"=\r\n", '=', true, "", 1},  // an empty token is a token
      {"", 0, true, "", 0},
      {"NEW ,", 0, true, "NEW", 3},
      {"a\tb", 0, true, "a", 1},
      {"\xAF\xF3\xB3w=", 0, true, "\xAF\xF3\xB3w", 4},
      {"Full", '=', false, "", 0},
  };
  for (const auto& c : cases) {
    ScriptText s;
    s.SetText(c.text);
    std::string out = "stale";
    ScriptCursor cursor = 0;
    EXPECT_EQ(s.ReadToken(out, cursor, c.separator), c.ok) << "text '" << c.text << "'";
    EXPECT_EQ(out, c.value) << "text '" << c.text << "'";
    EXPECT_EQ(cursor, c.cursor) << "text '" << c.text << "'";
  }
}

TEST(ScriptReaders, ReadNumber) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t value;
  } cases[] = {
      {"0x1230562D", true, 0x1230562Du},
      {"0XfFfFfFfF", true, 0xFFFFFFFFu},
      {"99840", true, 99840u},
      {"0x0", true, 0u},
      {"0", true, 0u},
      {"-1", true, 0xFFFFFFFFu},
      {"-5", true, 4294967291u},
      {"+7", true, 7u},
      {"4294967295", true, 0xFFFFFFFFu},
      {"12abc", true, 12u},       // conversion stops at the first stray byte
      {"0x1Fz", true, 0x1Fu},
      {"007", true, 7u},
      {"0x00000000000A", true, 10u},
      {"", false, 0},
      {"abc", false, 0},
      {"-", false, 0},
      {"0x", false, 0},
      {"0xg", false, 0},
      {"\"5\"", false, 0},
      {"4294967296", false, 0},   // beyond 32 bits
      {"0x100000000", false, 0},
  };
  for (const auto& c : cases) {
    ScriptText s;
    s.SetText(c.text);
    std::int32_t out = 0x5A5A;
    ScriptCursor cursor = 0;
    bool ok = s.ReadNumber(out, cursor, 0);
    EXPECT_EQ(ok, c.ok) << "text '" << c.text << "'";
    if (ok) {
      EXPECT_EQ(static_cast<std::uint32_t>(out), c.value) << "text '" << c.text << "'";
    }
  }
  // A registry value: a failed quoted read leaves the cursor on the number.
  ScriptText s;
  s.SetText("\"Flags\" = 0x1F rest");
  ScriptCursor cursor = 0;
  std::string name, text;
  std::int32_t n = 0;
  ASSERT_TRUE(s.ReadQuoted(name, cursor, 0, nullptr));
  EXPECT_FALSE(s.ReadQuoted(text, cursor, '=', nullptr));
  ASSERT_TRUE(s.ReadNumber(n, cursor, 0));
  EXPECT_EQ(n, 31);
  EXPECT_EQ(cursor, 14u);
}

TEST(ScriptSave, ReplaceThenSaveReloads) {
  const std::string body = "[Setup Data File]\r\n[Version1]\r\n[FILES]\r\n\"\",\"a\",0,0x0\r\n[END]\r\n\r\n";
  ScriptText s;
  ASSERT_TRUE(s.Load(body + "Checksum00000000", Build()));
  std::size_t at = s.Text().find("0,0x0");
  s.Replace(at, at + 5, "12,0xC2C7255");
  auto path = std::filesystem::temp_directory_path() / "qor_script_save_test.dat";
  ASSERT_TRUE(s.SaveScriptFile(path.string()));
  std::ifstream in(path, std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::filesystem::remove(path);
  std::string expectedBody = "[Setup Data File]\r\n[Version1]\r\n[FILES]\r\n\"\",\"a\",12,0xC2C7255\r\n[END]\r\n\r\n";
  EXPECT_EQ(written, WithTail(expectedBody));
  ScriptText again;
  EXPECT_TRUE(again.Load(written, Resolved()));
  // A file that cannot be created.
  EXPECT_FALSE(s.SaveScriptFile("/nonexistent/qor/setup.dat"));
}

}  // namespace
