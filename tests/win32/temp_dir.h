// A scratch folder for one Win32 test, under the Windows temporary folder,
// removed with everything in it when the object goes away.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace qortest {

class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned serial = 0;
    for (;;) {
      char name[MAX_PATH + 40];
      std::snprintf(name, sizeof name, "%sqortest_%lu_%u", base, GetCurrentProcessId(), ++serial);
      if (CreateDirectoryA(name, nullptr)) {
        path_ = name;
        break;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) break;  // path_ stays empty; checks on it fail
    }
  }
  ~TempDir() {
    if (!path_.empty()) Remove(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing backslash.
  const std::string& path() const { return path_; }
  // A path inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  // Writes a file inside the folder (or at a full path); true on success.
  bool Write(const std::string& name, const std::string& bytes) const {
    std::string full = name.find(':') == std::string::npos ? *this / name : name;
    HANDLE h = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
  }

  // The whole file, or an empty string when it cannot be read.
  static std::string Read(const std::string& full) {
    std::string out;
    HANDLE h = CreateFileA(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(h);
    return out;
  }

 private:
  static void Remove(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        std::string full = dir + "\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(full);
        } else {
          SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(full.c_str());
        }
      } while (FindNextFileA(find, &fd));
      FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
  }

  std::string path_;
};

}  // namespace qortest
