// What the Wine-side benchmarks share: the clock and their command line
// "PROGRAM FOLDER [ROUNDS]".
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

// Seconds from the performance counter.
inline double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The data folder (ending in a backslash), its "out\" folder created, and the
// number of rounds (default 3). False after printing the usage.
inline bool ReadArguments(int argc, char** argv, const char* program, std::string& folder, std::string& out,
                          int& rounds) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", program);
    return false;
  }
  folder = argv[1];
  if (folder.back() != '\\') folder += '\\';
  rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  out = folder + "out\\";
  CreateDirectoryA(out.c_str(), nullptr);
  return true;
}

}  // namespace bench
