// The cancel check of a copy loop that moves many small chunks.
//
// PollAbort takes a round trip to the window system (tens of microseconds
// under Wine), longer than moving a chunk from the cache. A CancelCheck makes
// it on its first call and then once kPollInterval milliseconds have passed,
// so that an Esc is answered at once as a user sees it (the checks cost well
// under 1% of the copy); in between it answers with the cancel flag as it
// stands. Windows 95's GetTickCount moves in 55 ms steps: there the check
// comes once per step.
#pragma once

#include <windows.h>

#include "app/setup_app.h"

namespace qor {

class CancelCheck {
 public:
  static constexpr DWORD kPollInterval = 10;

  explicit CancelCheck(SetupApp& app) : app_(app) {}
  // True once the user has asked to stop.
  bool Stopped() {
    const DWORD now = GetTickCount();
    if (!first_ && now - last_ < kPollInterval) return app_.abortRequested;
    first_ = false;
    last_ = now;
    return app_.PollAbort();
  }

 private:
  SetupApp& app_;
  bool first_ = true;
  DWORD last_ = 0;
};

}  // namespace qor
