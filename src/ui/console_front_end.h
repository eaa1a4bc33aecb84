#pragma once

#include <iosfwd>
#include <memory>

#include "ui/console_event_pump.h"
#include "ui/console_message_boxes.h"
#include "ui/console_splash_window.h"
#include "ui/console_status_line.h"
#include "ui/ctrl_c_cancel_pump.h"
#include "ui/front_end.h"

namespace quillfen {

// The front end without a display: the live line on standard error (only when it is a
// terminal), messages as lines on standard error, Ctrl-C as the Cancel button.
class ConsoleFrontEnd final : public FrontEnd {
 public:
  // `lineFd` is the descriptor behind `err`, for ending the live line when a second Ctrl-C
  // ends the process; -1 when there is none to end. `reportOut` gets the finished report: the
  // standard output when it is a terminal, otherwise nothing (null).
  ConsoleFrontEnd(std::ostream& err, bool isTerminal, int columns, int lineFd,
                  std::ostream* reportOut = nullptr);
  // A run that ended by an error never hid its window: the live line goes here at the latest,
  // so that the shell prompt does not start in the middle of it.
  ~ConsoleFrontEnd() override { window_.unload(); }
  ConsoleFrontEnd(const ConsoleFrontEnd&) = delete;
  ConsoleFrontEnd& operator=(const ConsoleFrontEnd&) = delete;
  static std::unique_ptr<ConsoleFrontEnd> onStandardError();

  SplashWindow& splashWindow() override { return window_; }
  CancelFlag& cancelFlag() override { return window_; }
  MessageBoxes& messageBoxes() override { return messages_; }
  // Where no one may read the console (no visible desktop), the messages go to `log` as well.
  void recordMessagesIn(SystemLog& log) { messages_.recordIn(log); }
  EventPump& eventPump() override { return pump_; }
  bool hasDisplay() const override { return false; }
  void showReport(const std::string& report) override;

 private:
  std::ostream* reportOut_;
  ConsoleStatusLine line_;
  ConsoleSplashWindow window_{line_};
  ConsoleMessageBoxes messages_{line_};
  ConsoleEventPump queue_;
  CtrlCCancelPump pump_;
};

}  // namespace quillfen
