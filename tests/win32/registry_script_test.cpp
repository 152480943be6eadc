// The [REGISTRY] section against the real registry: what a script writes,
// the record it leaves under the product key and the replay of that record.
// Every case works below scratch keys of the current user and removes them,
// the maker's keys and the record again.
#include <windows.h>

#include <string>

#include "app/setup_app.h"
#include "check.h"
#include "registry_probe.h"
#include "system/script_sections.h"

namespace {

using namespace qor;

const char kRecord[] = "Software\\Qor\\Qor_Vex\\Setup\\RegistryEntries";  // under HKEY_LOCAL_MACHINE
const char kSpecial[] = "Software\\Qor\\Qor_Vex\\Setup\\SpecialFiles";    // under HKEY_LOCAL_MACHINE

struct Scratch {
  Scratch() { Clean(); }
  ~Scratch() { Clean(); }
  static void Clean() {
    regprobe::RemoveTree(HKEY_CURRENT_USER, "Software\\QorTest");
    regprobe::RemoveTree(HKEY_CURRENT_USER, "Software\\Qor");
    regprobe::RemoveTree(HKEY_LOCAL_MACHINE, "Software\\Qor");
  }
};

void Load(SetupApp& app, const std::string& section) {
  app.fileTable.SetInstallPath("C:\\Program Files\\Qor_Vex");
  FileRecord setup;
  setup.role = "SetupProgram";
  setup.installedName = "setup.exe";
  FileRecord mail;
  mail.role = "MailScanner";
  mail.installedName = "qor_mail.exe";
  FileRecord plain;
  plain.installedName = "readme.txt";
  app.fileTable.Records() = {setup, plain, mail};
  app.script.SetText("[Version1]\r\n[REGISTRY]\r\n" + section + "[END]\r\n");
}

std::string Sz(HKEY root, const char* subkey, const char* name) { return regprobe::Value(root, subkey, name); }

const char kBlocks[] =
    "new,\"HKEY_CURRENT_USER\\Software\\QorTest\\New\"\r\n"
    "\"UninstallString\"=$\"SetupProgram\"\" /uninstall\"\r\n"
    "; a comment between value lines\r\n"
    "\"Flags\"=0x1F\r\n"
    "\"Negative\"= -5\r\n"
    "ADD,\"HKEY_CURRENT_USER\\Software\\QorTest\\Add\"\r\n"
    "\"A\"=\"1\"\r\n"
    "\"\"=\"default\"\r\n"
    "\"B\"=\"2\"\r\n"
    "ADD,\"HKEY_CURRENT_USER\\Software\\QorTest\\Bare\"\r\n"
    "\"C\"=\"3\"\r\n"
    "\"Word\"=word\r\n"
    "ADD,\"HKEY_CURRENT_USER\\Software\\QorTest\\Role\"\r\n"
    "\"D\"=\"4\"\r\n"
    "\"Missing\"=$\"NoSuchRole\"\r\n"
    "\"E\"=\"5\"\r\n"
    "NEW,\"HKEY_CURRENT_USER\\Software\\QorTest\\Later\"\r\n";

// Values, their types, the record texts (A;;B), the special-files record and
// the stop rules; a second run leaves the same keys and the same record.
TEST_CASE(RegistryScriptWritesAndRecordsItsBlocks) {
  Scratch scratch;
  for (int run = 0; run < 2; ++run) {
    SetupApp app;
    Load(app, kBlocks);
    CHECK_EQ(ApplyRegistryScript(app), 1);

    const char* k = "Software\\QorTest\\New";
    CHECK_EQ(Sz(HKEY_CURRENT_USER, k, "UninstallString"),
             regprobe::SzValue("C:\\Program Files\\Qor_Vex\\setup.exe /uninstall"));
    CHECK_EQ(Sz(HKEY_CURRENT_USER, k, "Flags"), regprobe::DwordValue(31));
    CHECK_EQ(Sz(HKEY_CURRENT_USER, k, "Negative"), regprobe::DwordValue(4294967291u));
    k = "Software\\QorTest\\Add";
    CHECK_EQ(Sz(HKEY_CURRENT_USER, k, "A"), regprobe::SzValue("1"));
    CHECK_EQ(Sz(HKEY_CURRENT_USER, k, ""), regprobe::SzValue("default"));
    CHECK_EQ(Sz(HKEY_CURRENT_USER, k, "B"), regprobe::SzValue("2"));
    CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Bare", "Word"), std::string("missing"));
    CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Role", "Missing"), std::string("missing"));
    // The failed role reference ends its block; the value line after it is
    // no key line, so the section stops there.
    CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Role", "E"), std::string("missing"));
    CHECK(!regprobe::KeyExists(HKEY_CURRENT_USER, "Software\\QorTest\\Later"));

    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\Software\\QorTest\\New"), regprobe::SzValue("*"));
    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\Software\\QorTest\\Add"), regprobe::SzValue("A;;B"));
    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\Software\\QorTest\\Bare"),
             regprobe::SzValue("C;Word"));
    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\Software\\QorTest\\Role"),
             regprobe::SzValue("D;Missing"));

    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kSpecial, "SetupProgram"),
             regprobe::SzValue("C:\\Program Files\\Qor_Vex\\setup.exe"));
    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kSpecial, "MailScanner"),
             regprobe::SzValue("C:\\Program Files\\Qor_Vex\\Qor_Mail.exe"));
    CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kSpecial, ""), std::string("missing"));
    CHECK(regprobe::KeyExists(HKEY_CURRENT_USER, "Software\\Qor\\Qor_Vex\\Setup"));
  }

  // A user's value in the ADD key stays; the default value is never removed
  // on its own, and the names after it are not either (A only).
  regprobe::SetString(HKEY_CURRENT_USER, "Software\\QorTest\\Add", "Mine", "kept");
  SetupApp app;
  CHECK_EQ(RemoveRecordedRegistryEntries(app), 1);
  CHECK(!regprobe::KeyExists(HKEY_CURRENT_USER, "Software\\QorTest\\New"));
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Add", "A"), std::string("missing"));
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Add", ""), regprobe::SzValue("default"));
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Add", "B"), regprobe::SzValue("2"));
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Add", "Mine"), regprobe::SzValue("kept"));
  // The record itself stays; a replay of keys that are gone passes them over.
  CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\Software\\QorTest\\New"), regprobe::SzValue("*"));
  CHECK_EQ(RemoveRecordedRegistryEntries(app), 1);
}

// No record key: nothing to replay. No section: the special-files record and
// the per-user key are still made.
TEST_CASE(RegistryScriptWithoutSectionOrRecord) {
  Scratch scratch;
  SetupApp app;
  CHECK_EQ(RemoveRecordedRegistryEntries(app), 0);
  Load(app, "");
  app.script.SetText("[Version1]\r\n[FILES]\r\n[END]\r\n");
  CHECK_EQ(ApplyRegistryScript(app), 1);
  CHECK(regprobe::KeyExists(HKEY_CURRENT_USER, "Software\\Qor\\Qor_Vex\\Setup"));
  CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kSpecial, "SetupProgram"),
           regprobe::SzValue("C:\\Program Files\\Qor_Vex\\setup.exe"));
  CHECK(!regprobe::KeyExists(HKEY_LOCAL_MACHINE, kRecord));
}

// A key path that is only a root prefix is never written nor recorded, and a
// record naming one (written by hand or by an older program) is not replayed:
// no replay empties a root key.
TEST_CASE(RegistryScriptRefusesRootOnlyKeyPaths) {
  Scratch scratch;
  regprobe::SetString(HKEY_CURRENT_USER, "Software\\QorTest\\Sentinel", "S", "here");
  regprobe::SetString(HKEY_CURRENT_USER, "", "QorTestRootValue", "here");
  SetupApp app;
  Load(app,
       "NEW,\"HKEY_CURRENT_USER\\\"\r\n"
       "\"QorTestWritten\"=\"no\"\r\n"
       "ADD,\"HKEY_CURRENT_USER\\Software\\QorTest\\After\"\r\n"
       "\"X\"=\"1\"\r\n");
  CHECK_EQ(ApplyRegistryScript(app), 1);
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "", "QorTestWritten"), std::string("missing"));
  CHECK_EQ(Sz(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\"), std::string("missing"));

  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\", "*");
  regprobe::SetString(HKEY_LOCAL_MACHINE, kRecord, "HKEY_CURRENT_USER\\\\", "QorTestRootValue");
  CHECK_EQ(RemoveRecordedRegistryEntries(app), 1);
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "Software\\QorTest\\Sentinel", "S"), regprobe::SzValue("here"));
  CHECK_EQ(Sz(HKEY_CURRENT_USER, "", "QorTestRootValue"), regprobe::SzValue("here"));
  HKEY root;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_ALL_ACCESS, &root) == ERROR_SUCCESS) {
    RegDeleteValueA(root, "QorTestRootValue");
    RegCloseKey(root);
  }
}

}  // namespace
