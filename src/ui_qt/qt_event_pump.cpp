#include "ui_qt/qt_event_pump.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <map>
#include <memory>

namespace quillfen {

namespace {

class QtIoWatch final : public IoWatch {
 public:
  explicit QtIoWatch(IoHandlers handlers) : handlers_(std::move(handlers)) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (handlers_.timerExpired) handlers_.timerExpired();
    });
  }

  void watchSocket(int fd, bool forReading, bool forWriting) override {
    Notifiers& notifiers = sockets_[fd];
    setWatched(notifiers.read, fd, QSocketNotifier::Read, forReading);
    setWatched(notifiers.write, fd, QSocketNotifier::Write, forWriting);
    if (!forReading && !forWriting) sockets_.erase(fd);
  }
  void startTimer(std::chrono::milliseconds due) override { timer_.start(due); }
  void stopTimer() override { timer_.stop(); }

 private:
  struct Notifiers {
    std::unique_ptr<QSocketNotifier> read, write;
  };

  void setWatched(std::unique_ptr<QSocketNotifier>& notifier, int fd, QSocketNotifier::Type type,
                  bool watched) {
    if (!watched) {
      notifier.reset();
      return;
    }
    if (notifier) return;
    notifier = std::make_unique<QSocketNotifier>(fd, type);
    QObject::connect(notifier.get(), &QSocketNotifier::activated,
                     [this, fd, type](QSocketDescriptor, QSocketNotifier::Type) {
                       if (handlers_.socketReady) {
                         handlers_.socketReady(fd, type == QSocketNotifier::Read,
                                               type == QSocketNotifier::Write);
                       }
                     });
  }

  IoHandlers handlers_;
  std::map<int, Notifiers> sockets_;
  QTimer timer_;
};

}  // namespace

QtEventPump::QtEventPump() {
  waitLimit_.setSingleShot(true);
}

void QtEventPump::processEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Qt's own wait would also take posted tasks as handled and then wait for more; a pending task
// therefore means no wait at all.
void QtEventPump::processEventsWaiting(std::chrono::milliseconds most) {
  if (pendingTasks_ > 0) {
    processEvents();
    return;
  }
  waitLimit_.start(most);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  waitLimit_.stop();
}

void QtEventPump::post(std::function<void()> task) {
  ++pendingTasks_;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [this, task = std::move(task)] {
        --pendingTasks_;
        task();
      },
      Qt::QueuedConnection);
}

std::unique_ptr<IoWatch> QtEventPump::watchIo(IoHandlers handlers) {
  return std::make_unique<QtIoWatch>(std::move(handlers));
}

}  // namespace quillfen
