#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "process/event_pump.h"

namespace quillfen {

// Window events without a window: the queue of posted tasks, and the sockets and timers of
// the components, watched with waitForSockets(). A pass handles the ready sockets, then the due
// timers, then the tasks that were pending when it began; a task posted meanwhile waits for the
// next pass, so a component that keeps posting cannot hold the run inside one pass.
class ConsoleEventPump final : public EventPump {
 public:
  ConsoleEventPump() = default;
  ConsoleEventPump(const ConsoleEventPump&) = delete;
  ConsoleEventPump& operator=(const ConsoleEventPump&) = delete;

  void processEvents() override;
  void processEventsWaiting(std::chrono::milliseconds most) override;
  void post(std::function<void()> task) override;
  std::unique_ptr<IoWatch> watchIo(IoHandlers handlers) override;

 private:
  class Watch;
  using Clock = std::chrono::steady_clock;

  void pass(std::chrono::milliseconds most);
  std::chrono::milliseconds waitLimit(std::chrono::milliseconds most) const;
  void handleReadySockets(std::chrono::milliseconds wait);
  void handleDueTimers();
  void runPostedTasks();

  std::deque<std::function<void()>> pending_;
  std::vector<Watch*> watches_;
};

}  // namespace quillfen
