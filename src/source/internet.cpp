#include "source/internet.h"

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

}  // namespace qor
