#include "ui/qt_event_pump.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quillfen {

void QtEventPump::processEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::post(std::function<void()> task) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

}  // namespace quillfen
