#pragma once

#include <memory>
#include <string>

namespace quillfen {

class CancelFlag;
class EventPump;
class MessageBoxes;
class SplashWindow;

// What the user sees of a run: the progress window, the message boxes and the event pump that
// carries both, either as Qt widgets on a display or on the console.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  virtual SplashWindow& splashWindow() = 0;
  virtual CancelFlag& cancelFlag() = 0;  // the window's ckbCancel
  virtual MessageBoxes& messageBoxes() = 0;
  virtual EventPump& eventPump() = 0;
  // True for the window front end: the places that differ by display (opening Config.ini for
  // editing, for one) ask this.
  virtual bool hasDisplay() const = 0;
  // Prints the finished report for a user watching a terminal; does nothing otherwise.
  virtual void showReport(const std::string& report) = 0;
  // The first signal that pressed Cancel, 0 when none did. A run may still complete after it
  // (the signal came while the report was being mailed), so what it did is told at the end.
  int cancellingSignal() const { return cancellingSignal_; }

 protected:
  void noteCancellingSignal(int signalNumber) {
    if (cancellingSignal_ == 0) cancellingSignal_ = signalNumber;
  }

 private:
  int cancellingSignal_ = 0;
};

// The user's request in QUILLFEN_UI: "console" or "gui" (any case) force a front end; unset,
// empty or anything else leaves the choice to the display.
enum class FrontEndRequest { Automatic, Console, Gui };
FrontEndRequest frontEndRequest(const char* quillfenUi);

// Whether the environment names a display worth trying (DISPLAY or WAYLAND_DISPLAY non-empty).
bool displayNamed(const char* display, const char* waylandDisplay);

// Tells the user who asked for the window why the console is used instead.
void warnWindowUnavailable(const char* why);

// What a window's front end does with the report: a window shows none, so it goes to standard
// output when that is a terminal (the user started the program from one) and nowhere else.
void showReportOnTerminal(const std::string& report);

}  // namespace quillfen
