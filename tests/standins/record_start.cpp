// Stand-in for a program that the setup program only starts (the update
// component's installer, for one): it appends its command line and current
// folder to "<its own path>.log" and ends.
//
// Built with QOR_LOG_IN_CURRENT_FOLDER (record_start_cwd.exe) it appends to
// "<its current folder>\<its file name>.log" instead: for a program in a
// folder that is being deleted (the install folder at the uninstall), whose
// log must not be deleted with it nor keep the folder from going.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH - 5);
  if (n == 0 || n >= MAX_PATH - 5) return 1;
  std::strcat(self, ".log");
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, folder);
  const char* log = self;
#ifdef QOR_LOG_IN_CURRENT_FOLDER
  const char* name = std::strrchr(self, '\\');
  name = name ? name + 1 : self;
  std::size_t length = std::strlen(folder);
  char inFolder[2 * MAX_PATH];
  std::snprintf(inFolder, sizeof inFolder, "%s%s%s", folder, length && folder[length - 1] == '\\' ? "" : "\\", name);
  log = inFolder;
#endif
  std::FILE* f = std::fopen(log, "ab");
  if (!f) return 1;
  std::fprintf(f, "%s\n%s\n", GetCommandLineA(), folder);
  std::fclose(f);
  return 0;
}
