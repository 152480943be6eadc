#include "system/engine_library.h"

#include <windows.h>

namespace qor {
namespace {

using DateFunction = int(__cdecl*)(std::int32_t*, std::int32_t*, std::int32_t*);

}  // namespace

EngineLibrary::EngineLibrary(const std::string& path) {
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  module_ = LoadLibraryA(path.c_str());
  SetErrorMode(oldMode);
}

EngineLibrary::~EngineLibrary() {
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
}

bool EngineLibrary::QueryDate(const char* entry, CalendarDate& date) const {
  if (!module_) return false;
  auto function =
      reinterpret_cast<DateFunction>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), entry)));
  if (!function) return false;
  function(&date.year, &date.month, &date.day);
  return true;
}

}  // namespace qor
