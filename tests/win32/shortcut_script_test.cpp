// The [PROGMAN] section against the real shell: links saved by the shell-link
// object in the prefix's Start menu folders, the record under the product
// key, the replay that removes them, and the resident programs started on the
// way (copies of the recording stand-in). Every case works with groups and
// links whose names begin with "QorTest" and removes them, the product key
// and any delayed deletions it caused, again.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "app/setup_app.h"
#include "check.h"
#include "registry_probe.h"
#include "system/script_sections.h"
#include "temp_dir.h"
#include "window_driver.h"

#ifndef QOR_STANDINS_DIR
#error "QOR_STANDINS_DIR names the folder of the stand-in programs"
#endif

namespace {

using namespace qor;

const char kRecord[] = "Software\\Qor\\Qor_Vex\\Setup\\ProgmanEntries";  // under HKEY_LOCAL_MACHINE
const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPending[] = "PendingFileRenameOperations";
const char kUserShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

class Com {
 public:
  Com() { CoInitialize(nullptr); }
  ~Com() { CoUninitialize(); }
};

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Names in a folder (without "." and ".."), sorted as the system lists them.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAA entry;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    std::string n = entry.cFileName;
    if (n != "." && n != "..") out.push_back(n);
  } while (FindNextFileA(h, &entry));
  FindClose(h);
  return out;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : "|") + n;
  return s;
}

// The target a saved link leads to, read back through the shell-link object;
// "" when the file is no link.
std::string LinkTarget(const std::string& link) {
  Com com;
  IShellLinkA* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&shellLink))))
    return "";
  std::string target;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(file->Load(wide, STGM_READ))) {
      char path[MAX_PATH] = "";
      if (SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0))) target = path;
    }
    file->Release();
  }
  shellLink->Release();
  return target;
}

bool Lower(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// A value of a registry key set for the time of one case, the earlier state
// (value or none) restored afterwards.
class ValueOverride {
 public:
  ValueOverride(HKEY root, const char* subkey, const char* name) : root_(root), subkey_(subkey), name_(name) {
    HKEY k;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &k) == ERROR_SUCCESS) {
      BYTE data[8192];
      DWORD size = sizeof data;
      if (RegQueryValueExA(k, name, nullptr, &type_, data, &size) == ERROR_SUCCESS) {
        had_ = true;
        old_.assign(reinterpret_cast<char*>(data), size);
      }
      RegCloseKey(k);
    }
  }
  ~ValueOverride() {
    if (had_)
      regprobe::SetValue(root_, subkey_.c_str(), name_.c_str(), type_, old_.data(), static_cast<DWORD>(old_.size()));
    else
      Delete();
  }
  void Set(const std::string& text) { regprobe::SetString(root_, subkey_.c_str(), name_.c_str(), text); }
  void Delete() {
    HKEY k;
    if (RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
    RegDeleteValueA(k, name_.c_str());
    RegCloseKey(k);
  }
  // The bytes of a REG_MULTI_SZ (or any) value as it stands now.
  std::string Now() const {
    HKEY k;
    if (RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "";
    BYTE data[8192];
    DWORD size = sizeof data, type = 0;
    std::string s;
    if (RegQueryValueExA(k, name_.c_str(), nullptr, &type, data, &size) == ERROR_SUCCESS)
      s.assign(reinterpret_cast<char*>(data), size);
    RegCloseKey(k);
    return s;
  }

 private:
  HKEY root_;
  std::string subkey_, name_;
  bool had_ = false;
  DWORD type_ = 0;
  std::string old_;
};

// A delayed deletion of path is waiting for the restart (the source names of
// PendingFileRenameOperations carry the "\??\" prefix).
bool PendingDeletion(const std::string& pending, const std::string& path) {
  std::size_t start = 0;
  while (start < pending.size()) {
    std::size_t end = pending.find('\0', start);
    if (end == std::string::npos) end = pending.size();
    std::string name = pending.substr(start, end - start);
    if (name.rfind("\\??\\", 0) == 0) name = name.substr(4);
    if (!name.empty() && Lower(name, path)) return true;
    start = end + 1;
  }
  return false;
}

// The folders of the prefix that the cases write to, and the clean-up of
// everything the cases put there.
struct Scratch {
  std::string programs = ProgramsFolder();
  std::string startup = StartupFolder();
  ValueOverride pending{HKEY_LOCAL_MACHINE, kSessionManager, kPending};

  Scratch() { Clean(); }
  ~Scratch() { Clean(); }
  void Clean() {
    regprobe::RemoveTree(HKEY_LOCAL_MACHINE, "Software\\Qor");
    for (const std::string& folder : {programs, startup, Parent(programs)}) {
      if (folder.empty()) continue;
      for (const std::string& name : Names(folder))
        if (name.rfind("QorTest", 0) == 0) RemoveAll(folder + "\\" + name);
    }
  }
  static std::string Parent(const std::string& path) {
    std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? "" : path.substr(0, slash);
  }
  static void RemoveAll(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!IsFolder(path)) {
      DeleteFileA(path.c_str());
      return;
    }
    for (const std::string& name : Names(path)) RemoveAll(path + "\\" + name);
    RemoveDirectoryA(path.c_str());
  }
};

// Copies of the recording stand-in as the product's programs: each records
// its command line and current folder in "<its path>.log" when started.
struct Programs {
  qortest::TempDir dir;
  std::string Put(const std::string& name) {
    std::string path = dir / name;
    CopyFileA((std::string(QOR_STANDINS_DIR) + "record_start.exe").c_str(), path.c_str(), FALSE);
    return path;
  }
  // The log of a program: as soon as it records `starts` starts (two lines
  // each), else what it holds after `ms`; "" when it never started.
  static std::string Log(const std::string& program, int starts, DWORD ms) {
    const std::string log = program + ".log";
    for (DWORD waited = 0;; waited += 50) {
      std::string text = qortest::TempDir::Read(log);
      int lines = 0;
      for (char ch : text) lines += ch == '\n';
      if (lines >= 2 * starts || waited >= ms) return text;
      Sleep(50);
    }
  }
};

void Load(SetupApp& app, const std::string& installPath, const std::string& section) {
  app.fileTable.SetInstallPath(installPath);
  std::vector<FileRecord> records;
  for (const char* role : {"SetupProgram", "MainProgram", "Monitor", "TaskBarMenu"}) {
    FileRecord r;
    r.role = role;
    r.installedName = std::string(role) + ".exe";
    records.push_back(r);
  }
  app.fileTable.Records() = records;
  app.script.SetText("[Version1]\r\n[PROGMAN]\r\n" + section + "[END]\r\n");
}

std::string Sz(const char* name) { return regprobe::Value(HKEY_LOCAL_MACHINE, kRecord, name); }

std::string WindowsFolder() {
  char windows[MAX_PATH] = "";
  GetWindowsDirectoryA(windows, sizeof windows);
  return windows;
}

// Presses OK on every message box and keeps their texts.
struct MessageBoxes {
  std::vector<std::string> texts;
  qortest::WindowDriver driver{[this](HWND box) {
    texts.push_back(qortest::WindowText(box, 0xFFFF));
    return IDOK;
  }};
};

const char kSection[] =
    "; the group the product owns\r\n"
    "NEW,\"QorTest Grupa\"\r\n"
    "\"Skaner\"=$\"MainProgram\"\r\n"
    "\"Program instalacyjny\"=$\"SetupProgram\"\r\n"
    "ADD,\"QorTest Obca\\Podgrupa\"\r\n"
    "\"Dodany\"=$\"MainProgram\"\r\n"
    "autostart and the rest of the line\r\n"
    "\"QorTest Monitor\"=$\"Monitor\"\r\n"
    "\"QorTest Menu\"=$\"TaskBarMenu\"   anything after the target\r\n";

}  // namespace

// The common Programs and Startup folders, the user's when the system has no
// common ones, and nothing at all when neither is there: then the section is
// neither applied nor replayed.
TEST_CASE(SpecialFoldersFallBackToTheUsersOwn) {
  const std::string commonPrograms = SpecialFolderPath(CSIDL_COMMON_PROGRAMS);
  const std::string commonStartup = SpecialFolderPath(CSIDL_COMMON_STARTUP);
  const std::string ownPrograms = SpecialFolderPath(CSIDL_PROGRAMS);
  const std::string ownStartup = SpecialFolderPath(CSIDL_STARTUP);
  REQUIRE(!commonPrograms.empty() && !ownPrograms.empty() && commonPrograms != ownPrograms);
  CHECK_EQ(ProgramsFolder(), commonPrograms);
  CHECK_EQ(StartupFolder(), commonStartup);
  CHECK_EQ(SpecialFolderPath(0x7FFF), std::string("")) << "an unknown folder identifier";

  Scratch scratch;
  {
    // A system without common folders: the shell finds none where it looks.
    ValueOverride programs(HKEY_LOCAL_MACHINE, kUserShellFolders, "Common Programs");
    ValueOverride startup(HKEY_LOCAL_MACHINE, kUserShellFolders, "Common Startup");
    programs.Set("C:\\QorTestMissing\\Programs");
    startup.Set("C:\\QorTestMissing\\Startup");
    CHECK_EQ(SpecialFolderPath(CSIDL_COMMON_PROGRAMS), std::string(""));
    CHECK_EQ(ProgramsFolder(), ownPrograms);
    CHECK_EQ(StartupFolder(), ownStartup);

    Programs bin;
    for (const char* name : {"MainProgram.exe", "SetupProgram.exe", "Monitor.exe", "TaskBarMenu.exe"}) bin.Put(name);
    SetupApp app;
    Load(app, bin.dir.path(), kSection);
    app.noAutostart = true;
    CHECK_EQ(ApplyShortcutScript(app), 1);
    CHECK(Exists(ownPrograms + "\\QorTest Grupa\\Skaner.lnk"));
    CHECK(Exists(ownStartup + "\\QorTest Menu.lnk"));
    CHECK(!Exists(commonPrograms + "\\QorTest Grupa"));
    CHECK_EQ(RemoveRecordedShortcuts(app), 1);
    CHECK(!Exists(ownPrograms + "\\QorTest Grupa"));
    CHECK(!Exists(ownStartup + "\\QorTest Menu.lnk"));

    // Neither kind: nothing is removed or made.
    CHECK_EQ(ApplyShortcutScript(app), 1);
    ValueOverride userPrograms(HKEY_CURRENT_USER, kUserShellFolders, "Programs");
    userPrograms.Set("C:\\QorTestMissing\\Own");
    CHECK_EQ(ProgramsFolder(), std::string(""));
    CHECK_EQ(RemoveRecordedShortcuts(app), 0);
    CHECK_EQ(ApplyShortcutScript(app), 0);
    CHECK(Exists(ownStartup + "\\QorTest Menu.lnk")) << "the earlier shortcuts stay";
    CHECK(!Exists("C:\\QorTestMissing"));
  }
  CHECK_EQ(ProgramsFolder(), commonPrograms) << "the prefix's folders are back";
}

// Links are real shell links that lead to their target; an existing link is
// overwritten; a link that cannot be saved is a failure, and one whose path
// does not fit 259 characters is refused without saving anything.
TEST_CASE(CreateShortcutSavesShellLinks) {
  Com com;
  qortest::TempDir dir;
  const std::string first = dir / "first.exe";
  const std::string second = dir / "second.exe";
  REQUIRE(dir.Write(first, "MZ") && dir.Write(second, "MZ"));

  const std::string link = dir / "Program.lnk";
  CHECK_EQ(CreateShortcut(first, link, ""), 1);
  CHECK(Lower(LinkTarget(link), first)) << LinkTarget(link);
  CHECK_EQ(CreateShortcut(second, link, "opis"), 1);
  CHECK(Lower(LinkTarget(link), second)) << LinkTarget(link);
  CHECK_EQ(CreateShortcut(first, dir / "missing\\Program.lnk", ""), 0);
  CHECK_EQ(CreateShortcut(first, dir / "bad|name.lnk", ""), 0);

  struct Case {
    std::size_t length;
    int result;
  } cases[] = {{259, 1}, {260, 0}, {261, 0}, {400, 0}};
  for (const Case& c : cases) {
    qortest::TempDir folder;
    const std::string base = folder.path() + "\\L";
    REQUIRE(base.size() + 4 < c.length);
    const std::string path = base + std::string(c.length - base.size() - 4, 'x') + ".lnk";
    REQUIRE_EQ(path.size(), c.length);
    CHECK_EQ(CreateShortcut(first, path, ""), c.result) << "link path of " << c.length << " characters";
    const std::string expected = c.result ? path.substr(folder.path().size() + 1) : "";
    CHECK_EQ(Joined(Names(folder.path())), expected) << "link path of " << c.length << " characters";
  }
}

// Only matching files go; subfolders stay whatever their names, and so does
// every other file. A folder text that is empty is a failure, a folder with
// nothing to delete is not.
TEST_CASE(DeleteMatchingFilesLeavesOtherFilesAndFolders) {
  qortest::TempDir dir;
  SetupApp app;
  REQUIRE(dir.Write("a.lnk", "") && dir.Write("B.LNK", "") && dir.Write("keep.txt", "mine"));
  REQUIRE(CreateDirectoryA((dir / "sub.lnk").c_str(), nullptr));
  REQUIRE(dir.Write("sub.lnk\\inner.lnk", ""));
  CHECK_EQ(DeleteMatchingFiles(app, dir.path(), "*.lnk"), 1);
  CHECK_EQ(Joined(Names(dir.path())), std::string("keep.txt|sub.lnk"));
  CHECK(Exists(dir / "sub.lnk\\inner.lnk"));
  CHECK_EQ(DeleteMatchingFiles(app, dir.path() + "\\", "*.*"), 1) << "a folder ending in a backslash";
  CHECK_EQ(Joined(Names(dir.path())), std::string("sub.lnk"));
  CHECK_EQ(DeleteMatchingFiles(app, dir.path(), "*.lnk"), 1) << "nothing left to delete";
  CHECK_EQ(DeleteMatchingFiles(app, dir / "missing", "*.lnk"), 1);
  CHECK_EQ(DeleteMatchingFiles(app, "", "*.lnk"), 0);
  CHECK(!app.restartNeeded);
}

// A file in use (held open without sharing) cannot go now: the result says
// so, the file is scheduled for deletion at the restart, and the run knows
// that a restart is needed. The other files still go.
TEST_CASE(DeleteMatchingFilesSchedulesFilesInUse) {
  Scratch scratch;
  qortest::TempDir dir;
  SetupApp app;
  REQUIRE(dir.Write("held.lnk", "") && dir.Write("free.lnk", ""));
  HANDLE held = CreateFileA((dir / "held.lnk").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  REQUIRE(held != INVALID_HANDLE_VALUE);
  CHECK_EQ(DeleteMatchingFiles(app, dir.path(), "*.lnk"), 0);
  CloseHandle(held);
  CHECK_EQ(Joined(Names(dir.path())), std::string("held.lnk"));
  CHECK(PendingDeletion(scratch.pending.Now(), dir / "held.lnk"));
  CHECK(app.restartNeeded);

  // A folder held open without any sharing cannot even be listed: its files
  // may match, so that is no success either, and nothing is scheduled.
  app.restartNeeded = false;
  HANDLE folder = CreateFileA(dir.path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
  REQUIRE(folder != INVALID_HANDLE_VALUE);
  CHECK_EQ(DeleteMatchingFiles(app, dir.path(), "*.lnk"), 0);
  CloseHandle(folder);
  CHECK_EQ(Joined(Names(dir.path())), std::string("held.lnk"));
  CHECK(!app.restartNeeded);

  SetLastError(ERROR_ACCESS_DENIED);
  CHECK(IsLockedError());
  SetLastError(ERROR_SHARING_VIOLATION);
  CHECK(IsLockedError());
  SetLastError(ERROR_FILE_NOT_FOUND);
  CHECK(!IsLockedError());
}

// The whole section: a NEW group (recorded), an ADD group (made but not
// recorded), the autostart block (recorded caption by caption, its programs
// started with "/_setup" in the Windows folder before their links are made,
// except under /noautostart or with a restart pending). A second run leaves
// one set of links and the user's own files; the replay removes what the
// record names and nothing of the ADD group.
TEST_CASE(ShortcutScriptMakesRecordsAndStartsResidents) {
  struct Case {
    const char* name;
    bool noAutostart, restartNeeded, started;
  } cases[] = {
      {"plain", false, false, true},
      {"/noautostart", true, false, false},
      {"restart pending", false, true, false},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    Programs bin;
    const std::string monitor = bin.Put("Monitor.exe");
    const std::string menu = bin.Put("TaskBarMenu.exe");
    const std::string mainProgram = bin.Put("MainProgram.exe");
    const std::string setup = bin.Put("SetupProgram.exe");
    const std::string group = scratch.programs + "\\QorTest Grupa";
    const std::string added = scratch.programs + "\\QorTest Obca\\Podgrupa";

    for (int run = 0; run < 2; ++run) {
      SetupApp app;
      Load(app, bin.dir.path(), kSection);
      app.noAutostart = c.noAutostart;
      app.restartNeeded = c.restartNeeded;
      CHECK_EQ(ApplyShortcutScript(app), 1) << c.name << ", run " << run;

      CHECK_EQ(Joined(Names(group)), std::string(run ? "mine.txt|Program instalacyjny.lnk|Skaner.lnk"
                                                     : "Program instalacyjny.lnk|Skaner.lnk"))
          << c.name << ", run " << run;
      CHECK(Lower(LinkTarget(group + "\\Skaner.lnk"), mainProgram)) << c.name;
      CHECK(Lower(LinkTarget(group + "\\Program instalacyjny.lnk"), setup)) << c.name;
      CHECK(Lower(LinkTarget(added + "\\Dodany.lnk"), mainProgram)) << c.name;
      CHECK(Lower(LinkTarget(scratch.startup + "\\QorTest Monitor.lnk"), monitor)) << c.name;
      CHECK(Lower(LinkTarget(scratch.startup + "\\QorTest Menu.lnk"), menu)) << c.name;

      CHECK_EQ(Sz("QorTest Grupa"), regprobe::SzValue("*")) << c.name;
      CHECK_EQ(Sz("QorTest Obca\\Podgrupa"), std::string("missing")) << c.name;
      CHECK_EQ(Sz("AUTOSTART"), regprobe::SzValue("QorTest Monitor;QorTest Menu;")) << c.name;

      // Each run starts them once more.
      for (const std::string& resident : {monitor, menu}) {
        const std::string log = Programs::Log(resident, run + 1, c.started ? 10000 : 1000);
        const std::string start = "\"" + resident + "\" /_setup\n" + WindowsFolder() + "\n";
        std::string expected;
        for (int i = 0; c.started && i <= run; ++i) expected += start;
        CHECK_EQ(log, expected) << c.name << ", run " << run;
      }
      CHECK(!Exists(mainProgram + ".log")) << "only the autostart block starts programs";
      // The user's own file in the group, and a link of someone else in the
      // ADD group, for the second run and the replay.
      DeleteFileA((group + "\\mine.txt").c_str());
      REQUIRE(bin.dir.Write(group + "\\mine.txt", "mine"));
      REQUIRE(bin.dir.Write(added + "\\Cudzy.lnk", ""));
    }

    SetupApp app;
    CHECK_EQ(RemoveRecordedShortcuts(app), 1);
    CHECK_EQ(Joined(Names(group)), std::string("mine.txt")) << c.name;
    CHECK_EQ(Joined(Names(added)), std::string("Cudzy.lnk|Dodany.lnk")) << c.name;
    CHECK(!Exists(scratch.startup + "\\QorTest Monitor.lnk"));
    CHECK(!Exists(scratch.startup + "\\QorTest Menu.lnk"));
    CHECK_EQ(Sz("QorTest Grupa"), regprobe::SzValue("*")) << "the record stays";
    // Without the user's file the group folder goes too.
    DeleteFileA((group + "\\mine.txt").c_str());
    CHECK_EQ(RemoveRecordedShortcuts(app), 1);
    CHECK(!Exists(group)) << c.name;
    CHECK(!app.restartNeeded);
  }
}

// What ends the section, and what it reports: a group folder that cannot be
// made and a link that cannot be saved fail the installation; a malformed
// line or a target that cannot be read stops the section silently; a group
// name that leads to the Programs folder itself or out of it is refused
// before anything is made or recorded.
TEST_CASE(ShortcutScriptStopsAndFails) {
  const std::string longCaption(250, 'D');
  struct Case {
    const char* note;
    std::string section;
    int result;
    const char* message;  // start of the one message box expected, or null
    const char* made;     // the QorTest entries of the Programs folder afterwards
    const char* record;   // group names recorded, joined by "|"
  } cases[] = {
      {"group folder under a file", "NEW,\"QorTest Plik\\Grupa\"\r\n\"A\"=$\"MainProgram\"\r\n", 0,
       "Nie można utworzyć katalogu:\n", "", ""},
      {"link path too long", "NEW,\"QorTest Grupa\"\r\n\"A\"=$\"MainProgram\"\r\n\"" + longCaption +
                                 "\"=$\"MainProgram\"\r\nNEW,\"QorTest Potem\"\r\n",
       0, nullptr, "QorTest Grupa", "QorTest Grupa"},
      {"link cannot be saved", "NEW,\"QorTest Grupa\"\r\n\"Zły|znak\"=$\"MainProgram\"\r\n\"B\"=$\"MainProgram\"\r\n",
       0, nullptr, "QorTest Grupa", "QorTest Grupa"},
      {"unknown role", "NEW,\"QorTest Grupa\"\r\n\"A\"=$\"MainProgram\"\r\n\"B\"=$\"NoSuchRole\"\r\n"
                       "NEW,\"QorTest Potem\"\r\n",
       1, nullptr, "QorTest Grupa", "QorTest Grupa"},
      {"unknown keyword", "NEW,\"QorTest Grupa\"\r\n\"A\"=$\"MainProgram\"\r\nGROUP,\"QorTest Potem\"\r\n", 1,
       nullptr, "QorTest Grupa", "QorTest Grupa"},
      {"no group name", "NEW,\"\"\r\n\"A\"=$\"MainProgram\"\r\n", 1, nullptr, "", ""},
      {"group \".\"", "NEW,\".\"\r\n\"QorTest A\"=$\"MainProgram\"\r\n", 1, nullptr, "", ""},
      {"group \"\\\"", "NEW,\"\\\"\r\n\"QorTest A\"=$\"MainProgram\"\r\n", 1, nullptr, "", ""},
      {"group \"..\"", "NEW,\"..\"\r\n\"QorTest A\"=$\"MainProgram\"\r\n", 1, nullptr, "", ""},
      {"group back in the Programs folder", "ADD,\"QorTest Grupa\\..\"\r\n\"QorTest A\"=$\"MainProgram\"\r\n", 1,
       nullptr, "", ""},
      {"group beside the Programs folder", "NEW,\"..\\QorTest Obok\"\r\n\"A\"=$\"MainProgram\"\r\n", 1, nullptr,
       "", ""},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    Programs bin;
    bin.Put("MainProgram.exe");
    REQUIRE(bin.dir.Write(scratch.programs + "\\QorTest Plik", "a file where a folder is wanted"));
    SetupApp app;
    Load(app, bin.dir.path(), c.section);
    MessageBoxes boxes;
    CHECK_EQ(ApplyShortcutScript(app), c.result) << c.note;
    const std::string shown = boxes.texts.empty() ? "" : boxes.texts[0];
    if (c.message) {
      CHECK_EQ(boxes.texts.size(), 1u) << c.note;
      CHECK_EQ(shown.substr(0, std::string(c.message).size()), c.message) << c.note;
    } else {
      CHECK_EQ(shown, std::string("")) << c.note;
    }

    std::vector<std::string> made;
    for (const std::string& n : Names(scratch.programs))
      if (n.rfind("QorTest", 0) == 0 && n != "QorTest Plik") made.push_back(n);
    CHECK_EQ(Joined(made), std::string(c.made)) << c.note;
    CHECK(!Exists(Scratch::Parent(scratch.programs) + "\\QorTest Obok")) << c.note;
    CHECK(!Exists(scratch.programs + "\\QorTest A.lnk")) << c.note;
    CHECK(!Exists(Scratch::Parent(scratch.programs) + "\\QorTest A.lnk")) << c.note;

    std::vector<std::string> recorded;
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecord, 0, KEY_READ, &k) == ERROR_SUCCESS) {
      for (DWORD i = 0;; ++i) {
        char name[1000];
        DWORD n = sizeof name;
        if (RegEnumValueA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        recorded.push_back(name);
      }
      RegCloseKey(k);
    }
    CHECK_EQ(Joined(recorded), std::string(c.record)) << c.note;
    // Nothing was saved under a cut name of the long caption.
    for (const std::string& n : Names(scratch.programs + "\\QorTest Grupa"))
      CHECK(n == "A.lnk") << c.note << ": " << n;
  }
}

// The replay of a record as it may be found: a group with only links goes,
// a group folder in use is left to the restart, a group holding a file of the
// user's stays; names that lead to the Programs folder itself or above it
// are not replayed; the autostart captions go up to the first empty one.
TEST_CASE(RecordedShortcutsAreRemovedAsRecorded) {
  Scratch scratch;
  SetupApp app;
  CHECK_EQ(RemoveRecordedShortcuts(app), 0) << "no record";

  const std::string& programs = scratch.programs;
  const std::string startMenu = Scratch::Parent(programs);
  qortest::TempDir none;
  for (const char* folder : {"QorTest Puste", "QorTest Zajęte", "QorTest Pełne"}) {
    REQUIRE(CreateDirectoryA((programs + "\\" + folder).c_str(), nullptr));
    REQUIRE(none.Write(programs + "\\" + folder + "\\x.lnk", ""));
  }
  REQUIRE(none.Write(programs + "\\QorTest Pełne\\notatki.txt", "mine"));
  REQUIRE(none.Write(programs + "\\QorTest Użytkownika.lnk", ""));
  REQUIRE(none.Write(startMenu + "\\QorTest Użytkownika.lnk", ""));
  for (const char* link : {"QorTest A", "QorTest B", "QorTest C"})
    REQUIRE(none.Write(scratch.startup + "\\" + link + ".lnk", ""));
  for (const char* name : {"QorTest Puste", "QorTest Zajęte", "QorTest Pełne", "QorTest Brak", "", ".", "..", "\\"})
    REQUIRE(regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, name, "*"));
  REQUIRE(regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "autostart", "QorTest A;QorTest B;;QorTest C;"));

  // The folder is this process's current folder: its links can go, the
  // folder itself cannot be removed now.
  const std::string busy = programs + "\\QorTest Zajęte";
  char here[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof here, here);
  REQUIRE(SetCurrentDirectoryA(busy.c_str()));
  CHECK_EQ(RemoveRecordedShortcuts(app), 1);
  SetCurrentDirectoryA(here);

  CHECK(!Exists(programs + "\\QorTest Puste"));
  CHECK_EQ(Joined(Names(busy)), std::string(""));
  CHECK(PendingDeletion(scratch.pending.Now(), busy)) << "the folder in use waits for the restart";
  CHECK(app.restartNeeded);
  CHECK_EQ(Joined(Names(programs + "\\QorTest Pełne")), std::string("notatki.txt"));
  CHECK(Exists(programs + "\\QorTest Użytkownika.lnk")) << "the Programs folder's own links stay";
  CHECK(Exists(startMenu + "\\QorTest Użytkownika.lnk")) << "the Start menu's links stay";
  CHECK(!Exists(scratch.startup + "\\QorTest A.lnk"));
  CHECK(!Exists(scratch.startup + "\\QorTest B.lnk"));
  CHECK(Exists(scratch.startup + "\\QorTest C.lnk")) << "the captions after an empty one are not replayed";
}
