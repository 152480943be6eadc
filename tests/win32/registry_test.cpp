// The registry layer against the real registry. Every case works below a
// scratch key of the current user and removes it again.
#include <windows.h>

#include <string>

#include "check.h"
#include "registry_probe.h"
#include "system/registry.h"

namespace {

using namespace qor;

const char kScratch[] = "Software\\QorTest\\Registry";                  // under HKEY_CURRENT_USER
const char kScratchPath[] = "HKEY_CURRENT_USER\\Software\\QorTest\\Registry";  // the same, full

std::string Full(const char* below) { return std::string(kScratchPath) + "\\" + below; }
std::string Sub(const char* below) { return std::string(kScratch) + "\\" + below; }
bool Exists(const char* below) { return regprobe::KeyExists(HKEY_CURRENT_USER, Sub(below).c_str()); }

// A fresh, empty scratch key for one case; gone again afterwards.
struct Scratch {
  Scratch() {
    regprobe::RemoveTree(HKEY_CURRENT_USER, "Software\\QorTest");
    regprobe::CreateKey(HKEY_CURRENT_USER, kScratch);
  }
  ~Scratch() { regprobe::RemoveTree(HKEY_CURRENT_USER, "Software\\QorTest"); }
};

const char* RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_USERS) return "HKEY_USERS";
  return "(none)";
}

TEST_CASE(RegistryRootPrefixes) {
  struct Case {
    const char* path;
    HKEY root;         // nullptr: refused
    const char* rest;  // the subkey path after the prefix
  } cases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\Qor", HKEY_LOCAL_MACHINE, "Software\\Qor"},
      {"hkey_local_machine\\Software", HKEY_LOCAL_MACHINE, "Software"},
      {"HKEY_CURRENT_USER\\Software", HKEY_CURRENT_USER, "Software"},
      {"Hkey_Current_User\\Software", HKEY_CURRENT_USER, "Software"},
      {"HKEY_CLASSES_ROOT\\.txt", HKEY_CLASSES_ROOT, ".txt"},
      {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER, ""},
      {"HKEY_CURRENT_USER\\\\Software", HKEY_CURRENT_USER, "\\Software"},
      {"HKEY_CURRENT_USER\\Software\\Żółw", HKEY_CURRENT_USER, "Software\\Żółw"},
      {"HKEY_CURRENT_USER", nullptr, nullptr},
      {"HKEY_CURRENT_USERSoftware", nullptr, nullptr},
      {"HKEY_CURRENT_USER/Software", nullptr, nullptr},
      {"HKLM\\Software", nullptr, nullptr},
      {"HKCU\\Software", nullptr, nullptr},
      {"HKEY_USERS\\.DEFAULT", nullptr, nullptr},
      {"HKEY_CURRENT_CONFIG\\System", nullptr, nullptr},
      {" HKEY_CURRENT_USER\\Software", nullptr, nullptr},
      {"HKEY_LOCAL_MACHIN\\Software", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    const char* cursor = c.path;
    HKEY root = HKEY_USERS;  // a value the call must leave alone on failure
    int ok = ParseRootKey(cursor, root);
    if (c.root) {
      CHECK_EQ(ok, 1) << c.path;
      CHECK_EQ(std::string(RootName(root)), std::string(RootName(c.root))) << c.path;
      CHECK_EQ(std::string(cursor), std::string(c.rest)) << c.path;
    } else {
      CHECK_EQ(ok, 0) << c.path;
      CHECK(cursor == c.path) << c.path;
      CHECK(root == HKEY_USERS) << c.path;
    }
  }
}

TEST_CASE(RegistryRefusedRootsOpenAndCreateNothing) {
  Scratch scratch;
  const std::string refused[] = {
      "HKCU\\" + std::string(kScratch) + "\\abbrev",
      "HKEY_CURRENT_USER" + std::string(kScratch) + "\\glued",
      "HKEY_USERS\\.DEFAULT\\Software\\QorTest\\Registry\\users",
  };
  for (const std::string& path : refused) {
    HKEY key = nullptr;
    CHECK_EQ(OpenOrCreateKey(path.c_str(), key), 0) << path;
    CHECK(key == nullptr) << path;
    CHECK_EQ(OpenKeyForRead(path.c_str(), key), 0) << path;
  }
  CHECK(!Exists("abbrev"));
  CHECK(!regprobe::KeyExists(HKEY_USERS, ".DEFAULT\\Software\\QorTest"));
  CHECK(!regprobe::KeyExists(HKEY_CURRENT_USER, "Software\\QorTest\\Registry\\glued"));

  // A lower-case root is a root all the same.
  RegKey key;
  CHECK_EQ(OpenOrCreateKey("hkey_current_user\\" + Sub("lower"), key), 1);
  CHECK(Exists("lower"));
}

TEST_CASE(RegistryOpenOrCreateMakesTheChainAndLeavesExistingKeysAlone) {
  Scratch scratch;
  {
    RegKey key;
    CHECK_EQ(OpenOrCreateKey(Full("a\\b\\c"), key), 1);
    CHECK(Exists("a") && Exists("a\\b") && Exists("a\\b\\c"));
    CHECK_EQ(WriteStringValue(key.get(), "kept", "value"), 1);
    regprobe::CreateKey(HKEY_CURRENT_USER, Sub("a\\b\\c\\child").c_str());
  }
  {
    RegKey again;
    CHECK_EQ(OpenOrCreateKey(Full("a\\b\\c"), again), 1);
    std::string text;
    CHECK_EQ(ReadStringValue(again.get(), "kept", text), 1);
    CHECK_EQ(text, std::string("value"));
    CHECK(Exists("a\\b\\c\\child"));
  }
  // The key is opened with full access: values can be written and deleted.
  HKEY raw = nullptr;
  CHECK_EQ(OpenOrCreateKey(Full("a").c_str(), raw), 1);
  CHECK_EQ(WriteDwordValue(raw, "n", 5), 1);
  CHECK_EQ(RegDeleteValueA(raw, "n"), ERROR_SUCCESS);
  CHECK_EQ(RegCloseKey(raw), ERROR_SUCCESS);
}

TEST_CASE(RegistryOpenForReadNeverCreatesAndOnlyReads) {
  Scratch scratch;
  HKEY key = nullptr;
  CHECK_EQ(OpenKeyForRead(Full("missing\\deeper").c_str(), key), 0);
  CHECK(key == nullptr);
  CHECK(!Exists("missing"));

  regprobe::SetString(HKEY_CURRENT_USER, Sub("present").c_str(), "v", "text");
  RegKey reader;
  CHECK_EQ(OpenKeyForRead(Full("present"), reader), 1);
  std::string text;
  CHECK_EQ(ReadStringValue(reader.get(), "v", text), 1);
  CHECK_EQ(text, std::string("text"));
  CHECK_EQ(WriteStringValue(reader.get(), "w", "no"), 0);  // KEY_READ only
}

TEST_CASE(RegistryWrittenValuesHaveTheirExactBytes) {
  Scratch scratch;
  RegKey key;
  CHECK_EQ(OpenOrCreateKey(Full("values"), key), 1);
  const std::string sub = Sub("values");
  const char* k = sub.c_str();

  CHECK_EQ(WriteStringValue(key.get(), "text", "Zażółć"), 1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, k, "text"), regprobe::SzValue("Zażółć"));
  CHECK_EQ(WriteStringValue(key.get(), "", "default"), 1);  // the key's default value
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, k, nullptr), regprobe::SzValue("default"));
  CHECK_EQ(WriteStringValue(key.get(), "empty", ""), 1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, k, "empty"), std::string("1:00"));

  CHECK_EQ(WriteDwordValue(key.get(), "number", 0x12345678), 1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, k, "number"), std::string("4:78 56 34 12"));

  const unsigned char bytes[] = {0x55, 0x55, 0x55, 0x55, 0x81, 0x03, 0xE2, 0x40};
  CHECK_EQ(WriteBinaryValue(HKEY_CURRENT_USER, Sub("binary\\deep").c_str(), "date", bytes, sizeof bytes), 1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, Sub("binary\\deep").c_str(), "date"),
           regprobe::BinaryValue("55 55 55 55 81 03 E2 40"));
  // Into an existing key, over an existing value.
  CHECK_EQ(WriteBinaryValue(HKEY_CURRENT_USER, Sub("binary\\deep").c_str(), "date", bytes, 2), 1);
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, Sub("binary\\deep").c_str(), "date"), regprobe::BinaryValue("55 55"));
}

TEST_CASE(RegistryTextsLongerThan259CharactersCannotBeRead) {
  Scratch scratch;
  const std::string sub = Sub("long");
  struct Case {
    std::size_t length;
    int readable;
  } cases[] = {{0, 1}, {259, 1}, {260, 0}, {300, 0}};
  for (const Case& c : cases) {
    const std::string text(c.length, 'x');
    regprobe::SetString(HKEY_CURRENT_USER, sub.c_str(), "v", text);
    RegKey key;
    CHECK_EQ(OpenKeyForRead(Full("long"), key), 1);
    std::string a = "unset", b = "unset";
    const std::string label = std::to_string(c.length) + " characters";
    CHECK_EQ(ReadStringValue(key.get(), "v", a), c.readable) << label;
    CHECK_EQ(ReadValueText(key.get(), "v", b), c.readable) << label;
    if (c.readable) {
      CHECK_EQ(a, text) << label;
      CHECK_EQ(b, text) << label;
    }
  }
}

TEST_CASE(RegistryReadersCheckTheStoredType) {
  Scratch scratch;
  const std::string sub = Sub("types");
  const char* k = sub.c_str();
  regprobe::SetString(HKEY_CURRENT_USER, k, "sz", "12");
  regprobe::SetString(HKEY_CURRENT_USER, k, "expand", "%windir%\\x", REG_EXPAND_SZ);
  regprobe::SetDword(HKEY_CURRENT_USER, k, "dword", 0x00636261);  // bytes "abc", 0
  regprobe::SetValue(HKEY_CURRENT_USER, k, "binary", REG_BINARY, "ab\0cd", 5);
  regprobe::SetValue(HKEY_CURRENT_USER, k, "binary4", REG_BINARY, "\x01\0\0\0", 4);
  regprobe::SetValue(HKEY_CURRENT_USER, k, "dword8", REG_DWORD, "\x01\0\0\0\0\0\0\0", 8);
  regprobe::SetValue(HKEY_CURRENT_USER, k, "dword2", REG_DWORD, "\x07\x01", 2);
  regprobe::SetValue(HKEY_CURRENT_USER, k, "unterminated", REG_SZ, "abc", 3);

  struct Case {
    const char* name;
    int asString;  // ReadStringValue
    int asText;    // ReadValueText
    const char* text;
    int asDword;  // ReadDwordValue
    DWORD number;
  } cases[] = {
      {"sz", 1, 1, "12", 0, 0},
      {"expand", 0, 1, "%windir%\\x", 0, 0},
      {"dword", 0, 1, "abc", 1, 0x00636261},
      {"binary", 0, 1, "ab", 0, 0},
      {"binary4", 0, 1, "\x01", 0, 0},
      {"dword8", 0, 1, "\x01", 0, 0},   // longer than 4 bytes
      {"dword2", 0, 1, "\x07\x01", 1, 0x0107},  // shorter: the bytes there are, zeros above
      {"unterminated", 1, 1, "abc", 0, 0},
      {"missing", 0, 0, nullptr, 0, 0},
  };
  RegKey key;
  CHECK_EQ(OpenKeyForRead(Full("types"), key), 1);
  for (const Case& c : cases) {
    std::string s, t;
    DWORD n = 0xDEADBEEF;
    CHECK_EQ(ReadStringValue(key.get(), c.name, s), c.asString) << c.name;
    CHECK_EQ(ReadValueText(key.get(), c.name, t), c.asText) << c.name;
    CHECK_EQ(ReadDwordValue(key.get(), c.name, n), c.asDword) << c.name;
    if (c.asString) {
      CHECK_EQ(s, std::string(c.text)) << c.name;
    }
    if (c.asText) {
      CHECK_EQ(t, std::string(c.text)) << c.name;
    }
    if (c.asDword) {
      CHECK_EQ(n, c.number) << c.name;
    }
  }
}

// Builds below the scratch key:
//   tree\a\a1\x, tree\a\a2, tree\b\b1, tree\c   (each with a value)
void MakeThreeLevelTree(const char* top) {
  for (const char* below : {"a\\a1\\x", "a\\a2", "b\\b1", "c"}) {
    const std::string sub = Sub(top) + "\\" + below;
    regprobe::SetString(HKEY_CURRENT_USER, sub.c_str(), "v", below);
  }
  regprobe::SetString(HKEY_CURRENT_USER, Sub(top).c_str(), "top", "value");
}

// A key that cannot be opened with full access (its access list refuses
// writing values and making subkeys) and that holds a subkey, so it can
// neither be emptied nor deleted.
bool MakeLockedKey(const std::string& sub) {
  if (!regprobe::CreateKey(HKEY_CURRENT_USER, (sub + "\\inside").c_str())) return false;
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, WRITE_DAC, &k) != ERROR_SUCCESS) return false;
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  alignas(DWORD) char buffer[256];
  ACL* acl = reinterpret_cast<ACL*>(buffer);
  InitializeAcl(acl, sizeof buffer, ACL_REVISION);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  AddAccessDeniedAce(acl, ACL_REVISION, KEY_SET_VALUE | KEY_CREATE_SUB_KEY, everyone);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC | DELETE, everyone);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  LONG r = RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, &sd);
  RegCloseKey(k);
  FreeSid(everyone);
  HKEY probe;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, KEY_ALL_ACCESS, &probe) == ERROR_SUCCESS) {
    RegCloseKey(probe);
    return false;  // the access list is not enforced here
  }
  return r == ERROR_SUCCESS;
}

TEST_CASE(RegistryDeleteKeyTreeRemovesEveryLevel) {
  Scratch scratch;
  MakeThreeLevelTree("tree");
  regprobe::CreateKey(HKEY_CURRENT_USER, Sub("treeside").c_str());  // a sibling that must stay
  DeleteKeyTree(Full("tree").c_str());
  CHECK(!Exists("tree"));
  CHECK(Exists("treeside"));
  // Missing keys and unknown roots: nothing happens.
  DeleteKeyTree(Full("tree").c_str());
  DeleteKeyTree(("HKCU\\" + Sub("treeside")).c_str());
  CHECK(Exists("treeside"));
}

TEST_CASE(RegistryAnUndeletableKeyKeepsItsAncestorsAndOnlyThem) {
  Scratch scratch;
  MakeThreeLevelTree("tree");
  // Enumerated first, so every later subkey sits behind it.
  if (!MakeLockedKey(Sub("tree\\a\\0locked"))) {
    std::printf("note: this system does not enforce key access lists; undeletable key not tested\n");
    return;
  }
  DeleteKeyTree(Full("tree").c_str());
  CHECK(Exists("tree\\a\\0locked\\inside"));
  CHECK(Exists("tree\\a"));
  CHECK(Exists("tree"));
  CHECK(!Exists("tree\\a\\a1"));
  CHECK(!Exists("tree\\a\\a2"));
  CHECK(!Exists("tree\\b"));
  CHECK(!Exists("tree\\c"));
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, Sub("tree").c_str(), "top"), regprobe::SzValue("value"));

  // DeleteSubkeys says so, and closes the handle it was given.
  HKEY key;
  CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sub("tree").c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  CHECK_EQ(DeleteSubkeys(key), 0);
  CHECK_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_CASE(RegistryDeleteSubkeysEmptiesAKeyAndClosesIt) {
  Scratch scratch;
  MakeThreeLevelTree("tree");
  HKEY key;
  CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sub("tree").c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  CHECK_EQ(DeleteSubkeys(key), 1);
  CHECK_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  CHECK(Exists("tree"));
  CHECK(!Exists("tree\\a") && !Exists("tree\\b") && !Exists("tree\\c"));
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, Sub("tree").c_str(), "top"), regprobe::SzValue("value"));
}

TEST_CASE(RegistryARootKeyIsNeverEmptied) {
  Scratch scratch;
  regprobe::SetString(HKEY_CURRENT_USER, Sub("canary").c_str(), "v", "alive");
  const char* rootOnly[] = {"HKEY_CURRENT_USER\\", "hkey_current_user\\", "HKEY_CURRENT_USER\\\\",
                            "HKEY_CURRENT_USER\\\\\\"};
  for (const char* path : rootOnly) {
    const char* cursor = path;
    HKEY root;
    CHECK_EQ(ParseRootKey(cursor, root), 1) << path;
    // Only once the path is known to be refused does the real call run: a
    // failure here must not cost the test system its user registry.
    if (!IsRootOnlySubkey(cursor)) {
      CHECK(IsRootOnlySubkey(cursor)) << path;
      continue;
    }
    DeleteKeyTree(path);
    CHECK(regprobe::KeyExists(HKEY_CURRENT_USER, "Software")) << path;
    CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, Sub("canary").c_str(), "v"), regprobe::SzValue("alive")) << path;
  }
  CHECK(!IsRootOnlySubkey("Software"));
  CHECK(!IsRootOnlySubkey("\\Software"));
}

TEST_CASE(RegistryDeleteNamedValue) {
  Scratch scratch;
  DeleteNamedValue(Full("nokey\\deeper").c_str(), "v");
  CHECK(!Exists("nokey"));

  const std::string sub = Sub("named");
  regprobe::SetString(HKEY_CURRENT_USER, sub.c_str(), "gone", "1");
  regprobe::SetString(HKEY_CURRENT_USER, sub.c_str(), "stays", "2");
  DeleteNamedValue(Full("named").c_str(), "gone");
  DeleteNamedValue(Full("named").c_str(), "never there");
  DeleteNamedValue(("HKLM\\" + sub).c_str(), "stays");
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, sub.c_str(), "gone"), std::string("missing"));
  CHECK_EQ(regprobe::Value(HKEY_CURRENT_USER, sub.c_str(), "stays"), regprobe::SzValue("2"));
}

}  // namespace
