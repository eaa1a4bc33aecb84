#include "ui_qt/qt_splash_window.h"

#include <QString>

namespace quillfen {

QtSplashWindow::QtSplashWindow(FrmSplash::CloseQuestion askToClose)
    : askToClose_(std::move(askToClose)) {}

QtSplashWindow::~QtSplashWindow() = default;

void QtSplashWindow::load() {
  loaded();
}

void QtSplashWindow::show() {
  loaded().showCentred();
}

void QtSplashWindow::hide() {
  loaded().hide();
}

void QtSplashWindow::unload() {
  form_.reset();
}

void QtSplashWindow::setStatusCaption(const std::string& text) {
  loaded().setStatus(QString::fromStdString(text));
}

void QtSplashWindow::setProgressMin(float value) {
  loaded().setProgressMin(value);
}

void QtSplashWindow::setProgressMax(float value) {
  loaded().setProgressMax(value);
}

void QtSplashWindow::setProgressValue(float value) {
  loaded().setProgressValue(value);
}

void QtSplashWindow::setProgressVisible(bool visible) {
  loaded().setProgressVisible(visible);
}

int QtSplashWindow::cancelValue() {
  return loaded().cancelValue();
}

void QtSplashWindow::pressCancel() {
  if (form_ && form_->isVisible()) form_->pressCancel();
}

FrmSplash& QtSplashWindow::loaded() {
  closed_.reset();
  if (!form_) {
    form_ = std::make_unique<FrmSplash>(askToClose_);
    QObject::connect(form_.get(), &FrmSplash::closeRequested, form_.get(), [this] { release(); });
    QObject::connect(form_.get(), &FrmSplash::cancelPressed, form_.get(), [this] {
      if (cancelReaction_) cancelReaction_();
    });
  }
  return *form_;
}

// The window asks to go from inside one of its own event handlers, so it cannot be destroyed
// here: it is let go at once, so that the next access loads a new one, and destroyed at that
// access, when its handler has long returned.
void QtSplashWindow::release() {
  closed_ = std::move(form_);
}

}  // namespace quillfen
