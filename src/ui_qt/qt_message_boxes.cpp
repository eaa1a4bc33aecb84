#include "ui_qt/qt_message_boxes.h"

#include <QMessageBox>
#include <QString>

namespace quillfen {

namespace {

void showModal(QMessageBox::Icon icon, const std::string& title, const std::string& text) {
  QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace

void QtMessageBoxes::information(const std::string& title, const std::string& text) {
  showModal(QMessageBox::Information, title, text);
}

void QtMessageBoxes::error(const std::string& title, const std::string& text) {
  showModal(QMessageBox::Critical, title, text);
}

}  // namespace quillfen
