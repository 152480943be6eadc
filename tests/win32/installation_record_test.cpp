// The installation record, the engine date stamps and the update marker,
// against the real registry, a real engine library of our own (the stand-ins
// in <build>/standins) and a real window in another process.
//
// Every case starts without the maker's keys (HKEY_LOCAL_MACHINE\Software\Qor
// and HKEY_CURRENT_USER\Software\Qor) and removes them again.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/messages.h"
#include "check.h"
#include "companions/monitor_start.h"
#include "install/package.h"
#include "registry_probe.h"
#include "resources/resource.h"
#include "system/installation_record.h"
#include "system/registry.h"

#ifndef QOR_STANDINS_DIR
#error "QOR_STANDINS_DIR names the folder of the stand-in programs"
#endif

namespace {

using namespace qor;
using regprobe::BinaryValue;
using regprobe::DwordValue;
using regprobe::SzValue;

const char kRecord[] = "Software\\Qor\\Qor_Vex\\Setup";  // under HKEY_LOCAL_MACHINE
const char kStamps[] = "Software\\Qor\\Setup";
const char kDefaultStamp[] = "55 55 55 55 81 03 E2 40";  // 1 January 2001, 01:00
const char kDefaultInstallPath[] = "C:\\Program Files\\Qor_Vex";

std::string Record(const char* name) { return regprobe::Value(HKEY_LOCAL_MACHINE, kRecord, name); }
std::string Stamp(const char* name) { return regprobe::Value(HKEY_LOCAL_MACHINE, kStamps, name); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string ReadFile(const std::string& path) {
  std::string s;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "(no file)";
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

// The smallest package: a program, an empty directory, the trailer.
std::string PackageBytes() {
  std::string s = "MZ program bytes";
  const std::uint32_t position = static_cast<std::uint32_t>(s.size());
  s += std::string("LF\x01\0\0\0", 6);
  s += '\0';
  s += "LF";
  for (int i = 0; i < 4; ++i) s += static_cast<char>(position >> (8 * i));
  return s;
}

// No keys of the maker; a fresh folder that plays the setup program's own
// (moduleDir) and one that plays the install folder.
struct Machine {
  std::string dir;      // ends in a backslash
  std::string install;  // no backslash at the end
  Machine() {
    Clean();
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    dir = std::string(temp) + "qor_record_test\\";
    RemoveFolder(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    install = dir + "install";
    CreateDirectoryA(install.c_str(), nullptr);
  }
  ~Machine() {
    Clean();
    RemoveFolder(dir);
  }
  static void Clean() {
    regprobe::RemoveTree(HKEY_LOCAL_MACHINE, "Software\\Qor");
    regprobe::RemoveTree(HKEY_CURRENT_USER, "Software\\Qor");
  }
  static void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveFolder(folder + name + "\\");
        else
          DeleteFileA((folder + name).c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
  }
  // An application object as start-up leaves it before the record is read.
  SetupApp App() const {
    SetupApp app;
    app.modulePath = dir + "setup.exe";
    app.moduleDir = dir;
    app.sourceKind = kSourceUnknown;
    return app;
  }
  void Engine(const char* variant, const char* sideFile = nullptr) const {
    CopyFileA((std::string(QOR_STANDINS_DIR) + variant + "\\qor_engn.dll").c_str(),
              (install + "\\qor_engn.dll").c_str(), FALSE);
    if (sideFile) WriteFile(install + "\\qor_engn.txt", sideFile);
  }
  std::string EngineLog() const { return ReadFile(install + "\\qor_engn.log"); }
};

TEST_CASE(InstallationRecordStringResourcesArePresent) {
  CHECK_EQ(ResourceString(IDS_PRODUCT_KEY), std::string("HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex"));
  CHECK_EQ(ResourceString(IDS_DEFAULT_INSTALL_PATH), std::string(kDefaultInstallPath));
  CHECK(ResourceString(IDS_INTERNET_PATH).find("/setup/qor_vex/win98") != std::string::npos);
}

TEST_CASE(InstallationRecordKeyPathsJoin) {
  struct Case {
    std::string actual;
    const char* expected;
  } cases[] = {
      {ProductKeyPath("Setup"), "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex\\Setup"},
      {ProductKeyPath("Setup\\SpecialFiles"), "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex\\Setup\\SpecialFiles"},
      {ProductKeyPath(""), "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex"},
      {ProductKeyPath(nullptr), "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex"},
      {UserProductKeyPath("Setup"), "HKEY_CURRENT_USER\\Software\\Qor\\Qor_Vex\\Setup"},
      {UserProductKeyPath(nullptr), "HKEY_CURRENT_USER\\Software\\Qor\\Qor_Vex"},
      {ProductKeyPathFor("Qor_Mon\\General", 1), "HKEY_CURRENT_USER\\Software\\Qor\\Qor_Vex\\Qor_Mon\\General"},
      {ProductKeyPathFor("Qor_Mon\\General", 2), "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex\\Qor_Mon\\General"},
      {ProductKeyPathFor("Options", 0), "HKEY_LOCAL_MACHINE\\Software\\Qor\\Qor_Vex\\Options"},
      {JoinKeyPath("", "Setup"), "Setup"},
      {JoinKeyPath("HKEY_CURRENT_USER\\", "Setup"), "HKEY_CURRENT_USER\\Setup"},
  };
  for (const Case& c : cases) CHECK_EQ(c.actual, std::string(c.expected));
}

TEST_CASE(InstallationRecordWithoutARecordTheSourceIsFoundBesideTheProgram) {
  Machine m;
  {  // Nothing beside the program: the internet.
    SetupApp app = m.App();
    CHECK_EQ(ReadInstallationRecord(app), 0);
    CHECK_EQ(app.installPath, std::string(kDefaultInstallPath));
    CHECK(app.firstInstall);
    CHECK_EQ(app.sourceKind, static_cast<int>(kSourceInternet));
    CHECK_EQ(app.sourcePath, std::string());
    CHECK_EQ(app.internetPath, ResourceString(IDS_INTERNET_PATH));
  }
  WriteFile(m.dir + "setup.dat", "[PRODUCT]\r\n");
  {  // setup.dat beside the program: that folder.
    SetupApp app = m.App();
    CHECK_EQ(ReadInstallationRecord(app), 0);
    CHECK_EQ(app.sourceKind, static_cast<int>(kSourceLocal));
    CHECK_EQ(app.sourcePath, m.dir);
  }
  WriteFile(m.dir + "setup.exe", PackageBytes());
  CHECK(IsPackageFile((m.dir + "setup.exe").c_str()));
  {  // A program that carries a package wins over setup.dat beside it.
    SetupApp app = m.App();
    app.sourceKind = kSourceNetwork;
    app.sourcePath = "\\\\server\\kit";
    CHECK_EQ(ReadInstallationRecord(app), 0);
    CHECK_EQ(app.sourceKind, static_cast<int>(kSourceLocal));
    CHECK_EQ(app.sourcePath, m.dir + "setup.exe");
  }
  // Reading writes nothing.
  CHECK(!regprobe::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Qor"));
}

TEST_CASE(InstallationRecordTheCommandLineComesFirst) {
  Machine m;
  regprobe::SetDword(HKEY_LOCAL_MACHINE, kRecord, "LocalRemote", 1);
  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "LocalSourcePath", "D:\\recorded");
  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "InstallPath", "D:\\Recorded");
  SetupApp app = m.App();
  app.sourceKind = kSourceNetwork;
  app.sourcePath = "E:\\given";
  app.installPath = "E:\\Given";
  app.internetPath = "http://given.example/";
  CHECK_EQ(ReadInstallationRecord(app), 1);
  CHECK_EQ(app.sourceKind, static_cast<int>(kSourceNetwork));
  CHECK_EQ(app.sourcePath, std::string("E:\\given"));
  CHECK_EQ(app.installPath, std::string("E:\\Given"));
  CHECK_EQ(app.internetPath, ResourceString(IDS_INTERNET_PATH));  // never the given one

  // Without a record, a given source path is kept and so is an unset kind's default.
  Machine::Clean();
  SetupApp fresh = m.App();
  fresh.sourcePath = "E:\\given";
  CHECK_EQ(ReadInstallationRecord(fresh), 0);
  CHECK_EQ(fresh.sourceKind, static_cast<int>(kSourceLocal));
  CHECK_EQ(fresh.sourcePath, std::string("E:\\given"));
}

TEST_CASE(InstallationRecordSourceKindReadsBackOnlyAsLocalOrInternet) {
  struct Case {
    const char* label;
    DWORD type;  // REG_NONE: no value
    DWORD number;
    int expected;
  } cases[] = {
      {"missing", REG_NONE, 0, 0}, {"0", REG_DWORD, 0, 0},          {"1", REG_DWORD, 1, 1},
      {"2", REG_DWORD, 2, 0},      {"7", REG_DWORD, 7, 0},          {"-1", REG_DWORD, 0xFFFFFFFF, 0},
      {"string 1", REG_SZ, 0, 0},
  };
  for (const Case& c : cases) {
    Machine m;
    regprobe::CreateKey(HKEY_LOCAL_MACHINE, kRecord);
    if (c.type == REG_DWORD) regprobe::SetDword(HKEY_LOCAL_MACHINE, kRecord, "LocalRemote", c.number);
    if (c.type == REG_SZ) regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "LocalRemote", "1");
    SetupApp app = m.App();
    CHECK_EQ(ReadInstallationRecord(app), 1) << c.label;
    CHECK_EQ(app.sourceKind, c.expected) << c.label;
    // A record without a source path does not send the run to the internet.
    CHECK_EQ(app.sourcePath, std::string()) << c.label;
  }
}

TEST_CASE(InstallationRecordInitialInstall2CountsOnlyAsADword) {
  struct Case {
    const char* label;
    DWORD type;  // REG_NONE: no value
    DWORD number;
    bool firstInstall;
  } cases[] = {
      {"missing", REG_NONE, 0, true},
      {"DWORD 0", REG_DWORD, 0, false},
      {"DWORD 5", REG_DWORD, 5, false},
      {"string", REG_SZ, 0, true},
      {"binary", REG_BINARY, 0, true},
  };
  for (const Case& c : cases) {
    Machine m;
    regprobe::CreateKey(HKEY_LOCAL_MACHINE, kRecord);
    if (c.type == REG_DWORD) regprobe::SetDword(HKEY_LOCAL_MACHINE, kRecord, "InitialInstall2", c.number);
    if (c.type == REG_SZ) regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "InitialInstall2", "0");
    if (c.type == REG_BINARY)
      regprobe::SetValue(HKEY_LOCAL_MACHINE, kRecord, "InitialInstall2", REG_BINARY, "\0\0\0", 4);
    SetupApp app = m.App();
    app.firstInstall = !c.firstInstall;
    ReadInstallationRecord(app);
    CHECK_EQ(app.firstInstall, c.firstInstall) << c.label;
  }
}

TEST_CASE(InstallationRecordPathsFromTheRecordAndTheirFallbacks) {
  struct Case {
    const char* label;
    std::string stored;  // empty: no value
    DWORD type;
    std::string expected;
  } cases[] = {
      {"plain", "D:\\Antywirus", REG_SZ, "D:\\Antywirus"},
      {"259 characters", "D:\\" + std::string(256, 'p'), REG_SZ, "D:\\" + std::string(256, 'p')},
      {"300 characters", "D:\\" + std::string(297, 'p'), REG_SZ, kDefaultInstallPath},
      {"expandable", "%ProgramFiles%\\Q", REG_EXPAND_SZ, kDefaultInstallPath},
      {"missing", "", REG_NONE, kDefaultInstallPath},
  };
  for (const Case& c : cases) {
    Machine m;
    regprobe::CreateKey(HKEY_LOCAL_MACHINE, kRecord);
    if (c.type != REG_NONE) {
      regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "InstallPath", c.stored, c.type);
      regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "LocalSourcePath", c.stored, c.type);
    }
    SetupApp app = m.App();
    CHECK_EQ(ReadInstallationRecord(app), 1) << c.label;
    CHECK_EQ(app.installPath, c.expected) << c.label;
    CHECK_EQ(app.sourcePath, c.expected == kDefaultInstallPath ? std::string() : c.expected) << c.label;
  }
  // The stored internet path is never read.
  Machine m;
  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "InetPath", "http://old.example/setup");
  SetupApp app = m.App();
  ReadInstallationRecord(app);
  CHECK_EQ(app.internetPath, ResourceString(IDS_INTERNET_PATH));
}

TEST_CASE(InstallationRecordWrittenRecordHasEveryValueInItsType) {
  Machine m;
  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "InetPath", "http://old.example/setup");
  SetupApp app = m.App();
  app.sourceKind = kSourceNetwork;
  app.sourcePath = "\\\\serwer\\źródło";
  app.installPath = m.install;
  app.internetPath = ResourceString(IDS_INTERNET_PATH);
  app.firstInstall = true;
  WriteInstallationRecord(app, 0);
  CHECK_EQ(Record("SetupVersion"), SzValue("1.0"));
  CHECK_EQ(Record("LocalRemote"), DwordValue(2));
  CHECK_EQ(Record("LocalSourcePath"), SzValue("\\\\serwer\\źródło"));
  CHECK_EQ(Record("InstallPath"), SzValue(m.install));
  CHECK_EQ(Record("InitialInstall2"), std::string("missing"));  // no installation has started yet
  CHECK_EQ(Record("InetPath"), SzValue(ResourceString(IDS_INTERNET_PATH)));

  app.firstInstall = false;
  WriteInstallationRecord(app, 1);
  CHECK_EQ(Record("InitialInstall2"), DwordValue(0));

  // What was written reads back, except that Network comes back as Local.
  SetupApp next = m.App();
  CHECK_EQ(ReadInstallationRecord(next), 1);
  CHECK_EQ(next.sourceKind, static_cast<int>(kSourceLocal));
  CHECK_EQ(next.sourcePath, app.sourcePath);
  CHECK_EQ(next.installPath, app.installPath);
  CHECK(!next.firstInstall);
}

TEST_CASE(InstallationRecordDateStampsComeFromTheEngineLibrary) {
  struct Case {
    const char* label;
    const char* variant;   // stand-in copied into the install folder, or null
    const char* sideFile;  // dates the stand-in reports
    const char* base;      // expected stamp bytes
    const char* engine;
    const char* calls;     // entry points the stand-in saw called
  } cases[] = {
      {"no library", nullptr, nullptr, kDefaultStamp, kDefaultStamp, "(no file)"},
      // 2003-04-05 is day 37716, 2002-11-30 day 37590.
      {"both exports", "full", "base 2003 4 5\nengine 2002 11 30\n", "55 55 55 55 81 6A E2 40",
       "55 55 55 55 C1 5A E2 40", "ScanGetQorbaseDate\nScanGetEngineDateInfo\n"},
      {"1 January 2001 reported", "full", "base 2001 1 1\nengine 2001 1 1\n", kDefaultStamp, kDefaultStamp,
       "ScanGetQorbaseDate\nScanGetEngineDateInfo\n"},
      {"only the base export", "base_only", "base 2003 4 5\n", kDefaultStamp, kDefaultStamp,
       "ScanGetQorbaseDate\n"},
      {"month 13 reported", "full", "base 2003 13 5\nengine 2002 11 30\n", kDefaultStamp,
       "55 55 55 55 C1 5A E2 40", "ScanGetQorbaseDate\nScanGetEngineDateInfo\n"},
  };
  for (const Case& c : cases) {
    Machine m;
    if (c.variant) m.Engine(c.variant, c.sideFile);
    SetupApp app = m.App();
    app.installPath = m.install;
    WriteInstallationRecord(app, 0);
    CHECK_EQ(Stamp(kBaseDateValue), BinaryValue(c.base)) << c.label;
    CHECK_EQ(Stamp(kEngineDateValue), BinaryValue(c.engine)) << c.label;
    CHECK_EQ(m.EngineLog(), std::string(c.calls)) << c.label;
  }
  // A file of that name that is no library at all: the default dates, and no
  // error box holds the run up.
  Machine m;
  WriteFile(m.install + "\\qor_engn.dll", "not a library");
  SetupApp app = m.App();
  app.installPath = m.install;
  WriteInstallationRecord(app, 0);
  CHECK_EQ(Stamp(kBaseDateValue), BinaryValue(kDefaultStamp));
  CHECK_EQ(Stamp(kEngineDateValue), BinaryValue(kDefaultStamp));
}

TEST_CASE(InstallationRecordQueryEngineDates) {
  Machine m;
  CalendarDate base{1, 2, 3}, engine{4, 5, 6};
  CHECK_EQ(QueryEngineDates(m.install + "\\qor_engn.dll", base, engine), 0);
  CHECK(base.year == 1 && engine.year == 4);

  // Built-in dates of the stand-in: 2003-04-05 and 2002-11-30.
  m.Engine("full");
  CHECK_EQ(QueryEngineDates(m.install + "\\qor_engn.dll", base, engine), 1);
  CHECK(base.year == 2003 && base.month == 4 && base.day == 5);
  CHECK(engine.year == 2002 && engine.month == 11 && engine.day == 30);

  m.Engine("base_only", "base 1999 12 31\n");
  engine = CalendarDate{4, 5, 6};
  CHECK_EQ(QueryEngineDates(m.install + "\\qor_engn.dll", base, engine), 0);
  CHECK(base.year == 1999 && base.month == 12 && base.day == 31);
  CHECK(engine.year == 4 && engine.month == 5 && engine.day == 6);
  // The library is released again: it can be replaced at once.
  CHECK(DeleteFileA((m.install + "\\qor_engn.dll").c_str()));
}

// A running component of the product: the broadcast listener stand-in.
class Listener {
 public:
  explicit Listener(const std::string& recordFile, int count) : record_(recordFile) {
    DeleteFileA(record_.c_str());
    ready_ = CreateEventA(nullptr, TRUE, FALSE, "QorTestBroadcastListenerReady");
    std::string command = std::string("\"") + QOR_STANDINS_DIR + "broadcast_listener.exe\" \"" + record_ +
                          "\" QorTestBroadcastListenerReady " + std::to_string(count) + " 20000";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) &&
               WaitForSingleObject(ready_, 10000) == WAIT_OBJECT_0;
  }
  ~Listener() {
    if (pi_.hProcess) {
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 9);
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
    }
    if (ready_) CloseHandle(ready_);
    DeleteFileA(record_.c_str());
  }
  bool started() const { return started_; }
  std::string Received() const { return ReadFile(record_); }
  // The listener's exit code once it has ended (within ms), else -1.
  int ExitCode(DWORD ms) const {
    DWORD code = 0;
    if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi_.hProcess, &code)) return -1;
    return static_cast<int>(code);
  }

 private:
  std::string record_;
  HANDLE ready_ = nullptr;
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

const char kOneBroadcast[] = "Qor_Vex: UpdateConfiguration wParam=0 lParam=0\n";

TEST_CASE(InstallationRecordUpdateMarkerIsSetAndRemovedWithABroadcastEachTime) {
  Machine m;
  Listener listener(m.dir + "broadcasts.txt", 2);
  REQUIRE(listener.started()) << "the listener window did not come up";

  BeginUpdateMarker();
  CHECK_EQ(Record("InUpdating"), DwordValue(1));
  CHECK_EQ(listener.Received(), std::string(kOneBroadcast));  // delivered before the call returned

  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "InstallPath", "kept");
  EndUpdateMarker();
  CHECK_EQ(Record("InUpdating"), std::string("missing"));
  CHECK_EQ(Record("InstallPath"), SzValue("kept"));
  CHECK_EQ(listener.Received(), std::string(kOneBroadcast) + kOneBroadcast);
  CHECK_EQ(listener.ExitCode(10000), 0);
}

TEST_CASE(InstallationRecordEndUpdateMarkerWithoutTheProductKeyOnlyBroadcasts) {
  Machine m;
  Listener listener(m.dir + "broadcasts.txt", 1);
  REQUIRE(listener.started()) << "the listener window did not come up";
  EndUpdateMarker();
  CHECK(!regprobe::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Qor"));
  CHECK_EQ(listener.Received(), std::string(kOneBroadcast));
  CHECK_EQ(listener.ExitCode(10000), 0);
}

TEST_CASE(InstallationRecordDeleteDateStampsLeavesTheirKey) {
  Machine m;
  SetupApp app = m.App();
  app.installPath = m.install;
  WriteInstallationRecord(app, 0);
  regprobe::SetString(HKEY_LOCAL_MACHINE, kStamps, "other", "stays");
  DeleteDateStamps();
  CHECK_EQ(Stamp(kBaseDateValue), std::string("missing"));
  CHECK_EQ(Stamp(kEngineDateValue), std::string("missing"));
  CHECK_EQ(Stamp("other"), SzValue("stays"));
  CHECK(regprobe::KeyExists(HKEY_LOCAL_MACHINE, kStamps));
}

TEST_CASE(InstallationRecordMonitorStartModeGoesUnderBothKeys) {
  Machine m;
  WriteMonitorStartMode(1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, "Software\\Qor\\Qor_Vex\\Qor_Mon\\General", "Startup"), DwordValue(1));
  CHECK_EQ(regprobe::Value(HKEY_LOCAL_MACHINE, "Software\\Qor\\Qor_Vex\\Qor_Mon\\General", "Startup"),
           DwordValue(1));
  WriteMonitorStartMode(2);
  CHECK_EQ(regprobe::Value(HKEY_LOCAL_MACHINE, "Software\\Qor\\Qor_Vex\\Qor_Mon\\General", "Startup"),
           DwordValue(2));
}

}  // namespace
