// The [Rename] section of WinInit.ini as Windows 95/98 reads it at start-up.
// Wine accepts every delayed move, so the WinInit.ini editing is driven
// directly on a scratch file.
#include "install/restart_replace.h"

#include <windows.h>

#include <string>

#include "check.h"
#include "temp_dir.h"

namespace {

std::string ShortName(const std::string& path) {
  char buf[MAX_PATH];
  DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

}  // namespace

TEST_CASE(WinInitRenameLinesGoFirstUnderTheHeader) {
  qortest::TempDir dir;
  const std::string ini = dir / "WinInit.ini";
  const std::string target = dir / "LONGFILENAME.EXE";
  const std::string fresh = target + "(new)";
  REQUIRE(dir.Write(target, "old") && dir.Write(fresh, "new"));
  const std::string line = ShortName(target) + "=" + ShortName(fresh) + "\r\n";
  REQUIRE(ShortName(target) != target) << "the long name needs a short form to show the difference";

  // An empty (here: missing) file gets the header and the one line.
  REQUIRE(qor::AddWinInitRename(ini.c_str(), fresh.c_str(), target.c_str()));
  CHECK_EQ(qortest::TempDir::Read(ini), "[Rename]\r\n" + line);

  // A deletion request names NUL on the left; the newest line stands first.
  REQUIRE(qor::AddWinInitRename(ini.c_str(), fresh.c_str(), nullptr));
  CHECK_EQ(qortest::TempDir::Read(ini), "[Rename]\r\nNUL=" + ShortName(fresh) + "\r\n" + line);
}

TEST_CASE(WinInitRenameHeaderIsMatchedInItsOwnCase) {
  qortest::TempDir dir;
  const std::string ini = dir / "WinInit.ini";
  const std::string fresh = dir / "a.new";
  REQUIRE(dir.Write(fresh, "x"));
  // Other sections stay, a lower-case header is another section, and a text
  // without a final line break is continued as it stands.
  const std::string before = "[Misc]\r\nA=1\r\n[rename]\r\nB=C";
  REQUIRE(dir.Write(ini, before));
  REQUIRE(qor::AddWinInitRename(ini.c_str(), fresh.c_str(), nullptr));
  CHECK_EQ(qortest::TempDir::Read(ini), before + "[Rename]\r\nNUL=" + ShortName(fresh) + "\r\n");
}

TEST_CASE(WinInitRenameTargetThatDoesNotExistYet) {
  // The target is made for a moment so that it has a short name, and is gone
  // again afterwards.
  qortest::TempDir dir;
  const std::string ini = dir / "WinInit.ini";
  const std::string fresh = dir / "NEWVERSIONFILE.DLL";
  const std::string target = dir / "NOTYETTHERE.DLL";
  REQUIRE(dir.Write(fresh, "x"));
  REQUIRE(qor::AddWinInitRename(ini.c_str(), fresh.c_str(), target.c_str()));
  CHECK_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES) << "the stand-in target was not deleted";
  const std::string text = qortest::TempDir::Read(ini);
  const std::string right = "=" + ShortName(fresh) + "\r\n";
  REQUIRE(text.size() > 10 + right.size());
  CHECK_EQ(text.substr(0, 10), "[Rename]\r\n");
  CHECK_EQ(text.substr(text.size() - right.size()), right);
  const std::string left = text.substr(10, text.size() - 10 - right.size());
  CHECK(left != target && left.find('~') != std::string::npos) << "left side: " << left;
}
