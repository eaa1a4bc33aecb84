// Renders the progress window at each stage of a run under Qt's offscreen platform and saves
// one PNG per stage into the folder given as the only argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "ui/qt_splash_window.h"

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
  window.setProgressMax(12);
  window.show();
  // The file, the status text (none: the Cancel button pressed) and the files fetched so far.
  const std::tuple<const char*, const char*, int> stages[] = {
      {"01-initializing", "Initializing...", 0},
      {"02-creating-folders", "Creating folders...", 0},
      {"03-downloading-files", "Downloading files...", 5},
      {"04-gathering-info", "Gathering info...", 12},
      {"05-deleting-expired", "Deleting expired...", 0},
      {"06-sending-notification", "Sending notification...", 0},
      {"07-complete", "Complete...", 0},
      {"08-aborting", nullptr, 0}};
  for (const auto& [file, status, fetched] : stages) {
    status ? window.setStatusCaption(status) : window.pressCancel();
    if (fetched > 0) {
      window.setProgressVisible(true);
      window.setProgressValue(fetched);
    }
    QApplication::processEvents();
    const QString path = folder.filePath(QString(file) + ".png");
    if (!window.form()->grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
