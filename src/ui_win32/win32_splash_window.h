#pragma once

#include <memory>

#include "process/cancel_flag.h"
#include "process/splash_window.h"
#include "ui_win32/frm_splash.h"

namespace quillfen {

// frmSplash as the run sees it: an object that lives for the whole run while the window
// itself may come and go. Any access after the window was unloaded (by the run, or by the
// user's Yes to the close question) loads a fresh, hidden window with the flag back at 0.
class Win32SplashWindow final : public SplashWindow, public CancelFlag {
 public:
  explicit Win32SplashWindow(FrmSplash::CloseQuestion askToClose = askToCloseWithMessageBox);
  ~Win32SplashWindow() override;

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

  // Ctrl-C from the console that started the window: the Cancel reaction, when a window is up
  // to receive it. Never loads one.
  void pressCancel();

  // The loaded window, or null while none is loaded.
  FrmSplash* form() const { return form_.get(); }

 private:
  FrmSplash& loaded();

  FrmSplash::CloseQuestion askToClose_;
  std::function<void()> cancelReaction_;
  std::unique_ptr<FrmSplash> form_;
  std::unique_ptr<FrmSplash> closed_;  // closed by the user, destroyed at the next access
};

}  // namespace quillfen
