// The product's engine library "qor_engn.dll", as the setup program uses it:
// loaded from the install folder only to ask for its dates.
//
// The library's contract: the exports "ScanGetQorbaseDate" (the virus base
// date) and "ScanGetEngineDateInfo" (the engine date) each take three
// pointers to 32-bit ints and store a year, a month and a day through them;
// the caller pops the arguments (cdecl) and the result means nothing.
#pragma once

#include <string>

#include "system/ole_date.h"

namespace qor {

constexpr const char kEngineLibraryName[] = "qor_engn.dll";
constexpr const char kBaseDateEntry[] = "ScanGetQorbaseDate";
constexpr const char kEngineDateEntry[] = "ScanGetEngineDateInfo";

// Holds the library loaded for as long as it lives and frees it when it goes.
class EngineLibrary {
 public:
  // Loads the library at path. A missing or broken library brings up no
  // system error box; it is simply not loaded.
  explicit EngineLibrary(const std::string& path);
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  // Calls the date export named entry, which fills date. False, with date
  // untouched, when the library is not loaded or lacks the export.
  bool QueryDate(const char* entry, CalendarDate& date) const;

 private:
  void* module_ = nullptr;  // the HMODULE
};

}  // namespace qor
