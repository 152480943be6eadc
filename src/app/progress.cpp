#include "app/progress.h"

namespace qor {

void OpenProgressWindow(SetupApp& app) {
  delete app.progressWindow;
  app.progressWindow = new ProgressWindow();
  if (!app.quietMode) app.progressWindow->Show();
}

void CloseProgressWindow(SetupApp& app) {
  delete app.progressWindow;
  app.progressWindow = nullptr;
}

}  // namespace qor
