// Registry helpers for the tests: they look at and prepare keys with the
// plain system calls, independently of the layer under test.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace regprobe {

inline bool KeyExists(HKEY root, const char* subkey) {
  HKEY k;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// Removes subkey of root with everything below it. Clears any access list a
// test put on a key first, so a locked key goes too.
inline void RemoveTree(HKEY root, const char* subkey) {
  HKEY k;
  if (RegOpenKeyExA(root, subkey, 0, WRITE_DAC, &k) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);  // no access list: everyone may do everything
    RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, &sd);
    RegCloseKey(k);
  }
  if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
  for (;;) {
    char name[1024];
    DWORD n = sizeof name;
    if (RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::string child = std::string(subkey) + "\\" + name;
    RemoveTree(root, child.c_str());
    if (KeyExists(root, child.c_str())) break;  // would loop forever
  }
  RegCloseKey(k);
  RegDeleteKeyA(root, subkey);
}

inline bool CreateKey(HKEY root, const char* subkey) {
  HKEY k;
  if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(k);
  return true;
}

inline bool SetValue(HKEY root, const char* subkey, const char* name, DWORD type, const void* data, DWORD size) {
  HKEY k;
  if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(k);
  return ok;
}

inline bool SetString(HKEY root, const char* subkey, const char* name, const std::string& text,
                      DWORD type = REG_SZ) {
  return SetValue(root, subkey, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

inline bool SetDword(HKEY root, const char* subkey, const char* name, DWORD value) {
  return SetValue(root, subkey, name, REG_DWORD, &value, sizeof value);
}

// A stored value as "TYPE:hex bytes" (e.g. "4:01 00 00 00"), or "missing".
inline std::string Value(HKEY root, const char* subkey, const char* name) {
  HKEY k;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &k) != ERROR_SUCCESS) return "missing";
  BYTE data[2048];
  DWORD size = sizeof data, type = 0;
  LONG r = RegQueryValueExA(k, name, nullptr, &type, data, &size);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS) return "missing";
  std::string s = std::to_string(type) + ":";
  char b[4];
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
    s += b;
  }
  return s;
}

// What Value shows for a REG_SZ text, a REG_DWORD and REG_BINARY bytes.
inline std::string SzValue(const std::string& text) {
  std::string s = "1:";
  char b[4];
  for (std::size_t i = 0; i <= text.size(); ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", static_cast<unsigned char>(text.c_str()[i]));
    s += b;
  }
  return s;
}
inline std::string DwordValue(DWORD v) {
  char b[32];
  std::snprintf(b, sizeof b, "4:%02X %02X %02X %02X", static_cast<unsigned>(v & 0xFF),
                static_cast<unsigned>(v >> 8 & 0xFF), static_cast<unsigned>(v >> 16 & 0xFF),
                static_cast<unsigned>(v >> 24));
  return b;
}
inline std::string BinaryValue(const char* hex) { return std::string("3:") + hex; }

}  // namespace regprobe
