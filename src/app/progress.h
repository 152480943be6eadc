// The progress window as the working code sees it: the operations act on the
// window while the engine has one open and do nothing otherwise (for example
// while setup.dat is read before the window exists).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/progress_window.h"
#include "app/setup_app.h"

namespace qor {

// The owner of the progress window while the engine works: creates it, shows
// it unless the run is quiet and makes it the app's progressWindow; when the
// owner goes, the window is destroyed and progressWindow cleared, whatever
// the outcome of the work.
class ProgressWindowOwner {
 public:
  explicit ProgressWindowOwner(SetupApp& app);
  ~ProgressWindowOwner();
  ProgressWindowOwner(const ProgressWindowOwner&) = delete;
  ProgressWindowOwner& operator=(const ProgressWindowOwner&) = delete;

 private:
  SetupApp& app_;
  std::unique_ptr<ProgressWindow> window_;
};

inline void ProgressLines(SetupApp& app, std::int32_t total, const std::string& source, const std::string& target) {
  if (ProgressWindow* w = app.progressWindow) {
    w->SetTotal(total);
    w->SetSourceLine(source);
    w->SetTargetLine(target);
  }
}
inline void ProgressOperation(SetupApp& app, const char* operation) {
  if (app.progressWindow) app.progressWindow->SetOperation(operation);
}
inline void ProgressTotal(SetupApp& app, std::int32_t total) {
  if (app.progressWindow) app.progressWindow->SetTotal(total);
}
inline void ProgressPosition(SetupApp& app, std::int32_t amount) {
  if (app.progressWindow) app.progressWindow->SetPosition(amount);
}

}  // namespace qor
