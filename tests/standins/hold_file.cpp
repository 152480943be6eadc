// hold_file: keeps a file open with no sharing, as a running program holds
// its own files, so that nobody else can open it for writing.
//
//   hold_file.exe PATH [SECONDS]
//
// Opens (creating when missing) PATH for reading with share mode 0, writes
// "holding" and a line end to standard output once it holds the file, then
// sleeps SECONDS (default 120) and exits; killing it releases the file
// earlier. Exit code 0 after the wait, 1 when the file cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: hold_file PATH [SECONDS]\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("cannot open %s: error %lu\n", argv[1], GetLastError());
    std::fflush(stdout);
    return 1;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
  Sleep(static_cast<DWORD>(seconds) * 1000);
  CloseHandle(file);
  return 0;
}
