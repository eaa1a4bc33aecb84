#pragma once

#include "process/event_pump.h"

namespace quillfen {

// Window events of the Qt front end: posted tasks are queued on the application object and run
// by QCoreApplication::processEvents, in order, on the one thread.
class QtEventPump final : public EventPump {
 public:
  void processEvents() override;
  void post(std::function<void()> task) override;
};

}  // namespace quillfen
