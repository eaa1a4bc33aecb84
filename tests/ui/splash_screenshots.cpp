// Renders the progress window at each stage of a run under Qt's offscreen platform and saves
// one PNG per stage into the folder given as the only argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ui/qt_splash_window.h"

namespace {

struct Stage {
  const char* file;
  std::function<void(quillfen::QtSplashWindow&)> apply;
};

std::vector<Stage> stages() {
  using quillfen::QtSplashWindow;
  return {
      {"01-initializing", [](QtSplashWindow&) {}},
      {"02-creating-folders", [](QtSplashWindow& w) { w.setStatusCaption("Creating folders..."); }},
      {"03-downloading-files",
       [](QtSplashWindow& w) {
         w.setStatusCaption("Downloading files...");
         w.setProgressVisible(true);
         w.setProgressMax(12);
         w.setProgressValue(5);
       }},
      {"04-gathering-info",
       [](QtSplashWindow& w) {
         w.setProgressValue(12);
         w.setStatusCaption("Gathering info...");
       }},
      {"05-deleting-expired", [](QtSplashWindow& w) { w.setStatusCaption("Deleting expired..."); }},
      {"06-sending-notification",
       [](QtSplashWindow& w) { w.setStatusCaption("Sending notification..."); }},
      {"07-complete", [](QtSplashWindow& w) { w.setStatusCaption("Complete..."); }},
      {"08-aborting", [](QtSplashWindow& w) { w.pressCancel(); }},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) return 1;

  quillfen::QtSplashWindow window([](QWidget&) { return false; });
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(100);
  window.show();
  for (const Stage& stage : stages()) {
    stage.apply(window);
    QApplication::processEvents();
    const QString path = folder.filePath(QString(stage.file) + ".png");
    if (!window.form()->grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
