#include <cstdint>
#include <memory>

#include "filestore/file_system.h"
#include "process/cancel_flag.h"
#include "process/event_pump.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

std::string trimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

// The search yields plain files only, so "." and ".." never arrive here. The counter is 64 bits
// wide: a source of any size is copied.
void DownloadFromNetworkPath(RunModule& run, Services& services, const std::string& todaysFolder) {
  const std::unique_ptr<FileSystem> fileSystem = services.createFileSystem();
  const std::string sourceFolder = trimBlanks(run.Settings.NetworkPath) + "/";
  const std::string destinationFolder = todaysFolder + "/";
  SplashWindow& window = services.frmSplash;

  std::uint64_t fileCounter = 1;
  fileSystem->searchPlainFiles(sourceFolder, [&](const std::string&) {
    ++fileCounter;
    return true;
  });
  window.setProgressMax(static_cast<float>(fileCounter));

  fileCounter = 1;
  fileSystem->searchPlainFiles(sourceFolder, [&](const std::string& name) {
    if (services.cancel.isSet()) return false;
    fileSystem->copyFile(sourceFolder + trimBlanks(name), destinationFolder, true);
    ++fileCounter;
    window.setProgressValue(static_cast<float>(fileCounter));
    services.events.processEvents();
    return true;
  });
}

}  // namespace quillfen
