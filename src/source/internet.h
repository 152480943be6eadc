// Run-time binding of the system's internet library, WININET.DLL.
//
// The library is optional: the program starts without it and only an internet
// source is refused (by the settings dialog). It is bound once before the
// installation session and released after it.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace qor {

// The library's entry points, in the order in which they are looked up; a
// pointer is null when its name was not found. Only the A functions marked
// "used" are called by the program; the rest are looked up because their
// presence tells a usable library from an incomplete one.
struct InternetEntryPoints {
  decltype(&::InternetOpenA) internetOpenA = nullptr;              // used, required
  decltype(&::InternetOpenW) internetOpenW = nullptr;
  decltype(&::InternetCloseHandle) internetCloseHandle = nullptr;  // used, required
  decltype(&::InternetOpenUrlA) internetOpenUrlA = nullptr;        // used, required
  decltype(&::InternetOpenUrlW) internetOpenUrlW = nullptr;
  decltype(&::InternetReadFile) internetReadFile = nullptr;        // used, required
  decltype(&::InternetConnectA) internetConnectA = nullptr;        // required
  decltype(&::InternetConnectW) internetConnectW = nullptr;
  decltype(&::HttpOpenRequestA) httpOpenRequestA = nullptr;        // required
  decltype(&::HttpOpenRequestW) httpOpenRequestW = nullptr;
  decltype(&::HttpSendRequestA) httpSendRequestA = nullptr;        // required
  decltype(&::HttpSendRequestW) httpSendRequestW = nullptr;
  decltype(&::InternetAttemptConnect) internetAttemptConnect = nullptr;  // required
};

// Loads "WININET.DLL" and looks up its entry points. Returns 1 and makes the
// library available when every required entry point was found (the wide
// character ones may be missing); otherwise releases it and returns 0.
int BindInternetLibrary();
// Releases the library when it is held and returns 1. The available flag
// keeps its value.
int UnbindInternetLibrary();
// True when the last binding succeeded.
bool InternetLibraryAvailable();
// The entry points of the bound library (all null while unbound).
const InternetEntryPoints& InternetEntries();

}  // namespace qor
