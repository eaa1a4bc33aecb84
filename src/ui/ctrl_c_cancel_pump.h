#pragma once

#include <functional>
#include <memory>

#include "process/event_pump.h"

namespace quillfen {

// Ctrl-C as the Cancel button, for the lifetime of the object; SIGTERM (systemctl stop, a
// shutdown) and SIGHUP (a closed terminal) likewise. The first such signal is only noted by
// the signal handler; the next processEvents presses Cancel with the signal's number, like a
// click that waited in the window's queue. A second one ends the process at once with the exit
// code of a cancelled run, after removing the temporary file of a download or copy under way
// and ending the live line on `lineFd` (-1: none) so the shell prompt starts on a line of its
// own. Other signals keep their usual meaning.
//
// It wraps the front end's own pump: posted tasks, watched sockets and the inner pass are the
// inner pump's. The handler also writes to a pipe the inner pump watches, so a signal is acted
// on in whatever loop runs, a modal message box's included.
// One instance at a time: the handler is process-wide.
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
  void watchWakePipe();

  EventPump& inner_;
  PressCancel pressCancel_;
  int handled_ = 0;  // interrupts already turned into a Cancel press
  int wakePipe_[2] = {-1, -1};
  std::unique_ptr<IoWatch> watch_;
};

}  // namespace quillfen
