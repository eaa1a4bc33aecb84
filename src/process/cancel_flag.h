#pragma once

#include <functional>

namespace quillfen {

// The user's request to stop the run (the window's Cancel button, Ctrl-C on a terminal). The
// stage checks and the per-file checks read it; work that must stop at once (a transfer)
// subscribes to the moment it is set.
class CancelFlag {
 public:
  virtual ~CancelFlag() = default;
  virtual bool isSet() = 0;
  // `reaction` runs, from event processing, each time the flag gets set; empty: none.
  virtual void onSet(std::function<void()> reaction) = 0;
};

}  // namespace quillfen
