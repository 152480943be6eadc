// Registry access by full key path.
//
// Every registry access of the setup program goes through these free
// functions. A key is named by one string, its full key path: a root prefix
// followed by the subkey path under that root, e.g.
//
//   HKEY_LOCAL_MACHINE\Software\Qor\Qor_Vex\Setup
//   `-- root prefix --'`------ subkey path -------'
//
// Three root prefixes are known, matched ignoring case, each with its
// backslash: "HKEY_LOCAL_MACHINE\" (19 characters), "HKEY_CURRENT_USER\" and
// "HKEY_CLASSES_ROOT\" (18 each). Nothing else is a root: not HKEY_USERS, not
// HKLM, not a root name without its backslash. The subkey path is taken as
// written; an empty one names the root key itself. The same strings are kept
// as value names in the record of script registry entries, so their text is
// persisted data.
//
// Nothing here shows a message. Every operation returns non-zero on success
// and 0 on failure; the caller decides. Keys opened for a change get
// KEY_ALL_ACCESS, keys opened only to be read KEY_READ. Keys are created
// non-volatile with an empty class and default security. A handle handed out
// belongs to the caller, who closes it, except that DeleteSubkeys closes the
// handle it is given. RegKey is the owner to hold such a handle in.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace qor {

// Owns one open HKEY and closes it when it goes. Predefined root keys may be
// held too; closing one is harmless.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY key) : key_(key) {}
  ~RegKey() { Close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(other.Release()) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  // Gives up ownership without closing.
  HKEY Release() {
    HKEY k = key_;
    key_ = nullptr;
    return k;
  }
  void Reset(HKEY key = nullptr) {
    Close();
    key_ = key;
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// Texts read from the registry fit in 260 bytes, the terminating zero
// included; a longer value cannot be read.
constexpr DWORD kRegistryTextBuffer = 260;
// Subkey names are enumerated into 1000 bytes.
constexpr DWORD kRegistryKeyNameBuffer = 1000;

// Recognises the root prefix at the start of path. On success sets root to
// the predefined key, moves path past the prefix (to the subkey path) and
// returns 1; otherwise returns 0 and changes neither.
int ParseRootKey(const char*& path, HKEY& root);

// Opens the key with full access; only when that fails creates it, with every
// missing key on the way, with full access. 0 when the root is not known or
// both fail; key is then left alone.
int OpenOrCreateKey(const char* fullPath, HKEY& key);
int OpenOrCreateKey(const std::string& fullPath, RegKey& key);

// Opens an existing key with KEY_READ; never creates one.
int OpenKeyForRead(const char* fullPath, HKEY& key);
int OpenKeyForRead(const std::string& fullPath, RegKey& key);

// Opens an existing key with full access, for a change; never creates one.
int OpenKeyForWrite(const char* fullPath, HKEY& key);
int OpenKeyForWrite(const std::string& fullPath, RegKey& key);

// REG_SZ: the text and its terminating zero. An empty name writes the key's
// default value.
int WriteStringValue(HKEY key, const char* name, const std::string& text);
// REG_DWORD: 4 bytes, little-endian.
int WriteDwordValue(HKEY key, const char* name, DWORD value);
// Opens or creates subkey (a path relative to root, not a full key path) with
// full access, writes REG_BINARY and closes the key. 1 only when both worked.
int WriteBinaryValue(HKEY root, const char* subkey, const char* name, const void* bytes, DWORD length);

// Reads a value of any type into 260 bytes and keeps the bytes up to the
// first zero byte. 0 when the value is missing or longer than 260 bytes.
int ReadValueText(HKEY key, const char* name, std::string& text);
// As ReadValueText, and also 0 when the value is not REG_SZ.
int ReadStringValue(HKEY key, const char* name, std::string& text);
// Reads value number index of key, of any type: its name into a buffer of
// nameBuffer bytes and its data into dataBuffer bytes, keeping the data up to
// the first zero byte. False past the last value, or when the name or the
// data does not fit its buffer (which ends a walk over the values there).
bool ReadIndexedValue(HKEY key, DWORD index, DWORD nameBuffer, DWORD dataBuffer, std::string& name, std::string& data);
// Reads a REG_DWORD of at most 4 bytes (a shorter one reads as its bytes with
// zeros above). 0 when missing, longer than 4 bytes or of another type.
int ReadDwordValue(HKEY key, const char* name, DWORD& value);

// Opens the key for writing (never creating it) and deletes the value.
// A missing key or value is no error.
void DeleteNamedValue(const char* fullPath, const char* name);

// Deletes the key and everything below it: DeleteSubkeys on the key, and only
// when every subkey went, the key itself. An unknown root or a key that does
// not open leaves everything as it is. A path that names a root key itself
// (nothing but backslashes after the prefix) is refused: a root key is never
// emptied.
void DeleteKeyTree(const char* fullPath);

// Deletes every subkey tree below key, then closes key. A subkey that cannot
// be deleted is skipped and the others still go; 1 only when all went.
int DeleteSubkeys(HKEY key);

// True when the subkey path after a root prefix names the root key itself:
// empty, or made only of backslashes.
bool IsRootOnlySubkey(const char* subkey);

}  // namespace qor
