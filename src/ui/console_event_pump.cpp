#include "ui/console_event_pump.h"

namespace quillfen {

void ConsoleEventPump::processEvents() {
  std::deque<std::function<void()>> ready;
  ready.swap(pending_);
  for (auto& task : ready) task();
}

void ConsoleEventPump::post(std::function<void()> task) {
  pending_.push_back(std::move(task));
}

}  // namespace quillfen
