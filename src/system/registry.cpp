#include "system/registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "zip/little_endian.h"

namespace qor {
namespace {

struct RootPrefix {
  const char* text;
  std::size_t length;
  HKEY key;
};

// Tested in this order; each prefix includes its backslash.
const RootPrefix kRootPrefixes[] = {
    {"HKEY_LOCAL_MACHINE\\", 19, HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER\\", 18, HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT\\", 18, HKEY_CLASSES_ROOT},
};

bool SameIgnoringAsciiCase(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;  // also stops at the end of a shorter a
  }
  return true;
}

int CreateKey(HKEY root, const char* subkey, HKEY& key) {
  HKEY k = nullptr;
  DWORD disposition = 0;
  char noClass[] = "";
  if (RegCreateKeyExA(root, subkey, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &k,
                      &disposition) != ERROR_SUCCESS)
    return 0;
  key = k;
  return 1;
}

// Opens an existing key below root with the given access; never creates one.
int OpenExistingKey(HKEY root, const char* subkey, REGSAM access, HKEY& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, subkey, 0, access, &k) != ERROR_SUCCESS) return 0;
  key = k;
  return 1;
}

// The same by full key path.
int OpenExistingKey(const char* fullPath, REGSAM access, HKEY& key) {
  HKEY root;
  const char* subkey = fullPath;
  if (!ParseRootKey(subkey, root)) return 0;
  return OpenExistingKey(root, subkey, access, key);
}

int OpenExistingKey(const std::string& fullPath, REGSAM access, RegKey& key) {
  HKEY k;
  if (!OpenExistingKey(fullPath.c_str(), access, k)) return 0;
  key.Reset(k);
  return 1;
}

// Reads a value into the 260-byte text buffer; type receives its type.
int QueryText(HKEY key, const char* name, std::string& text, DWORD& type) {
  char buf[kRegistryTextBuffer];
  DWORD size = sizeof buf;
  type = REG_NONE;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
    return 0;
  if (size > sizeof buf) return 0;
  const void* zero = std::memchr(buf, 0, size);
  text.assign(buf, zero ? static_cast<const char*>(zero) - buf : size);
  return 1;
}

}  // namespace

int ParseRootKey(const char*& path, HKEY& root) {
  if (!path) return 0;
  for (const RootPrefix& p : kRootPrefixes) {
    if (SameIgnoringAsciiCase(path, p.text, p.length)) {
      root = p.key;
      path += p.length;
      return 1;
    }
  }
  return 0;
}

bool IsRootOnlySubkey(const char* subkey) {
  while (*subkey == '\\') ++subkey;
  return *subkey == '\0';
}

int OpenOrCreateKey(const char* fullPath, HKEY& key) {
  HKEY root;
  const char* subkey = fullPath;
  if (!ParseRootKey(subkey, root)) return 0;
  return OpenExistingKey(root, subkey, KEY_ALL_ACCESS, key) || CreateKey(root, subkey, key);
}

int OpenOrCreateKey(const std::string& fullPath, RegKey& key) {
  HKEY k;
  if (!OpenOrCreateKey(fullPath.c_str(), k)) return 0;
  key.Reset(k);
  return 1;
}

int OpenKeyForRead(const char* fullPath, HKEY& key) { return OpenExistingKey(fullPath, KEY_READ, key); }

int OpenKeyForRead(const std::string& fullPath, RegKey& key) { return OpenExistingKey(fullPath, KEY_READ, key); }

int OpenKeyForWrite(const char* fullPath, HKEY& key) { return OpenExistingKey(fullPath, KEY_ALL_ACCESS, key); }

int OpenKeyForWrite(const std::string& fullPath, RegKey& key) {
  return OpenExistingKey(fullPath, KEY_ALL_ACCESS, key);
}

int WriteStringValue(HKEY key, const char* name, const std::string& text) {
  // The stored text ends at its first zero byte, as it would from a C string.
  DWORD length = static_cast<DWORD>(std::strlen(text.c_str()) + 1);
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), length) ==
         ERROR_SUCCESS;
}

int WriteDwordValue(HKEY key, const char* name, DWORD value) {
  BYTE bytes[4];
  PutLe32(bytes, value);
  return RegSetValueExA(key, name, 0, REG_DWORD, bytes, sizeof bytes) == ERROR_SUCCESS;
}

int WriteBinaryValue(HKEY root, const char* subkey, const char* name, const void* bytes, DWORD length) {
  HKEY k;
  if (!CreateKey(root, subkey, k)) return 0;
  RegKey key(k);
  return RegSetValueExA(key.get(), name, 0, REG_BINARY, static_cast<const BYTE*>(bytes), length) ==
         ERROR_SUCCESS;
}

bool ReadIndexedValue(HKEY key, DWORD index, DWORD nameBuffer, DWORD dataBuffer, std::string& name, std::string& data) {
  std::vector<char> nameBytes(nameBuffer);
  std::vector<char> dataBytes(dataBuffer + 1);
  DWORD nameLength = nameBuffer;
  DWORD dataLength = dataBuffer;
  DWORD type = 0;
  if (RegEnumValueA(key, index, nameBytes.data(), &nameLength, nullptr, &type,
                    reinterpret_cast<BYTE*>(dataBytes.data()), &dataLength) != ERROR_SUCCESS)
    return false;
  dataBytes[dataLength] = '\0';
  name.assign(nameBytes.data(), nameLength);
  data = dataBytes.data();
  return true;
}

int ReadValueText(HKEY key, const char* name, std::string& text) {
  DWORD type;
  return QueryText(key, name, text, type);
}

int ReadStringValue(HKEY key, const char* name, std::string& text) {
  DWORD type;
  std::string t;
  if (!QueryText(key, name, t, type) || type != REG_SZ) return 0;
  text = t;
  return 1;
}

int ReadDwordValue(HKEY key, const char* name, DWORD& value) {
  BYTE bytes[4] = {};
  DWORD size = sizeof bytes;
  DWORD type = REG_NONE;
  if (RegQueryValueExA(key, name, nullptr, &type, bytes, &size) != ERROR_SUCCESS) return 0;
  if (type != REG_DWORD || size > sizeof bytes) return 0;
  value = Le32(bytes);
  return 1;
}

void DeleteNamedValue(const char* fullPath, const char* name) {
  HKEY k;
  if (!OpenKeyForWrite(fullPath, k)) return;
  RegKey key(k);
  RegDeleteValueA(key.get(), name);
}

int DeleteSubkeys(HKEY key) {
  RegKey owned(key);  // closed on return, whatever happens
  int result = 1;
  DWORD index = 0;
  std::string deletedAtIndex;  // name last deleted at this index
  for (;;) {
    char name[kRegistryKeyNameBuffer];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::string current(name, length < sizeof name ? length : sizeof name - 1);

    HKEY sub = nullptr;
    if (OpenExistingKey(key, current.c_str(), KEY_ALL_ACCESS, sub) && !DeleteSubkeys(sub)) result = 0;
    // A successful delete moves the next subkey into this index. Should the
    // same name show up here again all the same, the key did not really go:
    // count it as undeletable rather than try it forever.
    bool gone = RegDeleteKeyA(key, current.c_str()) == ERROR_SUCCESS;
    if (gone && current == deletedAtIndex) gone = false;
    if (gone) {
      deletedAtIndex = current;
    } else {
      result = 0;
      ++index;
      deletedAtIndex.clear();
    }
  }
  return result;
}

void DeleteKeyTree(const char* fullPath) {
  HKEY root;
  const char* subkey = fullPath;
  if (!ParseRootKey(subkey, root)) return;
  // A root key is never emptied, whatever a script or record asks.
  if (IsRootOnlySubkey(subkey)) return;
  HKEY k = nullptr;
  if (!OpenExistingKey(root, subkey, KEY_ALL_ACCESS, k)) return;
  if (DeleteSubkeys(k)) RegDeleteKeyA(root, subkey);
}

}  // namespace qor
