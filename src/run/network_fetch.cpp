#include <cstdint>
#include <memory>

#include "common/text.h"
#include "filestore/file_system.h"
#include "process/cancel_flag.h"
#include "process/event_pump.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

// The setting loses its spaces only: a tab there stays part of the path.
constexpr std::string_view kSpaces = " ";

// A source file that vanished or cannot be read costs that file only, as a failed FTP file does:
// the report names it and the backup counts as incomplete. A failure on the destination side
// (not writable, full) propagates and ends the run, as it would fail every later file too.
void copyOneFile(RunModule& run, FileSystem& fileSystem, const std::string& sourceFolder,
                 const std::string& name, const std::string& destinationFolder) {
  try {
    fileSystem.copyFile(sourceFolder + name, destinationFolder, true);
  } catch (const SourceFileError& error) {
    run.ActivityReport += "Failed to copy: " + name + " (" + error.description() + ")\n";
    run.TodaysBackupIncomplete = true;
    ++run.Tally.failures;
  }
}

}  // namespace

// The search yields plain files only, so "." and ".." never arrive here; every other name is
// copied exactly as listed, blanks and a leading "." included. The counter is 64 bits wide: a
// source of any size is copied.
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
    copyOneFile(run, *fileSystem, sourceFolder, name, destinationFolder);
    ++fileCounter;
    window.setProgressValue(static_cast<float>(fileCounter));
    services.events.processEvents();
    return true;
  });
}

}  // namespace quillfen
