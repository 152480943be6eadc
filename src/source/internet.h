// The system's internet library, WININET.DLL, bound at run time, and the
// transfer made with it: the session, one request per file, its reads, each
// with the Retry/Cancel prompt the user answers when the step fails.
//
// The library is optional: the program starts without it and only an internet
// source is refused (by the settings dialog). It is bound once before the
// installation session and released after it. It is never imported, so the
// program starts on a Windows 95 without it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

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
  // Optional: when present, a request answered with an HTTP error status
  // fails like a request that could not be sent, instead of delivering the
  // server's error page as the file. Its absence does not make the library
  // incomplete.
  decltype(&::HttpQueryInfoA) httpQueryInfoA = nullptr;                  // used when present
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

// Opens the session ("Qor_Vex_98 Setup Session", the system's preconfigured
// connection settings). While it cannot be opened the user is asked to
// connect and retry; null once the user cancels, or at once while the library
// is not bound.
HINTERNET OpenInternetSession();
// Opens url on the session (no cache write, binary transfer, no extra
// headers). While it cannot be opened, or the server answers with an HTTP
// status of 400 or more (when the library can tell), the user is asked
// whether to retry, any number of times; null once the user cancels.
HINTERNET OpenUrlRequest(HINTERNET session, const std::string& url);
// Reads at most count bytes of the request: the number read, 0 at the end of
// the data. A failed read is retried while the user chooses Retry; 0 once the
// user cancels, which the caller takes as the end of the file.
std::uint32_t ReadUrlRequest(HINTERNET request, void* buffer, std::uint32_t count);
// Closes a request or the session; null and an unbound library are ignored.
void CloseInternetHandle(HINTERNET handle);

}  // namespace qor
