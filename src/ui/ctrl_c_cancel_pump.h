#pragma once

#include <functional>
#include <memory>

#include "process/event_pump.h"
#include "ui/interrupts.h"

namespace quillfen {

// Ctrl-C and the system's requests to stop as the Cancel button, for the lifetime of the object
// (InterruptHandler says which). The first is only noted by the handler; the next
// processEvents presses Cancel with the signal's number, like a click that waited in the
// window's queue. A second one ends the process at once.
//
// It wraps the front end's own pump: posted tasks, watched sockets and the inner pass are the
// inner pump's. The inner pump also watches the handler's wake socket, so an interrupt is acted
// on in whatever loop runs, a modal message box's included.
class CtrlCCancelPump final : public EventPump {
 public:
  using PressCancel = std::function<void(int signalNumber)>;
  CtrlCCancelPump(EventPump& inner, PressCancel pressCancel, int lineFd = -1);
  ~CtrlCCancelPump() override;
  CtrlCCancelPump(const CtrlCCancelPump&) = delete;
  CtrlCCancelPump& operator=(const CtrlCCancelPump&) = delete;

  void processEvents() override;
  void processEventsWaiting(std::chrono::milliseconds most) override;
  void post(std::function<void()> task) override;
  std::unique_ptr<IoWatch> watchIo(IoHandlers handlers) override;

 private:
  void pressCancelOnNewInterrupt();
  void watchWakeSocket();

  EventPump& inner_;
  PressCancel pressCancel_;
  InterruptHandler handler_;
  int handled_ = 0;  // interrupts already turned into a Cancel press
  std::unique_ptr<IoWatch> watch_;
};

}  // namespace quillfen
