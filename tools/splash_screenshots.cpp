// Renders the progress window at each stage of a run under Qt's offscreen platform and saves
// one PNG per stage into the folder given as the only argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

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
  // The file and the status text (none: the Cancel button pressed); the bar from the fetch on.
  const std::pair<const char*, const char*> stages[] = {
      {"01-initializing", "Initializing..."},
      {"02-creating-folders", "Creating folders..."},
      {"03-downloading-files", "Downloading files..."},
      {"04-gathering-info", "Gathering info..."},
      {"05-deleting-expired", "Deleting expired..."},
      {"06-sending-notification", "Sending notification..."},
      {"07-complete", "Complete..."},
      {"08-aborting", nullptr}};
  for (const auto& [file, status] : stages) {
    status ? window.setStatusCaption(status) : window.pressCancel();
    if (file[1] == '3') window.setProgressVisible(true);
    window.setProgressValue(file[1] == '3' ? 5 : 12);
    QApplication::processEvents();
    const QString path = folder.filePath(QString(file) + ".png");
    if (!window.form()->grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
