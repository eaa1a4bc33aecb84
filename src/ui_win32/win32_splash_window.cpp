#include "ui_win32/win32_splash_window.h"

namespace quillfen {

Win32SplashWindow::Win32SplashWindow(FrmSplash::CloseQuestion askToClose)
    : askToClose_(std::move(askToClose)) {}

Win32SplashWindow::~Win32SplashWindow() = default;

void Win32SplashWindow::load() {
  loaded();
}

void Win32SplashWindow::show() {
  loaded().showCentred();
}

void Win32SplashWindow::hide() {
  loaded().hide();
}

void Win32SplashWindow::unload() {
  form_.reset();
  closed_.reset();
}

void Win32SplashWindow::setStatusCaption(const std::string& text) {
  loaded().setStatus(text);
}

void Win32SplashWindow::setProgressMin(float value) {
  loaded().setProgressMin(value);
}

void Win32SplashWindow::setProgressMax(float value) {
  loaded().setProgressMax(value);
}

void Win32SplashWindow::setProgressValue(float value) {
  loaded().setProgressValue(value);
}

void Win32SplashWindow::setProgressVisible(bool visible) {
  loaded().setProgressVisible(visible);
}

int Win32SplashWindow::cancelValue() {
  return loaded().cancelValue();
}

void Win32SplashWindow::pressCancel() {
  if (form_ && form_->isVisible()) form_->pressCancel();
}

// The window asks to go from inside one of its own message handlers, so it cannot be
// destroyed there: it is let go at once, so that the next access loads a new one, and
// destroyed at that access, when its handler has long returned.
FrmSplash& Win32SplashWindow::loaded() {
  closed_.reset();
  if (!form_) {
    form_ = std::make_unique<FrmSplash>(
        askToClose_, [this] { closed_ = std::move(form_); },
        [this] {
          if (cancelReaction_) cancelReaction_();
        });
  }
  return *form_;
}

}  // namespace quillfen
