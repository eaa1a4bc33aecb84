#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "process/event_pump.h"
#include "ui/console_event_pump.h"

namespace quillfen::test {

// The real pump, and after each of its passes what the user does at that moment.
struct UserAtThePump final : EventPump {
  void processEvents() override {
    real.processEvents();
    if (onProcess) onProcess();
  }
  void processEventsWaiting(std::chrono::milliseconds most) override {
    real.processEventsWaiting(most);
    if (onProcess) onProcess();
  }
  void post(std::function<void()> task) override { real.post(std::move(task)); }
  std::unique_ptr<IoWatch> watchIo(IoHandlers handlers) override {
    return real.watchIo(std::move(handlers));
  }
  ConsoleEventPump real;
  std::function<void()> onProcess;
};

}  // namespace quillfen::test
