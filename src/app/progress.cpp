#include "app/progress.h"

namespace qor {

ProgressWindowOwner::ProgressWindowOwner(SetupApp& app) : app_(app), window_(std::make_unique<ProgressWindow>()) {
  app_.progressWindow = window_.get();
  if (!app_.quietMode) window_->Show();
}

ProgressWindowOwner::~ProgressWindowOwner() {
  window_.reset();
  app_.progressWindow = nullptr;
}

}  // namespace qor
