#pragma once

#include <functional>

namespace quillfen {

// The front end's queue of pending window events. Everything runs on one thread: components
// that need to notify (the transfer control) post a task, and the task runs only when the run
// next processes events.
class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs every pending event (posted tasks, clicks, key presses) once, then returns.
  virtual void processEvents() = 0;
  // Queues `task` to run at the next processEvents().
  virtual void post(std::function<void()> task) = 0;
};

}  // namespace quillfen
