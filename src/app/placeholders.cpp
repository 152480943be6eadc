// Operations whose subsystems are not in the program yet. Each does nothing:
// an installation step it stands for has nothing to do.
// Its subsystem replaces it here when it lands.
#include "app/setup_app.h"
#include "install/restart_replace.h"

namespace qor {

// Replacing the setup program itself comes with the self-update.
bool UpdateSetupProgram(SetupApp&) { return true; }

}  // namespace qor
