#include "uninstall/root_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char* path;
  bool root;
  const char* note;
};

// Every spelling of a root that a record, /inst= or the program's own folder
// may bring, and the folders next to them that are not roots.
const Case kCases[] = {
    {"C:", true, "a drive alone"},
    {"C:\\", true, "a drive's root"},
    {"c:/", true, "slash, lower case"},
    {"A:\\", true, "the folder of a program run from a floppy"},
    {"C:\\\\\\", true, "backslashes doubled"},
    {"C:\\.", true, "the root's own entry"},
    {"C:\\Temp\\..", true, "back up to the root"},
    {"C:\\Temp\\..\\..\\", true, "above the root is the root"},
    {"C:\\...\\", true, "dots only: Windows drops trailing dots"},
    {"C:\\ \\", true, "a space only"},
    {"\\", true, "the current drive's root (a program path without a backslash)"},
    {"", true, "nothing at all"},
    {"\\\\server\\share", true, "a share"},
    {"\\\\server\\share\\", true, "a share's root"},
    {"//server/share/", true, "a share in slashes"},
    {"\\\\server\\share\\x\\..", true, "back up to the share"},
    {"\\\\server", true, "a server without a share"},
    {"\\\\", true, "two backslashes"},
    {"\\\\?\\C:\\", true, "a drive, long-path prefix"},
    {"\\\\.\\C:", true, "a drive, device prefix"},
    {"\\\\?\\UNC\\server\\share\\", true, "a share, long-path prefix"},
    {"\\\\?\\unc\\server\\share", true, "UNC in lower case"},
    {"C:\\Program Files\\Qor_Vex", false, "the default folder"},
    {"C:\\Program Files\\Qor_Vex\\", false, "the same with a backslash"},
    {"C:\\Qor", false, "one level down"},
    {"C:\\Qor.\\", false, "a name with a dot"},
    {"C:\\Qor\\..\\Inny", false, "another folder, through .."},
    {"A:\\Setup\\", false, "a folder on a floppy"},
    {"C:Qor", false, "a name on a drive's current folder"},
    {"\\\\server\\share\\Qor_Vex", false, "a folder on a share"},
    {"\\\\?\\C:\\Qor", false, "a folder, long-path prefix"},
    {"\\\\?\\UNC\\server\\share\\Qor", false, "a folder on a share, long-path prefix"},
    {"Qor_Vex", false, "a relative name"},
    {"\\Qor_Vex\\", false, "a folder of the current drive"},
    {"C:\\Zażółć", false, "a Polish name, bytes from 0x80 up"},
};

TEST(RootFolder, EverySpellingOfARootAndTheFoldersBesideThem) {
  for (const Case& c : kCases)
    EXPECT_EQ(qor::IsRootFolder(c.path), c.root) << "\"" << c.path << "\": " << c.note;
}

}  // namespace
