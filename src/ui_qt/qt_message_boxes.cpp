#include "ui_qt/qt_message_boxes.h"

#include <QApplication>
#include <QDialog>
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

void closeMessageBoxes() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(window);
    if (dialog != nullptr && dialog->isVisible()) dialog->reject();
  }
}

void QtMessageBoxes::information(const std::string& title, const std::string& text) {
  showModal(QMessageBox::Information, title, text);
}

void QtMessageBoxes::error(const std::string& title, const std::string& text) {
  showModal(QMessageBox::Critical, title, text);
}

}  // namespace quillfen
