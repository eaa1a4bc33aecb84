#include "ui/ctrl_c_cancel_pump.h"

namespace quillfen {

CtrlCCancelPump::CtrlCCancelPump(EventPump& inner, PressCancel pressCancel, int lineFd)
    : inner_(inner), pressCancel_(std::move(pressCancel)), handler_(lineFd) {
  watchWakeSocket();
}

CtrlCCancelPump::~CtrlCCancelPump() = default;

// Whatever loop the front end runs (a modal message box's own, too) serves the watched socket,
// so an interrupt presses Cancel there and then, not only at the run's next pass of events.
void CtrlCCancelPump::watchWakeSocket() {
  if (handler_.wakeSocket() < 0) return;
  watch_ = inner_.watchIo({[this](int, bool, bool) {
                             handler_.drainWakeSocket();
                             pressCancelOnNewInterrupt();
                           },
                           nullptr});
  watch_->watchSocket(handler_.wakeSocket(), true, false);
}

void CtrlCCancelPump::pressCancelOnNewInterrupt() {
  const InterruptCount counted = handler_.counted();
  if (counted.count > handled_) {
    handled_ = counted.count;
    if (pressCancel_) pressCancel_(counted.lastSignal);
  }
}
void CtrlCCancelPump::processEvents() {
  pressCancelOnNewInterrupt();
  inner_.processEvents();
}

void CtrlCCancelPump::processEventsWaiting(std::chrono::milliseconds most) {
  pressCancelOnNewInterrupt();
  inner_.processEventsWaiting(most);
  pressCancelOnNewInterrupt();
}

void CtrlCCancelPump::post(std::function<void()> task) {
  inner_.post(std::move(task));
}

std::unique_ptr<IoWatch> CtrlCCancelPump::watchIo(IoHandlers handlers) {
  return inner_.watchIo(std::move(handlers));
}

}  // namespace quillfen
