// hold_mutex: owns named mutexes, as a running mail scanner owns its
// "Qor_Mail: Execution Mutex" and, while it scans, "Qor_Mail: Activity Mutex".
//
//   hold_mutex.exe SECONDS NAME [NAME...]
//
// Creates every named mutex, writes "holding" and a line end to standard
// output once it holds them all, then sleeps SECONDS and exits; killing it
// releases them earlier. Exit code 0 after the wait, 1 when a mutex cannot be
// created.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: hold_mutex SECONDS NAME [NAME...]\n");
    return 2;
  }
  std::vector<HANDLE> held;
  for (int i = 2; i < argc; ++i) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, argv[i]);
    if (!mutex) {
      std::printf("cannot create %s: error %lu\n", argv[i], GetLastError());
      std::fflush(stdout);
      return 1;
    }
    held.push_back(mutex);
  }
  std::printf("holding\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::atoi(argv[1])) * 1000);
  for (HANDLE mutex : held) CloseHandle(mutex);
  return 0;
}
