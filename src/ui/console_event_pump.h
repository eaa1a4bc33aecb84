#pragma once

#include <deque>

#include "process/event_pump.h"

namespace quillfen {

// Window events without a window: the queue of posted tasks. A pass runs the tasks that were
// pending when it began; a task posted meanwhile waits for the next pass, so a component that
// keeps posting cannot hold the run inside one pass.
class ConsoleEventPump final : public EventPump {
 public:
  void processEvents() override;
  void post(std::function<void()> task) override;

 private:
  std::deque<std::function<void()>> pending_;
};

}  // namespace quillfen
