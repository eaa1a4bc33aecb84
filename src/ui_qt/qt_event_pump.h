#pragma once

#include <QTimer>

#include "process/event_pump.h"

namespace quillfen {

// Window events of the Qt front end: posted tasks are queued on the application object and run
// by Qt's event processing, in order, on the one thread; watched sockets and timers are socket
// notifiers and timers, so that every loop Qt runs (a modal box too) serves them.
class QtEventPump final : public EventPump {
 public:
  QtEventPump();

  void processEvents() override;
  void processEventsWaiting(std::chrono::milliseconds most) override;
  void post(std::function<void()> task) override;
  std::unique_ptr<IoWatch> watchIo(IoHandlers handlers) override;

 private:
  int pendingTasks_ = 0;
  QTimer waitLimit_;  // ends a wait on events that none arrives to end
};

}  // namespace quillfen
