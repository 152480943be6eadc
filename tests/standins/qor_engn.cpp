// Stand-in for the product's engine library "qor_engn.dll", built for the
// tests: it reports a virus base date and an engine date through the two
// cdecl entry points the setup program looks up.
//
// The dates are set at build time (QOR_STANDIN_BASE_DATE and
// QOR_STANDIN_ENGINE_DATE, "year, month, day") and can be chosen per test by
// a side file "qor_engn.txt" beside the DLL, with lines such as
//   base 2003 4 5
//   engine 2002 11 30
// While a side file is there, each call is also appended to "qor_engn.log"
// beside the DLL (the entry point's name and a line end), so a test sees
// which entry points were called; without one the DLL writes nothing.
// The variant built without QOR_STANDIN_ENGINE_EXPORT exports only
// "ScanGetQorbaseDate".
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HMODULE g_self = nullptr;

struct Date {
  int year, month, day;
};

// Path of a file beside this DLL.
bool BesideSelf(const char* name, char* out, DWORD size) {
  DWORD n = GetModuleFileNameA(g_self, out, size);
  if (n == 0 || n >= size) return false;
  char* slash = std::strrchr(out, '\\');
  char* base = slash ? slash + 1 : out;
  if (static_cast<DWORD>(base - out) + std::strlen(name) + 1 > size) return false;
  std::strcpy(base, name);
  return true;
}

Date ChosenDate(const char* which, Date builtIn) {
  char path[MAX_PATH];
  if (!BesideSelf("qor_engn.txt", path, sizeof path)) return builtIn;
  std::FILE* f = std::fopen(path, "r");
  if (!f) return builtIn;
  char line[128];
  while (std::fgets(line, sizeof line, f)) {
    char key[32];
    Date d;
    if (std::sscanf(line, "%31s %d %d %d", key, &d.year, &d.month, &d.day) == 4 && std::strcmp(key, which) == 0) {
      builtIn = d;
      break;
    }
  }
  std::fclose(f);
  return builtIn;
}

void LogCall(const char* entry) {
  char path[MAX_PATH];
  if (!BesideSelf("qor_engn.txt", path, sizeof path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
  if (!BesideSelf("qor_engn.log", path, sizeof path)) return;
  std::FILE* f = std::fopen(path, "ab");
  if (!f) return;
  std::fprintf(f, "%s\n", entry);
  std::fclose(f);
}

int Report(const char* entry, const char* which, Date builtIn, int* year, int* month, int* day) {
  LogCall(entry);
  Date d = ChosenDate(which, builtIn);
  *year = d.year;
  *month = d.month;
  *day = d.day;
  return 1;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

extern "C" int __cdecl ScanGetQorbaseDate(int* year, int* month, int* day) {
  return Report("ScanGetQorbaseDate", "base", Date{QOR_STANDIN_BASE_DATE}, year, month, day);
}

#ifdef QOR_STANDIN_ENGINE_EXPORT
extern "C" int __cdecl ScanGetEngineDateInfo(int* year, int* month, int* day) {
  return Report("ScanGetEngineDateInfo", "engine", Date{QOR_STANDIN_ENGINE_DATE}, year, month, day);
}
#endif
