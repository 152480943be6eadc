// The [PROGMAN] section of the setup script: the program group and the
// autostart shortcuts it makes, the record of them under the product key, the
// replay that removes them, and the resident programs started on the way.
//
//   NEW,"Qor_Vex"                       a group of the Programs folder that the
//   "Skaner Qor_Vex"=$"MainProgram"     product owns; each line caption = target
//   ADD,"Akcesoria"                     a group of someone else: shortcuts only
//   "Notatnik Qor"="C:\...\x.exe"
//   AUTOSTART                           the Startup folder; every target is also
//   "Menu Qor_Vex"=$"TaskBarMenu"       started at once with "/_setup"
//
// A shortcut is <block folder>\<caption>.lnk. A block ends at the next group
// or AUTOSTART line; any other line that is not a shortcut line, or a target
// that cannot be read, ends the section.
//
// Record (ProgmanEntries): value name = the NEW group name as written, data
// "*"; "AUTOSTART" = the autostart captions, each followed by ";". ADD groups
// are not recorded: what the product adds to a group of others stays.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "app/setup_app.h"
#include "install/install_file.h"
#include "install/restart_replace.h"
#include "system/installation_record.h"
#include "system/registry.h"
#include "system/script_sections.h"

namespace qor {
namespace {

constexpr char kProgmanEntriesSubkey[] = "Setup\\ProgmanEntries";
constexpr char kAutostartValue[] = "AUTOSTART";
constexpr char kResidentParameter[] = "/_setup";
constexpr DWORD kRecordNameBuffer = 1000;
constexpr DWORD kRecordDataBuffer = 5000;
constexpr DWORD kFolderBuffer = 500;
// The link's file name reaches the shell as UTF-16 in this many characters,
// the terminating zero included.
constexpr std::size_t kLinkPathChars = 260;

// COM initialised on this thread for the object's lifetime.
class ComScope {
 public:
  ComScope() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
  ~ComScope() {
    if (initialised_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_;
};

// Owns one COM interface pointer and releases it when it goes.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* operator->() const { return p_; }
  // Where a function that hands out the interface puts it.
  T** Out() { return &p_; }
  void** OutVoid() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// A FindFirstFileA listing, ended with FindClose.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string WithoutBackslashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::string FullPath(const std::string& path) {
  char full[1000];
  char* namePart = nullptr;
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, &namePart);
  if (n == 0 || n >= sizeof full) return "";
  return WithoutBackslashes(full);
}

// The folder of a group: the Programs folder, a backslash and the group name.
// False when the name leads to the Programs folder itself or out of it ("",
// ".", "\", "..", "Qor\.."): such a group would put the product's record on
// the Programs folder or above it, and the next replay would delete the
// user's own shortcuts there and try to remove the folder.
bool GroupFolder(const std::string& programs, const std::string& name, std::string& folder) {
  const std::string base = WithoutBackslashes(programs);
  folder = base + '\\' + name;
  const std::string baseFull = FullPath(base);
  const std::string full = FullPath(folder);
  return !baseFull.empty() && full.size() > baseFull.size() + 1 && full.compare(0, baseFull.size(), baseFull) == 0 &&
         full[baseFull.size()] == '\\';
}

std::string FolderWithFallback(int common, int own) {
  std::string path = SpecialFolderPath(common);
  return path.empty() ? SpecialFolderPath(own) : path;
}

// Deletes <startup>\<caption>.lnk for every caption of an AUTOSTART record,
// up to the first empty one. Failures are ignored. A caption that holds a
// path separator or a drive colon is passed over: its link would lie outside
// the Startup folder, and the record may have been edited by anyone.
void RemoveAutostartShortcuts(const std::string& startup, const std::string& captions) {
  std::size_t start = 0;
  while (start < captions.size()) {
    std::size_t end = captions.find(';', start);
    if (end == std::string::npos) end = captions.size();
    if (end == start) break;
    const std::string caption = captions.substr(start, end - start);
    if (caption.find_first_of("\\/:") == std::string::npos)
      DeleteFileA((WithBackslash(startup) + caption + ".lnk").c_str());
    start = end + 1;
  }
}

// What one block of the section needs while its shortcut lines are read.
struct Block {
  std::string folder;         // full path, the folder exists
  bool autostart = false;
  std::string autostartList;  // "caption;" per shortcut of an AUTOSTART block
};

// The shortcut lines of one block. Returns true when the section goes on
// after the block; `linePending` says that the cursor already stands on the
// line to be read as the next block line. A shortcut that cannot be saved
// sets result to 0 and ends the section.
bool ApplyShortcutLines(SetupApp& app, ScriptCursor& cursor, Block& block, const std::string& windowsFolder,
                        bool& linePending, int& result) {
  const ScriptText& script = app.script;
  for (;;) {
    if (!script.NextLine(cursor)) return true;
    if (script.At(cursor) == '[') return false;
    std::string caption;
    std::string target;
    if (!script.ReadQuoted(caption, cursor, 0, &app.fileTable)) {
      linePending = true;
      return true;
    }
    if (!script.ReadQuoted(target, cursor, '=', &app.fileTable)) return false;
    const std::string link = WithBackslash(block.folder) + caption + ".lnk";
    if (block.autostart) {
      block.autostartList += caption;
      block.autostartList += ';';
      // A resident program is not started while a file waits for the
      // restart: it would run with the old files beside the new ones.
      if (!app.noAutostart && !app.restartNeeded)
        ShellExecuteA(nullptr, "open", target.c_str(), kResidentParameter,
                      windowsFolder.empty() ? nullptr : windowsFolder.c_str(), SW_SHOW);
    }
    if (!CreateShortcut(target, link, "")) {
      result = 0;
      return false;
    }
  }
}

}  // namespace

std::string SpecialFolderPath(int folderId) {
  ComScope com;
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)) || !items) return "";
  char path[kFolderBuffer] = "";
  std::string result;
  if (SHGetPathFromIDListA(items, path)) result = path;
  ComRef<IMalloc> shellMalloc;
  if (SUCCEEDED(SHGetMalloc(shellMalloc.Out()))) shellMalloc->Free(items);
  return result;
}

std::string ProgramsFolder() { return FolderWithFallback(CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS); }

std::string StartupFolder() { return FolderWithFallback(CSIDL_COMMON_STARTUP, CSIDL_STARTUP); }

int CreateShortcut(const std::string& target, const std::string& linkPath, const std::string& description) {
  // A longer name would be cut to fit the conversion buffer and the link
  // saved under another name than the one asked for.
  if (linkPath.size() >= kLinkPathChars) return 0;
  wchar_t wideLink[kLinkPathChars];
  if (MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wideLink, kLinkPathChars) == 0) return 0;

  ComRef<IShellLinkA> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.OutVoid())))
    return 0;
  // A link whose target could not be set would point nowhere.
  if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetDescription(description.c_str()))) return 0;
  ComRef<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.OutVoid()))) return 0;
  if (FAILED(file->Save(wideLink, TRUE))) return 0;
  file->SaveCompleted(wideLink);
  return 1;
}

bool IsLockedError() {
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

int DeleteMatchingFiles(SetupApp& app, const std::string& folder, const std::string& pattern) {
  if (folder.empty()) return 0;
  const std::string base = WithBackslash(folder);
  WIN32_FIND_DATAA entry;
  FindHandle listing(FindFirstFileA((base + pattern).c_str(), &entry));
  if (!listing) {
    // No match, or no such folder: nothing to delete. A folder that cannot
    // be listed (held open without sharing, say) may still hold matching
    // files, so that is no success.
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
  }
  int result = 1;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string path = base + entry.cFileName;
    if (DeleteFileA(path.c_str())) continue;
    result = 0;
    if (IsLockedError()) ReplaceAtRestart(app, path.c_str(), nullptr);
  } while (FindNextFileA(listing.get(), &entry));
  return result;
}

int RemoveRecordedShortcuts(SetupApp& app) {
  const std::string programs = ProgramsFolder();
  const std::string startup = StartupFolder();
  if (programs.empty() || startup.empty()) return 0;
  RegKey record;
  if (!OpenKeyForRead(ProductKeyPath(kProgmanEntriesSubkey), record)) return 0;
  std::string name;
  std::string data;
  // A value too long for its buffer ends the replay there.
  for (DWORD index = 0; ReadIndexedValue(record.get(), index, kRecordNameBuffer, kRecordDataBuffer, name, data);
       ++index) {
    if (EqualsNoCase(name.c_str(), kAutostartValue)) {
      RemoveAutostartShortcuts(startup, data);
      continue;
    }
    std::string folder;
    if (!GroupFolder(programs, name, folder)) continue;
    // The folder goes only when no shortcut stayed; a file or folder of the
    // user's in it keeps it.
    if (!DeleteMatchingFiles(app, folder, "*.lnk")) continue;
    if (RemoveDirectoryA(folder.c_str()) || !IsLockedError()) continue;
    ReplaceAtRestart(app, folder.c_str(), nullptr);
  }
  return 1;
}

int ApplyShortcutScript(SetupApp& app) {
  const ScriptText& script = app.script;
  ScriptCursor cursor = 0;
  if (!script.FindSection("PROGMAN", cursor)) return 1;

  RemoveRecordedShortcuts(app);
  const std::string programs = ProgramsFolder();
  const std::string startup = StartupFolder();
  if (programs.empty() || startup.empty()) return 0;

  ComScope com;
  RegKey record;
  OpenOrCreateKey(ProductKeyPath(kProgmanEntriesSubkey), record);
  char windows[kFolderBuffer];
  UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  const std::string windowsFolder = (n == 0 || n >= sizeof windows) ? std::string() : std::string(windows);

  int result = 1;
  bool linePending = false;
  for (;;) {
    if (script.AtEnd(cursor)) break;
    if (!linePending && (!script.NextLine(cursor) || script.At(cursor) == '[')) break;
    linePending = false;

    std::string keyword;
    if (!script.ReadToken(keyword, cursor, 0)) break;
    Block block;
    std::string group;
    bool isNew = false;
    if (EqualsNoCase(keyword, kAutostartValue)) {
      block.autostart = true;
      block.folder = startup;
    } else {
      isNew = EqualsNoCase(keyword, "NEW");
      if (!isNew && !EqualsNoCase(keyword, "ADD")) break;
      if (!script.ReadQuoted(group, cursor, ',', &app.fileTable) || group.empty()) break;
      // A group that is no folder below the Programs folder is a malformed
      // line like a missing name.
      if (!GroupFolder(programs, group, block.folder)) break;
    }

    std::string full;
    if (!CreateDirectoryPath(block.folder, &full)) {
      // The message is shown; the block's shortcuts cannot be made, so the
      // installation is not complete. The walk goes on with the next line
      // read as a block line.
      result = 0;
      continue;
    }
    block.folder = full;
    if (isNew && record) WriteStringValue(record.get(), group.c_str(), "*");

    const bool goesOn = ApplyShortcutLines(app, cursor, block, windowsFolder, linePending, result);
    if (block.autostart && record) WriteStringValue(record.get(), kAutostartValue, block.autostartList);
    if (!goesOn) break;
  }
  return result;
}

}  // namespace qor
