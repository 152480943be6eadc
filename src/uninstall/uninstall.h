// The uninstall procedure, run by the switch /uninstall once the whole
// command line has been read.
#pragma once

namespace qor {

class SetupApp;

void RunUninstall(SetupApp& app);

}  // namespace qor
