// Runner of the Win32 tests: win32_tests.exe [--filter=TEXT[,TEXT...]] [--list]
//
// Runs every TEST_CASE (or those whose name contains one of the filter texts)
// in file and line order, and ends with the line "N passed, N failed". The
// exit code is 0 only when at least one test ran and none failed. A crash
// inside a test is reported with the test's name and counted as a failure.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "check.h"

namespace qortest {

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

Failure::~Failure() noexcept(false) {
  ++CurrentFailures();
  std::string note = note_.str();
  std::printf("%s:%d: %s failed\n%s", file_, line_, what_.c_str(), details_.c_str());
  if (!note.empty()) std::printf("    note:     %s\n", note.c_str());
  std::fflush(stdout);
  if (fatal_) throw RequireFailed();
}

}  // namespace qortest

namespace {

const qortest::TestCase* g_running = nullptr;
int g_passed = 0, g_failed = 0;

// A crash ends the process; say where, and still give the closing line.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  std::printf("[  CRASH   ] %s: exception 0x%08lX at %p\n", g_running ? g_running->name : "(outside a test)",
              info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
  std::printf("%d passed, %d failed\n", g_passed, g_failed + 1);
  std::fflush(stdout);
  ExitProcess(3);
}

bool Selected(const char* name, const std::vector<std::string>& filters) {
  if (filters.empty()) return true;
  for (const std::string& f : filters)
    if (std::strstr(name, f.c_str())) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // "\n" stays "\n": the closing line is read by machines.
  _setmode(_fileno(stdout), _O_BINARY);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(OnCrash);

  std::vector<std::string> filters;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--filter=", 0) == 0) {
      std::string rest = a.substr(9);
      std::size_t start = 0;
      while (start <= rest.size()) {
        std::size_t comma = rest.find(',', start);
        std::string part = rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!part.empty()) filters.push_back(part);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (a == "--list") {
      list = true;
    } else {
      std::printf("usage: win32_tests.exe [--filter=TEXT[,TEXT...]] [--list]\n");
      return 2;
    }
  }

  std::vector<qortest::TestCase> cases = qortest::Registry();
  std::stable_sort(cases.begin(), cases.end(), [](const qortest::TestCase& a, const qortest::TestCase& b) {
    int c = std::strcmp(a.file, b.file);
    return c != 0 ? c < 0 : a.line < b.line;
  });

  std::vector<std::string> failedNames;
  for (const qortest::TestCase& tc : cases) {
    if (!Selected(tc.name, filters)) continue;
    if (list) {
      std::printf("%s\n", tc.name);
      continue;
    }
    std::printf("[ RUN      ] %s\n", tc.name);
    std::fflush(stdout);
    g_running = &tc;
    qortest::CurrentFailures() = 0;
    DWORD start = GetTickCount();
    try {
      tc.fn();
    } catch (const qortest::RequireFailed&) {
    } catch (const std::exception& e) {
      std::printf("%s:%d: unexpected exception: %s\n", tc.file, tc.line, e.what());
      ++qortest::CurrentFailures();
    } catch (...) {
      std::printf("%s:%d: unexpected exception\n", tc.file, tc.line);
      ++qortest::CurrentFailures();
    }
    g_running = nullptr;
    DWORD ms = GetTickCount() - start;
    if (qortest::CurrentFailures() == 0) {
      ++g_passed;
      std::printf("[       OK ] %s (%lu ms)\n", tc.name, ms);
    } else {
      ++g_failed;
      failedNames.push_back(tc.name);
      std::printf("[  FAILED  ] %s (%lu ms)\n", tc.name, ms);
    }
    std::fflush(stdout);
  }
  if (list) return 0;
  for (const std::string& name : failedNames) std::printf("FAILED: %s\n", name.c_str());
  if (g_passed + g_failed == 0) std::printf("no test matched the filter\n");
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  std::fflush(stdout);
  return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
