/* A stand-in for WININET.DLL that exports names, for checking how the setup
 * program binds the internet library, and a session that cannot be opened.
 * Built in two forms:
 *   QOR_FAKE_INCOMPLETE  lacks HttpSendRequestA, one of the required names
 *   QOR_FAKE_NARROW      has every required A name and no W name at all
 * Neither has the optional HttpQueryInfoA. Only InternetOpenA and
 * InternetCloseHandle may be called, so only they have their real
 * signatures (exported undecorated, see CMakeLists.txt): InternetOpenA
 * prints its arguments on standard output and fails, as on a machine that
 * cannot connect; the others are never called.
 */
#include <stdio.h>

#define EXPORT __declspec(dllexport)

EXPORT void* __stdcall InternetOpenA(const char* agent, unsigned long access, const char* proxy,
                                     const char* bypass, unsigned long flags) {
  printf("InternetOpenA(\"%s\", %lu, %s, %s, %lu)\n", agent ? agent : "(null)", access, proxy ? proxy : "null",
         bypass ? bypass : "null", flags);
  fflush(stdout);
  return 0;
}
EXPORT int __stdcall InternetCloseHandle(void* handle) { return handle != 0; }
EXPORT int InternetOpenUrlA(void) { return 0; }
EXPORT int InternetReadFile(void) { return 0; }
EXPORT int InternetConnectA(void) { return 0; }
EXPORT int HttpOpenRequestA(void) { return 0; }
#ifndef QOR_FAKE_INCOMPLETE
EXPORT int HttpSendRequestA(void) { return 0; }
#endif
EXPORT int InternetAttemptConnect(void) { return 0; }
#ifndef QOR_FAKE_NARROW
EXPORT int InternetOpenW(void) { return 0; }
EXPORT int InternetOpenUrlW(void) { return 0; }
EXPORT int InternetConnectW(void) { return 0; }
EXPORT int HttpOpenRequestW(void) { return 0; }
EXPORT int HttpSendRequestW(void) { return 0; }
#endif
