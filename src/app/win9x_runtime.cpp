// ANSI stand-ins for the three wide-character KERNEL32 functions that the
// statically linked runtime calls: libgcc's thread support makes the
// semaphores of its mutexes with CreateSemaphoreW, and the runtime's rand_s
// fallback finds msvcrt.dll and advapi32.dll with GetModuleHandleW and
// LoadLibraryW. Windows 95/98 has these only as stubs that fail, so setup.exe
// must not depend on them.
//
// The runtime calls them through their import pointers (__imp_...). This file,
// linked into setup.exe as an object of its own, defines those pointers, so
// the linker never takes the KERNEL32 import entries and the program imports
// none of the three; each call goes to the ANSI function instead, with the
// name (if any) converted in the ANSI code page. The names the runtime uses
// are plain ASCII ("msvcrt.dll", "advapi32.dll"), and its semaphores have none.
#include <windows.h>

namespace {

// Converts a wide name for an A function; false (with the error set) when it
// does not fit or cannot be converted.
bool ToAnsi(LPCWSTR wide, char* out, int size) {
  return WideCharToMultiByte(CP_ACP, 0, wide, -1, out, size, nullptr, nullptr) > 0;
}

HANDLE WINAPI AnsiCreateSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
  if (!name) return CreateSemaphoreA(attributes, initial, maximum, nullptr);
  char ansi[MAX_PATH];
  return ToAnsi(name, ansi, sizeof ansi) ? CreateSemaphoreA(attributes, initial, maximum, ansi) : nullptr;
}

HMODULE WINAPI AnsiGetModuleHandle(LPCWSTR name) {
  if (!name) return GetModuleHandleA(nullptr);
  char ansi[MAX_PATH];
  return ToAnsi(name, ansi, sizeof ansi) ? GetModuleHandleA(ansi) : nullptr;
}

HMODULE WINAPI AnsiLoadLibrary(LPCWSTR name) {
  char ansi[MAX_PATH];
  return name && ToAnsi(name, ansi, sizeof ansi) ? LoadLibraryA(ansi) : nullptr;
}

}  // namespace

// The import pointers under their linker names: "__imp__Name@ArgumentBytes"
// for 32-bit stdcall, "__imp_Name" for 64-bit.
#if defined(__i386__)
#define QOR_IMPORT_NAME(name, bytes) __asm__("__imp__" #name "@" #bytes)
#else
#define QOR_IMPORT_NAME(name, bytes) __asm__("__imp_" #name)
#endif

extern "C" {
decltype(&CreateSemaphoreW) qor_imp_CreateSemaphoreW QOR_IMPORT_NAME(CreateSemaphoreW, 16) = AnsiCreateSemaphore;
decltype(&GetModuleHandleW) qor_imp_GetModuleHandleW QOR_IMPORT_NAME(GetModuleHandleW, 4) = AnsiGetModuleHandle;
decltype(&LoadLibraryW) qor_imp_LoadLibraryW QOR_IMPORT_NAME(LoadLibraryW, 4) = AnsiLoadLibrary;
}
