#include "install/restart_replace.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/setup_app.h"
#include "system/kernel_handles.h"

namespace qor {
namespace {

// The short (8.3) form of an existing path, or the path itself.
std::string ShortPath(const char* path) {
  char buf[MAX_PATH];
  DWORD n = GetShortPathNameA(path, buf, sizeof buf);
  return (n > 0 && n < sizeof buf) ? std::string(buf, n) : std::string();
}

// The short form of a target that may not exist yet: it is created empty for
// a moment so that the system can name it. Only a file created here is
// deleted again: an existing target whose short name cannot be had keeps its
// contents and is named by its long path.
std::string ShortTargetPath(const char* target) {
  std::string s = ShortPath(target);
  if (!s.empty()) return s;
  {
    KernelHandle created(CreateFileA(target, GENERIC_READ, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!created) return target;
  }  // closed at once: only its name is wanted
  s = ShortPath(target);
  DeleteFileA(target);
  return s.empty() ? std::string(target) : s;
}

}  // namespace

bool IsWindowsNT() { return (GetVersion() & 0x80000000u) == 0; }

bool AddWinInitRename(const char* iniPath, const char* newFile, const char* target) {
  std::string left = target ? ShortTargetPath(target) : std::string("NUL");
  std::string right = ShortPath(newFile);
  if (right.empty()) right = newFile;
  const std::string line = left + "=" + right + "\r\n";
  static const char kHeader[] = "[Rename]\r\n";
  const DWORD headerLength = sizeof kHeader - 1;

  KernelHandle file(CreateFileA(iniPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return false;
  DWORD room = size + static_cast<DWORD>(line.size()) + headerLength + 1;
  KernelHandle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READWRITE, 0, room, nullptr));
  if (!mapping) return false;
  MappedView mapped(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, room));
  if (!mapped) return false;
  char* view = mapped.bytes();
  view[size] = 0;
  DWORD length;
  // Search within the file's own bytes: a zero byte in the file must not end
  // the search early, nor may the search run past them.
  char* header = nullptr;
  for (DWORD i = 0; i + headerLength <= size; ++i) {
    if (std::memcmp(view + i, kHeader, headerLength) == 0) {
      header = view + i;
      break;
    }
  }
  if (header) {
    char* insert = header + headerLength;
    std::memmove(insert + line.size(), insert, static_cast<std::size_t>(view + size - insert));
    std::memcpy(insert, line.data(), line.size());
    length = size + static_cast<DWORD>(line.size());
  } else {
    std::memcpy(view + size, kHeader, headerLength);
    std::memcpy(view + size + headerLength, line.data(), line.size());
    length = size + headerLength + static_cast<DWORD>(line.size());
  }
  // The view and the mapping go before the file is cut to its new length.
  mapped.Unmap();
  mapping.Close();
  SetFilePointer(file.get(), static_cast<LONG>(length), nullptr, FILE_BEGIN);
  SetEndOfFile(file.get());
  return true;
}

bool ReplaceAtRestart(SetupApp& app, const char* newFile, const char* target) {
  app.restartNeeded = true;
  // The target exists in the usual case (it is in use), and a delayed move
  // without MOVEFILE_REPLACE_EXISTING is dropped at boot when its target
  // exists: the replacement would be promised but never made.
  DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (target ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(newFile, target, flags)) return true;
  if (IsWindowsNT()) return false;
  char windows[MAX_PATH];
  UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  if (n == 0 || n >= sizeof windows) return false;
  std::string ini = std::string(windows) + "\\WinInit.ini";
  return AddWinInitRename(ini.c_str(), newFile, target);
}

}  // namespace qor
