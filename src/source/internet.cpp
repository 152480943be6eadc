#include "source/internet.h"

#include <cstdio>

#include "app/messages.h"

namespace qor {
namespace {

HMODULE library = nullptr;
InternetEntryPoints entries;
bool available = false;

template <typename Function>
bool Lookup(Function& target, const char* name) {
  target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return target != nullptr;
}

}  // namespace

int BindInternetLibrary() {
  entries = InternetEntryPoints();
  library = LoadLibraryA("WININET.DLL");
  if (!library) {
    available = false;
    return 0;
  }
  // Every name is looked up, in this order, before the required ones are
  // judged; the wide-character functions are optional.
  bool complete = Lookup(entries.internetOpenA, "InternetOpenA");
  Lookup(entries.internetOpenW, "InternetOpenW");
  complete &= Lookup(entries.internetCloseHandle, "InternetCloseHandle");
  complete &= Lookup(entries.internetOpenUrlA, "InternetOpenUrlA");
  Lookup(entries.internetOpenUrlW, "InternetOpenUrlW");
  complete &= Lookup(entries.internetReadFile, "InternetReadFile");
  complete &= Lookup(entries.internetConnectA, "InternetConnectA");
  Lookup(entries.internetConnectW, "InternetConnectW");
  complete &= Lookup(entries.httpOpenRequestA, "HttpOpenRequestA");
  Lookup(entries.httpOpenRequestW, "HttpOpenRequestW");
  complete &= Lookup(entries.httpSendRequestA, "HttpSendRequestA");
  Lookup(entries.httpSendRequestW, "HttpSendRequestW");
  complete &= Lookup(entries.internetAttemptConnect, "InternetAttemptConnect");
  Lookup(entries.httpQueryInfoA, "HttpQueryInfoA");
  if (!complete) {
    FreeLibrary(library);
    library = nullptr;
    entries = InternetEntryPoints();
    available = false;
    return 0;
  }
  available = true;
  return 1;
}

int UnbindInternetLibrary() {
  if (library) {
    FreeLibrary(library);
    library = nullptr;
    // The pointers lead into the released library: forget them too.
    entries = InternetEntryPoints();
  }
  return 1;
}

bool InternetLibraryAvailable() { return available; }

const InternetEntryPoints& InternetEntries() { return entries; }

namespace {

bool AskRetry(const std::string& text) {
  return ShowMessage(text, MB_RETRYCANCEL | MB_ICONEXCLAMATION) == IDRETRY;
}

// True when the request's HTTP status says the server has not delivered the
// file (400 and up: a missing file, a refusal, a server fault); its body is
// then the server's error page. False when the status cannot be told (no
// HttpQueryInfoA, or not an HTTP request): the request is taken as it is.
bool ServerRefused(HINTERNET request) {
  if (!entries.httpQueryInfoA) return false;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!entries.httpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return false;
  return status >= 400;
}

HINTERNET TryOpenUrl(HINTERNET session, const std::string& url) {
  if (!entries.internetOpenUrlA) return nullptr;
  HINTERNET request = entries.internetOpenUrlA(session, url.c_str(), nullptr, 0,
                                               INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY, 0);
  if (request && ServerRefused(request)) {
    entries.internetCloseHandle(request);
    return nullptr;
  }
  return request;
}

}  // namespace

HINTERNET OpenInternetSession() {
  for (;;) {
    HINTERNET session = entries.internetOpenA
                            ? entries.internetOpenA("Qor_Vex_98 Setup Session", INTERNET_OPEN_TYPE_PRECONFIG,
                                                    nullptr, nullptr, 0)
                            : nullptr;
    if (session) return session;
    if (!AskRetry("Nie można połączyć się z Internetem.\nWybierz powtórzenie operacji, jeżeli\n"
                  "chcesz powtórzyć próbę połączenia\nlub połączysz się poza programem."))
      return nullptr;
  }
}

HINTERNET OpenUrlRequest(HINTERNET session, const std::string& url) {
  for (;;) {
    HINTERNET request = TryOpenUrl(session, url);
    if (request) return request;
    char text[1024];
    std::snprintf(text, sizeof text, "Nie można pobrać pliku:\n%s\nCzy chcesz powtórzyć próbę?", url.c_str());
    if (!AskRetry(text)) return nullptr;
  }
}

std::uint32_t ReadUrlRequest(HINTERNET request, void* buffer, std::uint32_t count) {
  for (;;) {
    DWORD got = 0;
    if (entries.internetReadFile && entries.internetReadFile(request, buffer, count, &got))
      return got <= count ? got : 0;
    if (!AskRetry("Wystąpił problem podczas pobierania pliku.\nCzy chcesz powtórzyć próbę?")) return 0;
  }
}

void CloseInternetHandle(HINTERNET handle) {
  if (handle && entries.internetCloseHandle) entries.internetCloseHandle(handle);
}

}  // namespace qor
