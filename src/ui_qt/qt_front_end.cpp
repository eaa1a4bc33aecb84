#include "ui_qt/qt_front_end.h"

#include <QApplication>
#include <QByteArray>
#include <QByteArrayList>

#include "ui/ctrl_c_cancel_pump.h"
#include "ui_qt/qt_event_pump.h"
#include "ui_qt/qt_message_boxes.h"
#include "ui_qt/qt_splash_window.h"

namespace quillfen {

namespace {

constexpr char kPlatformVariable[] = "QT_QPA_PLATFORM";
constexpr char kFallbackPlatform[] = "offscreen";

class QtFrontEnd final : public FrontEnd {
 public:
  explicit QtFrontEnd(std::unique_ptr<QApplication> application)
      : application_(std::move(application)) {
    // The run never enters the application's event loop; closing the last window must not
    // queue a quit that a later message box's loop would take for its own.
    QApplication::setQuitOnLastWindowClosed(false);
  }

  // The window goes before the application that it needs.
  ~QtFrontEnd() override { window_.unload(); }

  SplashWindow& splashWindow() override { return window_; }
  CancelFlag& cancelFlag() override { return window_; }
  MessageBoxes& messageBoxes() override { return messages_; }
  EventPump& eventPump() override { return pump_; }
  bool hasDisplay() const override { return true; }
  void showReport(const std::string& report) override { showReportOnTerminal(report); }

 private:
  std::unique_ptr<QApplication> application_;
  QtSplashWindow window_;
  QtMessageBoxes messages_;
  QtEventPump queue_;
  CtrlCCancelPump pump_{queue_, [this](int signalNumber) {
                          noteCancellingSignal(signalNumber);
                          window_.pressCancel();
                          closeMessageBoxes();
                        }};
};

bool namesPlatform(const QByteArray& platforms, const QByteArray& name) {
  for (const QByteArray& entry : platforms.split(';')) {
    if (entry.split(':').front().trimmed() == name) return true;
  }
  return false;
}

// What Qt would try by itself on this system: Wayland first when a Wayland display is named.
QByteArray nativePlatforms() {
  return qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? QByteArray("xcb")
                                                        : QByteArray("wayland;xcb");
}

void discardMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// Puts the environment variable back as it was, so that programs started later (the editor
// for Config.ini) see the user's own setting.
class PlatformVariableRestorer {
 public:
  PlatformVariableRestorer()
      : wasSet_(qEnvironmentVariableIsSet(kPlatformVariable)), value_(qgetenv(kPlatformVariable)) {}
  ~PlatformVariableRestorer() {
    if (wasSet_) {
      qputenv(kPlatformVariable, value_);
    } else {
      qunsetenv(kPlatformVariable);
    }
  }
  const QByteArray& value() const { return value_; }

 private:
  bool wasSet_;
  QByteArray value_;
};

}  // namespace

std::unique_ptr<FrontEnd> makeQtFrontEnd(int& argc, char** argv) {
  const PlatformVariableRestorer restorer;
  const QByteArray chosen = restorer.value().isEmpty() ? nativePlatforms() : restorer.value();
  const bool addsFallback = !namesPlatform(chosen, kFallbackPlatform);
  qputenv(kPlatformVariable, addsFallback ? chosen + ';' + kFallbackPlatform : chosen);

  const QtMessageHandler previous = qInstallMessageHandler(discardMessage);
  auto application = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(previous);

  if (addsFallback && QGuiApplication::platformName() == kFallbackPlatform) return nullptr;
  return std::make_unique<QtFrontEnd>(std::move(application));
}

}  // namespace quillfen
