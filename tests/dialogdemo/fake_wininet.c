/* A stand-in for WININET.DLL that only exports names, for checking how the
 * setup program binds the internet library. Nothing here is ever called: the
 * binding only looks the names up. Built in two forms:
 *   QOR_FAKE_INCOMPLETE  lacks HttpSendRequestA, one of the required names
 *   QOR_FAKE_NARROW      has every required A name and no W name at all
 */
#define EXPORT __declspec(dllexport)

EXPORT int InternetOpenA(void) { return 0; }
EXPORT int InternetCloseHandle(void) { return 0; }
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
