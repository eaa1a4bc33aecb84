#pragma once

#include <functional>
#include <string>

#include "process/cancel_flag.h"
#include "process/splash_window.h"

namespace quillfen {

class ConsoleStatusLine;

// frmSplash on a terminal: while the window is shown, the live line carries the status text
// and, once the bar is made visible, a text progress bar. When standard error is not a
// terminal the line is never drawn and nothing is printed. Ctrl-C stands in for the Cancel
// button (pressCancel); there is no close question, so the user never unloads this window.
class ConsoleSplashWindow final : public SplashWindow, public CancelFlag {
 public:
  explicit ConsoleSplashWindow(ConsoleStatusLine& line) : line_(line) {}

  void load() override;
  void show() override;
  void hide() override;
  void unload() override;

  void setStatusCaption(const std::string& text) override;
  void setProgressMin(float value) override;
  void setProgressMax(float value) override;
  void setProgressValue(float value) override;
  void setProgressVisible(bool visible) override;
  int cancelValue() override;

  bool isSet() override { return cancelValue() == 1; }
  void onSet(std::function<void()> reaction) override { cancelReaction_ = std::move(reaction); }

  // The Cancel button: flag 1 and "Aborting...". Does nothing unless the window is shown,
  // since only a visible button can be pressed.
  void pressCancel();

  // The text of the live line for the current state, whether or not it is drawn.
  std::string renderLine() const;

 private:
  struct State {
    int cancel = 0;
    std::string status = "Initializing...";
    float min = 0, max = 100, value = 0;
    bool barVisible = false;
  };

  void ensureLoaded();
  void redraw();

  ConsoleStatusLine& line_;
  bool loaded_ = false;
  bool shown_ = false;
  State state_;
  std::function<void()> cancelReaction_;
};

}  // namespace quillfen
