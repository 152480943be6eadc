// Stand-in for a program that the setup program only starts (the update
// component's installer, for one): it appends its command line and current
// folder to "<its own path>.log" and ends.
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
  std::FILE* f = std::fopen(self, "ab");
  if (!f) return 1;
  std::fprintf(f, "%s\n%s\n", GetCommandLineA(), folder);
  std::fclose(f);
  return 0;
}
