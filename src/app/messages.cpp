#include "app/messages.h"

#include <windows.h>

#include "resources/resource.h"

namespace qor {

std::string ResourceString(unsigned id) {
  char buf[1024];
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

const std::string& AppTitle() {
  static const std::string title = ResourceString(IDS_APP_TITLE);
  return title;
}

int ShowMessage(const std::string& text, unsigned style) {
  // The program has no main window: a message box belongs to whichever of our
  // windows is active (the progress window while files are copied), so it
  // stays in front of it.
  return MessageBoxA(GetActiveWindow(), text.c_str(), AppTitle().c_str(), style);
}

}  // namespace qor
