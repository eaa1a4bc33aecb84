#include "run/main_sequence.h"

#include <memory>
#include <new>

#include "common/error.h"
#include "common/exit_code.h"
#include "config/configuration.h"
#include "filestore/destination_lock.h"
#include "filestore/file_system.h"
#include "filestore/io.h"
#include "process/cancel_flag.h"
#include "process/clock.h"
#include "process/event_pump.h"
#include "process/message_boxes.h"
#include "process/sleeper.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/send_notification.h"
#include "run/services.h"
#include "transfer/inet.h"

namespace quillfen {

namespace {

constexpr int kStartPauseMs = 2000;
constexpr int kStagePauseMs = 500;
constexpr int kFinishPauseMs = 1000;

int exitCodeFor(ConfigurationRefusal refusal) {
  return refusal == ConfigurationRefusal::EditRequested ? kExitCompleted : kExitConfiguration;
}

// Opens a stage: the cancel check, the status text, the pause and one pass of events.
// False when the user asked to cancel.
bool openStage(Services& services, const char* text, bool showProgressBar = false) {
  if (services.cancel.isSet()) return false;
  services.frmSplash.setStatusCaption(text);
  if (showProgressBar) services.frmSplash.setProgressVisible(true);
  services.sleeper.sleep(kStagePauseMs);
  services.events.processEvents();
  return true;
}

// The five stages. False when a cancel check stopped the run.
bool runStages(RunModule& run, Services& services, const Date& runDate,
               const std::string& todaysFolder) {
  // Before anything is deleted: a second run on this destination ends here.
  const DestinationLock lock(run.Settings.DestinationFolder);
  auto io = std::make_unique<IO>(services.createFileSystem(), run.Settings, run.ActivityReport,
                                 services.clock, services.format);
  auto inet = std::make_unique<Inet>(services.frmMain, services.events);

  if (!openStage(services, "Creating folders...")) return false;
  io->DeleteFolder(todaysFolder);
  io->MakeFolder(todaysFolder);

  if (!openStage(services, "Downloading files...", true)) return false;
  DownloadFiles(run, services, *inet, todaysFolder);

  if (!openStage(services, "Gathering info...")) return false;
  const IO::Inventory inventory = io->ReadFolderInfo(todaysFolder, run.ActivityReport);
  run.Tally.filesFetched = inventory.files;
  run.Tally.bytesFetched = inventory.bytes;
  // A power cut after the pruning must not take the new copies with the old ones.
  io->FlushToDisk(todaysFolder);

  if (!openStage(services, "Deleting expired...")) return false;
  run.ExpiredBackupsRemain = !io->DeleteOldBackups(runDate, "yyyymmdd", run.TodaysBackupIncomplete);
  run.Tally.foldersPruned = io->FoldersPruned();
  if (services.showReport) services.showReport(run.ActivityReport);

  if (!openStage(services, "Sending notification...")) return false;
  SendNotification(run, services);
  io.reset();
  inet.reset();
  return true;
}

void finish(Services& services) {
  services.frmSplash.setStatusCaption("Complete...");
  services.events.processEvents();
  services.sleeper.sleep(kFinishPauseMs);
  services.frmSplash.hide();
  services.frmSplash.unload();
}

int runSequence(RunModule& run, Services& services, const std::string& commandLine) {
  ConfigurationRefusal refusal = ConfigurationRefusal::None;
  if (!LoadConfiguration(commandLine, services.process, services.messages, run.Settings,
                         &refusal)) {
    return exitCodeFor(refusal);
  }

  SplashWindow& window = services.frmSplash;
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(100);
  window.show();
  services.events.processEvents();
  services.sleeper.sleep(kStartPauseMs);

  // Read once: a run that passes midnight keeps the folder and the pruning date it started with.
  const Date runDate = services.clock.now().date;
  const std::string todaysFolder = run.Settings.DestinationFolder + "/" + formatYyyymmdd(runDate);

  const bool completed = runStages(run, services, runDate, todaysFolder);
  finish(services);
  if (!completed) return kExitCancelled;
  const bool incomplete = run.TodaysBackupIncomplete || run.ExpiredBackupsRemain;
  return incomplete ? kExitIncomplete : kExitCompleted;
}

void report(Services& services, int number, const std::string& description) {
  services.messages.error("Quillfen", "Error " + std::to_string(number) + ": " + description);
}

}  // namespace

int Main(RunModule& run, Services& services, const std::string& commandLine) {
  try {
    return runSequence(run, services, commandLine);
  } catch (const Error& error) {
    report(services, error.number(), error.description());
  } catch (const std::bad_alloc&) {
    report(services, errc::kOutOfMemory, "Out of memory");
  } catch (const std::exception& error) {
    report(services, errc::kInvalidArgument, error.what());
  }
  return kExitError;
}

}  // namespace quillfen
