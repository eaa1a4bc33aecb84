#pragma once

#include <QApplication>
#include <cstdlib>

namespace quillfen::test {

// The program's one QApplication, on Qt's offscreen platform. Made on first use, since the
// front-end choice's death tests make their own; never destroyed, as Qt must not be torn down
// among the program's static objects.
inline void ensureOffscreenApplication() {
  static int argc = 1;
  static char name[] = "ui_qt_tests";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (QApplication::instance() == nullptr) new QApplication(argc, argv);
}

}  // namespace quillfen::test
