#include "app/command_line.h"
#include "script/script_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qor::SetupApp;

// Records what the scanner asked of the platform.
struct FakePlatform : qor::CommandLinePlatform {
  std::vector<std::string> calls;
  bool fixed = true;
  void CopyProcessFile(bool havePid, std::uint32_t pid, const std::string& from, const std::string& to) override {
    char id[16];
    std::snprintf(id, sizeof id, "%X", pid);
    calls.push_back("copy " + (havePid ? std::string(id) : std::string("-")) + " " + from + " > " + to);
  }
  bool IsFixedDrive(const std::string& root) override {
    calls.push_back("drive " + root);
    return fixed;
  }
  void ShowChecksumReport(const std::string& name) override { calls.push_back("calc [" + name + "]"); }
  void RunUninstall() override { calls.push_back("uninstall"); }
};

struct Scan {
  SetupApp app;
  FakePlatform platform;
  int result;
  explicit Scan(const char* args, bool fixed = true, const char* presetSource = nullptr) {
    platform.fixed = fixed;
    if (presetSource) app.sourcePath = presetSource;
    result = qor::ScanCommandLine(app, args, platform);
  }
};

std::string Block(std::initializer_list<const char*> names) {
  std::string b;
  for (const char* n : names) {
    b += n;
    b += '\0';
  }
  if (!b.empty()) b += '\0';
  return b;
}

TEST(CommandLine, SwitchesMatchAnyCaseAndAsPrefixes) {
  for (const char* args : {"/quiet", "/QUIET", "/Quietly", "  junk /quiet", "/unknown /quiet"}) {
    Scan s(args);
    EXPECT_TRUE(s.app.quietMode) << args;
    EXPECT_EQ(s.result, 1) << args;
  }
  Scan flags("/no_uninstall_pop3 /skipsettings /noautostart /qor_mail");
  EXPECT_TRUE(flags.app.noUninstallPop3);
  EXPECT_TRUE(flags.app.skipSettings);
  EXPECT_TRUE(flags.app.noAutostart);
  // An unknown switch word is skipped whole, even with a known one glued on.
  Scan glued("/x/quiet");
  EXPECT_FALSE(glued.app.quietMode);
  // A tab (a byte below the space) ends the text.
  Scan tab("\t/quiet");
  EXPECT_FALSE(tab.app.quietMode);
}

TEST(CommandLine, QuotedValues) {
  struct Case {
    const char* args;
    const char* source;
    int kind;
    const char* install;
    bool installed;
  } cases[] = {
      {"/quiet /src=\"D:\\kit\"", "D:\\kit", 0, "", false},
      {"/src=D:\\kit", "", -1, "", false},  // unquoted: no effect
      {"/src=D:\\kit /quiet", "", -1, "", false},
      {"/src=\"D:\\kit", "D:\\kit", 0, "", false},  // no closing quote: to the end
      {"/srcinst=\"E:\\Qor\"", "E:\\Qor", 0, "", true},
      {"/inst=\"C:\\Prog Files\\Q\"", "", -1, "C:\\Prog Files\\Q", false},
      {"/netinst /src=\"X\"", "X", 0, "", false},
      {"/src=\"X\" /netinst", "X", 2, "X", false},
      {"/src=\"\xAF\xD3\xA3W\"", "\xAF\xD3\xA3W", 0, "", false},
  };
  for (const auto& c : cases) {
    Scan s(c.args);
    EXPECT_EQ(s.app.sourcePath, c.source) << c.args;
    EXPECT_EQ(s.app.sourceKind, c.kind) << c.args;
    EXPECT_EQ(s.app.installPath, c.install) << c.args;
    EXPECT_EQ(s.app.sourceIsInstalled, c.installed) << c.args;
  }
}

TEST(CommandLine, NetAltInstDependsOnDriveType) {
  Scan fixed("/netaltinst=\"C:\\Prog\"", true, "\\\\srv\\kit");
  EXPECT_EQ(fixed.app.installPath, "C:\\Prog");
  EXPECT_EQ(fixed.app.sourceKind, -1);
  EXPECT_EQ(fixed.platform.calls, std::vector<std::string>{"drive C:\\"});

  Scan remote("/netaltinst=\"N:\\Prog\"", false, "\\\\srv\\kit");
  EXPECT_EQ(remote.app.installPath, "\\\\srv\\kit");
  EXPECT_EQ(remote.app.sourceKind, 2);

  Scan unc("/netaltinst=\"\\\\host\\share\"", false, "S");
  EXPECT_EQ(unc.app.installPath, "\\\\host\\share");
  EXPECT_EQ(unc.app.sourceKind, -1);
  EXPECT_TRUE(unc.platform.calls.empty());
}

TEST(CommandLine, DefinedNames) {
  struct Case {
    const char* args;
    std::string block;
    bool quiet;
  } cases[] = {
      {"/def=NOCTXMENU /def=\"NOMONITOR\"", Block({"NOCTXMENU", "NOMONITOR"}), false},
      {"/def=A/quiet", Block({"A"}), false},  // the glued switch is lost
      {"/def=", "", false},
      {"/def= /quiet", "", true},
      {"/def=\"A B\"", Block({"A"}), false},
      {"/def=\xAF\xD3\xA3W /quiet", Block({"\xAF\xD3\xA3W"}), true},
  };
  for (const auto& c : cases) {
    Scan s(c.args);
    EXPECT_EQ(s.app.definedNames, c.block) << c.args;
    EXPECT_EQ(s.app.quietMode, c.quiet) << c.args;
  }
  Scan s("/def=nomonitor");
  EXPECT_TRUE(qor::IsDefinedName(s.app.definedNames, "NOMONITOR"));
  EXPECT_FALSE(qor::IsDefinedName(s.app.definedNames, "NOMONITO"));
}

TEST(CommandLine, MonitorStart) {
  struct Case {
    const char* args;
    int monitor;
    bool quiet;
  } cases[] = {
      {"/monitor_start=2", 2, false},
      {"/monitor_start=1 /quiet", 1, true},
      {"/monitor_start=3/quiet", 3, true},
      {"/monitor_start=7", -1, false},
      {"/monitor_start=", -1, false},
  };
  for (const auto& c : cases) {
    Scan s(c.args);
    EXPECT_EQ(s.app.monitorStart, c.monitor) << c.args;
    EXPECT_EQ(s.app.quietMode, c.quiet) << c.args;
    EXPECT_EQ(s.result, 1);
  }
}

TEST(CommandLine, UninstallActsAtTheEnd) {
  Scan s("/uninstall /quiet");
  EXPECT_EQ(s.result, 0);
  EXPECT_TRUE(s.app.quietMode);  // read before the uninstall runs
  EXPECT_EQ(s.platform.calls, std::vector<std::string>{"uninstall"});

  Scan calc("/calc\"x\" /uninstall");
  EXPECT_EQ(calc.result, 0);
  EXPECT_EQ(calc.platform.calls, std::vector<std::string>{"calc [x]"});
}

TEST(CommandLine, Calc) {
  struct Case {
    const char* args;
    const char* name;
  } cases[] = {
      {"/calc C:\\f.bin", ""},  // a space after the switch: empty name
      {"/calcC:\\f.bin /quiet", "C:\\f.bin"},
      {"/calc\"C:\\a b.bin\"", "C:\\a"},
      {"/CALC\"C:\\\xB3\xF3" "d\xBC.bin\"", "C:\\\xB3\xF3" "d\xBC.bin"},
  };
  for (const auto& c : cases) {
    Scan s(c.args);
    EXPECT_EQ(s.result, 0) << c.args;
    EXPECT_EQ(s.platform.calls, std::vector<std::string>{std::string("calc [") + c.name + "]"}) << c.args;
    EXPECT_FALSE(s.app.quietMode);
  }
}

TEST(CommandLine, CopyProcessFile) {
  Scan s("/copy_process_file,1a4d,\"C:\\T\\a.exe\",\"C:\\P\\b.exe\" /quiet");
  EXPECT_EQ(s.result, 1);
  EXPECT_TRUE(s.app.skipSettings);
  EXPECT_TRUE(s.app.quietMode);
  EXPECT_EQ(s.platform.calls, std::vector<std::string>{"copy 1A4 C:\\T\\a.exe > C:\\P\\b.exe"});

  Scan dd("/copy_process_file,1addd,\"a\",\"b\"");
  EXPECT_EQ(dd.platform.calls, std::vector<std::string>{"copy 1ADD a > b"});

  Scan noId("/copy_process_file,d,\"a\",\"b\"");
  EXPECT_EQ(noId.platform.calls, std::vector<std::string>{"copy - a > b"});

  // Malformed: parsing ends silently, an earlier /uninstall still acts.
  for (const char* args : {"/uninstall /copy_process_file", "/uninstall /copy_process_file,1d,a,\"b\"",
                           "/uninstall /copy_process_file,1d,\"a\" \"b\" /quiet"}) {
    Scan m(args);
    EXPECT_EQ(m.result, 0) << args;
    EXPECT_FALSE(m.app.skipSettings) << args;
    EXPECT_FALSE(m.app.quietMode) << args;
    EXPECT_EQ(m.platform.calls, std::vector<std::string>{"uninstall"}) << args;
  }
}

TEST(CommandLine, AuthoringModes) {
  Scan build("/build \"D:\\src\" , \"C:\\inst\",\"D:\\setup.dat\", \"FILES\" /quiet");
  EXPECT_EQ(build.result, 1);
  EXPECT_TRUE(build.app.buildMode);
  EXPECT_EQ(build.app.sourceKind, 0);
  EXPECT_EQ(build.app.sourcePath, "D:\\src");
  EXPECT_EQ(build.app.installPath, "C:\\inst");
  EXPECT_EQ(build.app.buildScript, "D:\\setup.dat");
  EXPECT_EQ(build.app.buildSection, "FILES");
  EXPECT_FALSE(build.app.quietMode);  // the rest of the text is not read

  Scan pack2("/pack2 \"D:\\kit\",\"D:\\out.pak\" /quiet");
  EXPECT_EQ(pack2.result, 1);
  EXPECT_TRUE(pack2.app.packMode);
  EXPECT_TRUE(pack2.app.internetPackage);
  EXPECT_EQ(pack2.app.sourcePath, "D:\\kit");
  EXPECT_EQ(pack2.app.packOutput, "D:\\out.pak");
  EXPECT_FALSE(pack2.app.quietMode);

  Scan pack("/pack\"a\",\"b\"");
  EXPECT_EQ(pack.result, 1);
  EXPECT_FALSE(pack.app.internetPackage);

  for (const char* bad : {"/pack \"D:\\kit\"", "/pack", "/pack \"a\" \"b\"", "/build \"a\",\"b\",\"c\"",
                          "/build \"a\",\"b\",\"c\",\"d", "/build\t\"a\",\"b\",\"c\",\"d\"", "/uninstall /pack"}) {
    Scan s(bad);
    EXPECT_EQ(s.result, 0) << bad;
    EXPECT_TRUE(s.platform.calls.empty()) << bad;
  }
}

// What a run passes on to the setup program that takes it over reads back
// into the same settings, behind the hand-over's own switch as the new
// process gets it.
TEST(CommandLine, ForwardedSwitchesReadBackIntoTheSameRun) {
  struct Case {
    const char* note;
    bool quiet, noAutostart, sourceIsInstalled;
    std::string names;
    int kind;
    const char* source;
    const char* install;
  } cases[] = {
      {"quiet, two names, a folder source", true, false, false, Block({"NOCTXMENU", "NOMONITOR"}), 0, "C:\\kit\\",
       "C:\\Program Files\\Qor_Vex"},
      {"an installed copy as the source", false, true, true, "", 0, "D:\\Qor Vex", "C:\\Q"},
      {"a network installation", false, false, false, "", 2, "\\\\srv\\qor", "\\\\srv\\qor"},
      {"internet: the record names the source", true, false, false, "", 1, "", "C:\\Q"},
      // A name from the quoted form may hold a slash, one from the bare
      // form a double quote; each goes back in the form that keeps it.
      {"names with a slash, a quote, Polish letters", false, false, false, Block({"A/B", "C\"D", "\xAF\xD3\xA3W"}), 0,
       "C:\\kit", "C:\\Q"},
  };
  for (const auto& c : cases) {
    SetupApp app;
    app.quietMode = c.quiet;
    app.noAutostart = c.noAutostart;
    app.sourceIsInstalled = c.sourceIsInstalled;
    app.definedNames = c.names;
    app.sourceKind = c.kind;
    app.sourcePath = c.source;
    app.installPath = c.install;
    const std::string text = "/copy_process_file,1f4d,\"C:\\Q\\Setup2.exe\",\"C:\\Q\\setup.exe\"" +
                             qor::ForwardedSwitches(app);
    Scan s(text.c_str());
    EXPECT_EQ(s.result, 1) << c.note << ": " << text;
    EXPECT_EQ(s.platform.calls, std::vector<std::string>{"copy 1F4 C:\\Q\\Setup2.exe > C:\\Q\\setup.exe"}) << c.note;
    EXPECT_TRUE(s.app.skipSettings) << c.note;
    EXPECT_EQ(s.app.quietMode, c.quiet) << c.note << ": " << text;
    EXPECT_EQ(s.app.noAutostart, c.noAutostart) << c.note << ": " << text;
    EXPECT_EQ(s.app.definedNames, c.names) << c.note << ": " << text;
    EXPECT_EQ(s.app.installPath, c.install) << c.note << ": " << text;
    if (c.kind == 1) {
      // No switch names the internet: the new process reads it from the record.
      EXPECT_EQ(s.app.sourceKind, qor::kSourceUnknown) << text;
      EXPECT_EQ(s.app.sourcePath, "") << text;
    } else {
      EXPECT_EQ(s.app.sourceKind, c.kind) << c.note << ": " << text;
      EXPECT_EQ(s.app.sourcePath, c.source) << c.note << ": " << text;
      EXPECT_EQ(s.app.sourceIsInstalled, c.sourceIsInstalled) << c.note << ": " << text;
    }
  }

  SetupApp plain;
  EXPECT_EQ(qor::ForwardedSwitches(plain), "");
  plain.quietMode = true;
  plain.definedNames = Block({"NOCTXMENU"});
  EXPECT_EQ(qor::ForwardedSwitches(plain), " /quiet /def=\"NOCTXMENU\"");
}

TEST(CommandLine, SkipProgramName) {
  EXPECT_STREQ(qor::SkipProgramName("\"C:\\a b\\setup.exe\" /quiet"), "/quiet");
  EXPECT_STREQ(qor::SkipProgramName("C:/x/setup.exe /quiet"), "/quiet");
  EXPECT_STREQ(qor::SkipProgramName("setup"), "");
  // Blanks of any kind between the name and the arguments are not part of
  // them, so a tab there does not end the text.
  EXPECT_STREQ(qor::SkipProgramName("setup.exe\t /quiet\t/x"), "/quiet\t/x");
  EXPECT_STREQ(qor::SkipProgramName("\"setup.exe\"\t\t"), "");
}

TEST(StartUp, ModuleDirOf) {
  EXPECT_EQ(qor::ModuleDirOf("C:\\Kit\\setup.exe"), "C:\\Kit\\");
  EXPECT_EQ(qor::ModuleDirOf("setup.exe"), "\\");
  EXPECT_EQ(qor::ModuleDirOf("C:\\setup.exe"), "C:\\");
  EXPECT_EQ(qor::ModuleDirOf(""), "\\");
}

}  // namespace
