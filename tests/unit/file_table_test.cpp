#include "script/file_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using qor::FileRecord;
using qor::FileTable;
using qor::ProductKeys;
using qor::ScriptText;

ScriptText Script(const std::string& text) {
  ScriptText s;
  s.SetText(text);
  return s;
}

std::vector<std::string> InstalledNames(const FileTable& t) {
  std::vector<std::string> names;
  for (const FileRecord& r : t.Records()) names.push_back(r.installedName);
  return names;
}

TEST(FileTable, SampleScriptFromDisk) {
  std::ifstream in(QOR_TEST_DATA "/script/sample_setup.dat", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(bytes.empty());
  for (bool nomonitor : {false, true}) {
    std::string names;
    if (nomonitor) qor::AppendDefinedName(names, "NOMONITOR");
    ScriptText s;
    qor::ScriptLoadOptions o;
    o.definedNames = names;
    ASSERT_TRUE(s.Load(bytes, o));
    FileTable t;
    t.SetInstallPath("C:\\Program Files\\Qor_Vex");
    ASSERT_TRUE(t.LoadFileTable(s));
    std::vector<std::string> expected = {"setup.exe", "qor_vexw.exe", "qor_mon.exe", "QORBASE.DAT"};
    if (nomonitor) expected.erase(expected.begin() + 2);
    EXPECT_EQ(InstalledNames(t), expected) << "NOMONITOR " << nomonitor;
    const FileRecord& main = t.Records()[1];
    EXPECT_EQ(main.role, "MainProgram");
    EXPECT_EQ(main.size, 778240);
    EXPECT_EQ(main.checksum, 0x7B64CD34u);
    EXPECT_EQ(main.compressedName, "qor_vexw.ex_");
    EXPECT_EQ(main.compressedSize, 344539);
    EXPECT_EQ(main.compressedChecksum, 0x532719E0u);
    EXPECT_EQ(main.diskLabel, "Dysk 1");
    EXPECT_EQ(t.Records().back().size, -1);
    EXPECT_EQ(t.Records().back().diskLabel, "");
    EXPECT_TRUE(t.MainProgramListed());
    EXPECT_TRUE(t.VirusBaseListed());  // installed names match in any letter case

    ProductKeys k;
    ASSERT_TRUE(k.LoadProductKeys(s));
    EXPECT_EQ(k.ProductValue("name"), "Qor_Vex");
    EXPECT_EQ(k.ProductValue("Platform"), "Win95");
    EXPECT_EQ(k.ProductValue("Package"), "Full");

    // The registry line's role reference resolves through the table.
    qor::ScriptCursor c = 0;
    ASSERT_TRUE(s.FindSection("REGISTRY", c));
    ASSERT_TRUE(s.NextLine(c) && s.NextLine(c));
    std::string name, value;
    ASSERT_TRUE(s.ReadQuoted(name, c, '\0', &t));
    ASSERT_TRUE(s.ReadQuoted(value, c, '=', &t));
    EXPECT_EQ(value, "C:\\Program Files\\Qor_Vex\\setup.exe /uninstall");
  }
}

TEST(FileTable, LineHandling) {
  const std::string setup = "\"SetupProgram\",\"setup.exe\",99840,0x1230562D,\"setup.exe\",99840,0x1230562D,\"Dysk 1\"\r\n";
  struct Case {
    const char* what;
    std::string lines;
    bool loaded;
    std::vector<std::string> names;
  } cases[] = {
      {"empty installed name adds nothing, later lines read",
       setup + "\"x\",\"\",garbage\r\n\"\",\"b.dll\",1,2,\"b.dl_\",3,4\r\n", true, {"setup.exe", "b.dll"}},
      {"non-numeric size ends the table", setup + "\"\",\"b.dll\",big,2,\"b.dl_\",3,4\r\n\"\",\"c.dll\",1,2,\"\",0,0\r\n",
       true, {"setup.exe"}},
      {"missing compressed checksum ends the table", setup + "\"\",\"b.dll\",1,2,\"b.dl_\",3\r\n", true, {"setup.exe"}},
      {"unquoted role ends the table", setup + "Role,\"b.dll\",1,2,\"b.dl_\",3,4\r\n", true, {"setup.exe"}},
      {"blanks around separators", " \"\" , \"b.dll\" ,1 , 2, \"\" ,0 ,0 , \"L\"\r\n", true, {"b.dll"}},
      {"a bare word after the label is ignored", "\"\",\"b.dll\",1,2,\"\",0,0 x\r\n", true, {"b.dll"}},
      {"stops at the next section", setup + "[REGISTRY]\r\n\"\",\"b.dll\",1,2,\"\",0,0\r\n", true, {"setup.exe"}},
      {"no records", "; nothing\r\n", false, {}},
      {"first line malformed", "\"\",\"b.dll\"\r\n" + setup, false, {}},
      {"role reference to an earlier record", setup + "\"\",$\"SetupProgram\"\".bak\",1,2,\"\",0,0\r\n", true,
       {"setup.exe", "D\\setup.exe.bak"}},
  };
  for (const auto& c : cases) {
    ScriptText s = Script("[FILES]\r\n" + c.lines);
    FileTable t;
    t.SetInstallPath("D");
    EXPECT_EQ(t.LoadFileTable(s), c.loaded) << c.what;
    EXPECT_EQ(InstalledNames(t), c.names) << c.what;
  }
  FileTable t;
  EXPECT_FALSE(t.LoadFileTable(Script("[PRODUCT]\r\nName=Qor_Vex\r\n")));  // no [FILES] section
}

TEST(FileTable, FieldWidths) {
  const std::string n259(259, 'n'), n260(260, 'n');
  auto line = [](const std::string& role, const std::string& name, const std::string& comp, const std::string& label) {
    return "\"" + role + "\",\"" + name + "\",1,2,\"" + comp + "\",3,4,\"" + label + "\"\r\n";
  };
  FileTable t;
  ASSERT_TRUE(t.LoadFileTable(Script("[FILES]\r\n" + line(n259, n259, n259, std::string(199, 'L')) +
                                     line("", "b", "", std::string(250, 'L')) + line(n260, "c", "", "") +
                                     line("", "d", "", ""))));
  ASSERT_EQ(t.Records().size(), 2u);  // the over-long role ends the table
  EXPECT_EQ(t.Records()[0].installedName, n259);
  EXPECT_EQ(t.Records()[0].diskLabel.size(), 199u);
  EXPECT_EQ(t.Records()[1].diskLabel, std::string(199, 'L'));  // cut to 199
  for (const std::string& bad : {line("", n260, "", ""), line("", "a", n260, "")}) {
    EXPECT_FALSE(t.LoadFileTable(Script("[FILES]\r\n" + bad))) << bad.substr(0, 20);
  }
}

TEST(FileTable, FlagsFollowTheTable) {
  FileTable t;
  ASSERT_TRUE(t.LoadFileTable(Script("[FILES]\r\n\"\",\"Qor_VexW.EXE\",1,2,\"\",0,0\r\n")));
  EXPECT_TRUE(t.MainProgramListed());
  EXPECT_FALSE(t.VirusBaseListed());
  ASSERT_TRUE(t.LoadFileTable(Script("[FILES]\r\n\"\",\"qorbase.dat\",1,2,\"\",0,0\r\n")));
  EXPECT_FALSE(t.MainProgramListed());
  EXPECT_TRUE(t.VirusBaseListed());
  t.FreeFileTable();
  EXPECT_FALSE(t.VirusBaseListed());
  EXPECT_TRUE(t.Records().empty());
}

TEST(FileTable, PathsAndRoles) {
  struct Case {
    const char* installPath;
    const char* expected;
  } cases[] = {
      {"C:\\Program Files\\Qor_Vex", "C:\\Program Files\\Qor_Vex\\qor_vexw.exe"},
      {"C:\\Program Files\\Qor_Vex\\", "C:\\Program Files\\Qor_Vex\\qor_vexw.exe"},
      {"", "qor_vexw.exe"},
  };
  FileRecord r;
  r.installedName = "qor_vexw.exe";
  r.compressedName = "qor_vexw.ex_";
  for (const auto& c : cases) {
    FileTable t;
    t.SetInstallPath(c.installPath);
    EXPECT_EQ(t.InstalledPath(r), c.expected) << "install path '" << c.installPath << "'";
  }

  FileTable t;
  t.SetInstallPath("C:\\P");
  ASSERT_TRUE(t.LoadFileTable(Script("[FILES]\r\n"
                                     "\"Monitor\",\"first.exe\",1,2,\"\",0,0\r\n"
                                     "\"\",\"nameless.exe\",1,2,\"\",0,0\r\n"
                                     "\"MONITOR\",\"second.exe\",1,2,\"\",0,0\r\n")));
  std::string path = "unchanged";
  EXPECT_TRUE(t.RolePath("monitor", path));  // any letter case; the first record wins
  EXPECT_EQ(path, "C:\\P\\first.exe");
  path = "unchanged";
  EXPECT_FALSE(t.RolePath("Nobody", path));
  EXPECT_EQ(path, "unchanged");
  EXPECT_TRUE(t.RolePath("", path));  // the first record without a role
  EXPECT_EQ(path, "C:\\P\\nameless.exe");

  EXPECT_EQ(t.SourceNameOf(r), "qor_vexw.ex_");
  t.SetSourceIsInstalled(true);
  EXPECT_EQ(t.SourceNameOf(r), "qor_vexw.exe");
}

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("qor_ft_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    fs::path p = path / name;
    std::FILE* f = std::fopen(p.string().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return p.string();
  }
};

FileRecord Record(const std::string& installedName, std::int32_t size, std::uint32_t checksum) {
  FileRecord r;
  r.installedName = installedName;
  r.size = size;
  r.checksum = checksum;
  return r;
}

TEST(FileTable, FileMatches) {
  TempDir dir;
  const std::string abc = dir.Write("abc.bin", "abc");  // size 3, FileChecksum 0xCADBBE3D
  const std::string missing = (dir.path / "missing.bin").string();
  struct Case {
    const char* what;
    std::string path;
    FileRecord record;
    bool matches;
  } cases[] = {
      {"size and checksum equal", abc, Record("", 3, 0xCADBBE3Du), true},
      {"checksum differs", abc, Record("", 3, 0xCADBBE3Cu), false},
      {"size differs", abc, Record("", 4, 0xCADBBE3Du), false},
      {"size 0 never matches", abc, Record("", 0, 0), false},
      {"size -1: any readable file", abc, Record("", -1, 0), true},
      {"size -1, missing file", missing, Record("", -1, 0), false},
      {"missing file", missing, Record("", 3, 0xCADBBE3Du), false},
  };
  for (const auto& c : cases) EXPECT_EQ(FileTable::FileMatches(c.path, c.record), c.matches) << c.what;
}

TEST(FileTable, UpToDateAndCountOutdated) {
  TempDir dir;
  dir.Write("a.exe", "abc");
  FileTable t;
  // Absolute installed names with an empty install path reach the temp files.
  const std::string a = (dir.path / "a.exe").string();
  t.Records() = {Record(a, 3, 0xCADBBE3Du), Record(a, -1, 0)};
  EXPECT_TRUE(t.IsUpToDate(Record("", 5, 5)));  // no installed name: nothing to install
  EXPECT_TRUE(t.IsUpToDate(t.Records()[0]));

  int polls = 0;
  auto poll = [&polls] {
    ++polls;
    return false;
  };
  EXPECT_EQ(t.CountOutdated(poll), 0);
  EXPECT_EQ(polls, 2);  // asked before every record
  EXPECT_EQ(t.CountOutdated(nullptr), 0);

  // A record of size 0 is never current, whatever else is.
  t.Records().push_back(Record(a, 0, 0));
  EXPECT_EQ(t.CountOutdated(poll), 1);
  // The first outdated record ends the walk; a cancel wins before it.
  t.Records() = {Record((dir.path / "gone.exe").string(), 3, 0), Record(a, 3, 0xCADBBE3Du)};
  polls = 0;
  EXPECT_EQ(t.CountOutdated(poll), 1);
  EXPECT_EQ(polls, 1);
  EXPECT_EQ(t.CountOutdated([] { return true; }), -1);

  // The install path joins with a backslash (here part of a file name, as on
  // a POSIX file system; on Windows it separates the folder).
  dir.Write("inst\\b.dll", "abc");
  t.SetInstallPath((dir.path / "inst").string());
  EXPECT_TRUE(t.IsUpToDate(Record("b.dll", 3, 0xCADBBE3Du)));
}

TEST(ProductKeys, Reading) {
  struct Case {
    const char* what;
    std::string section;
    const char* key;
    std::string value;
  } cases[] = {
      {"bare token ends at a comma", "Platform=Win95,Win98\r\n", "Platform", "Win95"},
      {"only Win98", "Platform = Win98\r\n", "platform", "Win98"},
      {"first pair wins", "Package=Full\r\npackage=Update\r\n", "PACKAGE", "Full"},
      {"absent key", "Name=Qor_Vex\r\n", "Package", ""},
      {"empty value", "Package=\r\nName=Qor_Vex\r\n", "Name", "Qor_Vex"},
      {"line without = ends the section", "Name Qor_Vex\r\nPackage=Full\r\n", "Package", ""},
      {"empty key ends the section", "=x\r\nPackage=Full\r\n", "Package", ""},
      {"comments and blank lines skipped", "; c\r\n\r\nName=Qor_Vex\r\n", "Name", "Qor_Vex"},
      {"next section ends it", "[FILES]\r\nName=Qor_Vex\r\n", "Name", ""},
  };
  for (const auto& c : cases) {
    ProductKeys k;
    EXPECT_TRUE(k.LoadProductKeys(Script("[PRODUCT]\r\n" + c.section))) << c.what;
    EXPECT_EQ(k.ProductValue(c.key), c.value) << c.what;
  }
  ProductKeys k;
  EXPECT_FALSE(k.LoadProductKeys(Script("[FILES]\r\n")));
  EXPECT_TRUE(k.LoadProductKeys(Script("[product]")));
  EXPECT_EQ(k.Block(), std::string(1, '\0'));
}

TEST(ProductKeys, BufferKeepsWholePairsThatFit) {
  // Each pair "Kxxxx=" + 95-byte value takes 5 + 1 + 95 + 1 = 102 bytes; 98
  // of them (9996 bytes) and the closing empty key fill 9997 of 10000.
  std::string section;
  for (int i = 0; i < 120; ++i) {
    char key[8];
    std::snprintf(key, sizeof key, "K%04d", i);
    section += std::string(key) + "=" + std::string(95, 'v') + "\r\n";
  }
  ProductKeys k;
  ASSERT_TRUE(k.LoadProductKeys(Script("[PRODUCT]\r\n" + section)));
  EXPECT_EQ(k.Block().size(), 98u * 102u + 1u);
  EXPECT_LE(k.Block().size(), ProductKeys::kBufferSize);
  EXPECT_EQ(k.ProductValue("K0097"), std::string(95, 'v'));
  EXPECT_EQ(k.ProductValue("K0098"), "");
  EXPECT_EQ(k.ProductValue("K0119"), "");
}

}  // namespace
