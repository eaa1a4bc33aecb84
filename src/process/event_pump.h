#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace quillfen {

// The sockets and the timer of one component, watched by the front end's event loop: whatever
// loop runs (the run's own passes, a modal box, the close question) reports readiness and the
// timer's expiry to the component's handlers, on the one thread. Destroying it stops watching.
class IoWatch {
 public:
  virtual ~IoWatch() = default;
  // Watches `fd` for the given directions; neither direction stops watching it.
  virtual void watchSocket(int fd, bool forReading, bool forWriting) = 0;
  // (Re)starts the one timer of this watch; it fires once, `due` from now.
  virtual void startTimer(std::chrono::milliseconds due) = 0;
  virtual void stopTimer() = 0;
};

struct IoHandlers {
  std::function<void(int fd, bool readable, bool writable)> socketReady;
  std::function<void()> timerExpired;
};

// The front end's queue of pending window events. Everything runs on one thread: components
// that need to notify (the transfer control) post a task, and the task runs only when events
// are next processed.
class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs every pending event (posted tasks, clicks, key presses, ready sockets, due timers)
  // once, then returns without waiting.
  virtual void processEvents() = 0;
  // The same, after waiting until something is pending, but at most `most`: for a loop that
  // waits on events, so that it does not spin a core.
  virtual void processEventsWaiting(std::chrono::milliseconds most) = 0;
  // Queues `task` to run at the next pass.
  virtual void post(std::function<void()> task) = 0;
  // Starts watching sockets and a timer for one component.
  virtual std::unique_ptr<IoWatch> watchIo(IoHandlers handlers) = 0;
};

}  // namespace quillfen
