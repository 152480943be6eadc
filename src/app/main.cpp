// Entry point of setup.exe: one application object does the whole run.
#include <windows.h>

#include "app/setup_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static qor::SetupApp app;
  return app.RunApplication();
}
