// Whether a folder path names the root folder of a drive or of a network
// share: the one kind of folder whose files the uninstall must never delete
// wholesale, since files of other programs and of the system lie there too.
#pragma once

#include <string_view>

namespace qor {

// True when path, once "." and ".." are resolved, names a root folder:
//
//   C:   C:\   c:/   \   C:\.   C:\Temp\..   C:\\\          a drive's root
//   \\server\share   \\server\share\   \\server   \\         a share's root
//   \\?\C:\   \\.\C:   \\?\UNC\server\share\                 the same, prefixed
//
// Slashes count as backslashes. A name made only of dots and spaces counts as
// no name at all (Windows drops trailing dots and spaces, so "C:\..." is C:\),
// and an empty path counts as a root: either might end up listing a root.
// A relative path ("Qor_Vex", "..\x") is judged by the names it holds; the
// caller gives a full path (GetFullPathNameA) to judge what it really names.
bool IsRootFolder(std::string_view path);

}  // namespace qor
