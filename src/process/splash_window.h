#pragma once

#include <string>

namespace quillfen {

// frmSplash as the run drives it: the status line lblStatus, the bar ProgressBar1 and the
// cancel flag ckbCancel. Any access after unload() loads the window again, hidden, with the
// flag back at 0.
class SplashWindow {
 public:
  virtual ~SplashWindow() = default;

  virtual void load() = 0;  // creates the window hidden; the cancel flag reads 0 afterwards
  virtual void show() = 0;  // modeless, centred; returns at once
  virtual void hide() = 0;
  virtual void unload() = 0;

  virtual void setStatusCaption(const std::string& text) = 0;  // lblStatus.Caption
  virtual void setProgressMin(float value) = 0;                // ProgressBar1.Min
  virtual void setProgressMax(float value) = 0;                // ProgressBar1.Max
  virtual void setProgressValue(float value) = 0;              // ProgressBar1.Value
  virtual void setProgressVisible(bool visible) = 0;           // ProgressBar1.Visible
  virtual int cancelValue() = 0;                               // ckbCancel.Value: 1 = cancel
};

}  // namespace quillfen
