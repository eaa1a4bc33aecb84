// Renders the progress window at each stage of a run under Qt's offscreen platform and saves
// one PNG per stage into the folder given as the only argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "splash_stages.h"
#include "ui_qt/qt_splash_window.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  const QDir folder(argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString());
  if (argc != 2 || !folder.mkpath(".")) {
    std::fprintf(stderr, "usage: %s <output folder that can be made>\n", argv[0]);
    return 2;
  }
  quillfen::QtSplashWindow window([](QWidget&) { return false; });
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(12);
  window.show();
  for (const splash_stages::Stage& stage : splash_stages::kStages) {
    splash_stages::enter(window, stage);
    QApplication::processEvents();
    const QString path = folder.filePath(QString(stage.file) + ".png");
    if (!window.form()->grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
