// The uninstall procedure, run by the switch /uninstall once the whole
// command line has been read: the product's files and folder, the shortcuts
// and registry entries its installation recorded, and its registry keys go;
// all interaction is through message boxes.
#pragma once

namespace qor {

class SetupApp;

// 1 when the removal ran to its end, 0 when the user cancelled. The folder
// removed is installPath as the command line left it (/inst=), else the
// recorded one, else, when there is no record and the user agrees, the
// program's own folder. A folder that is a drive's or a share's root keeps
// its files: the user is told, and the rest of the removal goes on.
int Uninstall(SetupApp& app);

}  // namespace qor
