#include <cstdint>
#include <memory>

#include "common/trim.h"
#include "filestore/file_system.h"
#include "process/cancel_flag.h"
#include "process/event_pump.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

// The path and the names lose their spaces only: a tab there stays part of the name.
constexpr std::string_view kSpaces = " ";

}  // namespace

// The search yields plain files only, so "." and ".." never arrive here. The counter is 64 bits
// wide: a source of any size is copied.
void DownloadFromNetworkPath(RunModule& run, Services& services, const std::string& todaysFolder) {
  const std::unique_ptr<FileSystem> fileSystem = services.createFileSystem();
  const std::string sourceFolder = std::string(trimmed(run.Settings.NetworkPath, kSpaces)) + "/";
  const std::string destinationFolder = todaysFolder + "/";
  SplashWindow& window = services.frmSplash;

  std::uint64_t fileCounter = 1;
  fileSystem->searchPlainFiles(sourceFolder, [&](const std::string&) {
    ++fileCounter;
    return true;
  });
  window.setProgressMax(static_cast<float>(fileCounter));
  if (fileCounter == 1) {
    run.ActivityReport += kEmptySourceLine;
    run.TodaysBackupIncomplete = true;
  }

  fileCounter = 1;
  fileSystem->searchPlainFiles(sourceFolder, [&](const std::string& name) {
    if (services.cancel.isSet()) return false;
    fileSystem->copyFile(sourceFolder + std::string(trimmed(name, kSpaces)), destinationFolder,
                         true);
    ++fileCounter;
    window.setProgressValue(static_cast<float>(fileCounter));
    services.events.processEvents();
    return true;
  });
}

}  // namespace quillfen
