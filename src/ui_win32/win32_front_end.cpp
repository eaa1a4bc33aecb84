#include "ui_win32/win32_front_end.h"

#include <iostream>

#include "process/system_log.h"
#include "ui/console_event_pump.h"
#include "ui/ctrl_c_cancel_pump.h"
#include "ui_win32/win32_message_boxes.h"
#include "ui_win32/win32_splash_window.h"

namespace quillfen {

namespace {

class Win32FrontEnd final : public FrontEnd {
 public:
  ~Win32FrontEnd() override { window_.unload(); }

  SplashWindow& splashWindow() override { return window_; }
  CancelFlag& cancelFlag() override { return window_; }
  MessageBoxes& messageBoxes() override { return messages_; }
  EventPump& eventPump() override { return pump_; }
  bool hasDisplay() const override { return true; }
  void showReport(const std::string& report) override { showReportOnTerminal(report); }

 private:
  HostSystemLog log_;
  Win32SplashWindow window_;
  Win32MessageBoxes messages_{std::cerr, log_};
  ConsoleEventPump queue_;
  CtrlCCancelPump pump_{queue_, [this](int signalNumber) {
                          noteCancellingSignal(signalNumber);
                          window_.pressCancel();
                        }};
};

}  // namespace

std::unique_ptr<FrontEnd> makeWin32FrontEnd() {
  return std::make_unique<Win32FrontEnd>();
}

}  // namespace quillfen
