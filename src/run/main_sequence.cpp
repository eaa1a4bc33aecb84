#include "run/main_sequence.h"

#include <cerrno>
#include <memory>
#include <new>
#include <optional>

#include "common/error.h"
#include "common/exit_code.h"
#include "common/path_limits.h"
#include "common/text.h"
#include "config/configs.h"
#include "config/configuration.h"
#include "filestore/destination_lock.h"
#include "filestore/file_system.h"
#include "filestore/io.h"
#include "process/cancel_flag.h"
#include "process/clock.h"
#include "process/event_pump.h"
#include "process/message_boxes.h"
#include "process/process_services.h"
#include "process/sleeper.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_hooks.h"
#include "run/run_module.h"
#include "run/run_pings.h"
#include "run/run_summary.h"
#include "run/send_notification.h"
#include "run/services.h"
#include "run/unchanged_files.h"
#include "transfer/inet.h"

namespace quillfen {

namespace {

constexpr int kStartPauseMs = 2000;
constexpr int kStagePauseMs = 500;
constexpr int kFinishPauseMs = 1000;

int exitCodeFor(ConfigurationRefusal refusal) {
  return refusal == ConfigurationRefusal::EditRequested ? kExitCompleted : kExitConfiguration;
}

// Shows each message and keeps the last one's text: a window's message box is gone when the
// process ends, so a refusal is said once more on standard error.
class KeepingLastMessage final : public MessageBoxes {
 public:
  explicit KeepingLastMessage(MessageBoxes& shown) : shown_(shown) {}
  void information(const std::string& title, const std::string& text) override {
    last_ = text;
    shown_.information(title, text);
  }
  void error(const std::string& title, const std::string& text) override {
    last_ = text;
    shown_.error(title, text);
  }
  const std::string& last() const { return last_; }

 private:
  MessageBoxes& shown_;
  std::string last_;
};

// Opens a stage: the cancel check, the status text, the pause and one pass of events, which
// is where a click on Cancel or a signal lands; so the flag is looked at once more after it.
// False when the user asked to cancel: the stage does not begin.
bool openStage(Services& services, const char* text, bool showProgressBar = false) {
  if (services.cancel.isSet()) return false;
  services.frmSplash.setStatusCaption(text);
  if (showProgressBar) services.frmSplash.setProgressVisible(true);
  services.sleeper.sleep(kStagePauseMs);
  services.events.processEvents();
  return !services.cancel.isSet();
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

// Gives the staging folder today's name, or keeps an earlier backup of today when the new one
// is not complete. The report names today's folder only, never the staging folder.
void placeTodaysBackup(RunModule& run, IO& io, const std::string& todaysFolder, bool complete) {
  const IO::Placement placement = io.PlaceStaging(todaysFolder, complete);
  replaceAll(run.ActivityReport, io.StagingFolder(), todaysFolder);
  if (placement == IO::Placement::KeptEarlier) {
    run.ActivityReport += "Kept the earlier backup of today: " + todaysFolder + "\n";
  }
}

// After an error the error is what gets reported: a failure to place the staging folder as
// well is left for the next run, which clears the staging folder first.
void placeAfterFailure(RunModule& run, IO& io, const std::string& todaysFolder) {
  try {
    placeTodaysBackup(run, io, todaysFolder, false);
  } catch (const std::exception&) {
  }
}

// The fetch stage into the staging folder, which then takes today's name as its outcome
// allows. False when a cancel stopped the run before the stage.
bool fetchTodaysBackup(RunModule& run, Services& services, IO& io, Inet& inet,
                       const std::string& todaysFolder) {
  bool fetched = false;
  try {
    fetched = openStage(services, "Downloading files...", true);
    if (fetched) DownloadFiles(run, services, inet, io.StagingFolder());
  } catch (const Error& error) {
    placeAfterFailure(run, io, todaysFolder);
    std::string description = error.description();
    replaceAll(description, io.StagingFolder(), todaysFolder);
    throw Error(error.number(), description);
  } catch (...) {
    placeAfterFailure(run, io, todaysFolder);
    throw;
  }
  const bool complete = fetched && !services.cancel.isSet() && !run.TodaysBackupIncomplete;
  placeTodaysBackup(run, io, todaysFolder, complete);
  return fetched;
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
  io->PrepareStaging(todaysFolder);
  if (run.Settings.LinkUnchanged) {
    run.PreviousBackup =
        LatestBackup(*services.createFileSystem(), run.Settings.DestinationFolder, todaysFolder);
  }

  if (!fetchTodaysBackup(run, services, *io, *inet, todaysFolder)) return false;

  if (!openStage(services, "Gathering info...")) return false;
  const IO::Inventory inventory = io->ReadFolderInfo(todaysFolder, run.ActivityReport);
  run.Tally.filesFetched = inventory.files;
  run.Tally.bytesFetched = inventory.bytes;
  // A power cut after the pruning must not take the new copies with the old ones.
  io->FlushToDisk(todaysFolder);

  if (!openStage(services, "Deleting expired...")) return false;
  run.ExpiredBackupsRemain = !io->DeleteOldBackups(runDate, "yyyymmdd", run.TodaysBackupIncomplete);
  run.Tally.foldersPruned = io->FoldersPruned();
  run.Tally.foldersNotDeleted = io->FoldersNotDeleted();
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
  KeepingLastMessage messages(services.messages);
  if (!LoadConfiguration(commandLine, services.process, messages, run.Settings, &refusal)) {
    if (refusal != ConfigurationRefusal::EditRequested) run.RefusalText = messages.last();
    return exitCodeFor(refusal);
  }
  run.SettingsLoaded = true;
  PingStart(run, services);

  SplashWindow& window = services.frmSplash;
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(100);
  window.show();
  services.events.processEvents();
  services.sleeper.sleep(kStartPauseMs);

  // Read once: a run that passes midnight keeps the folder and the pruning date it started with.
  const Date runDate = services.clock.now().date;
  const std::string todaysFolder =
      run.Settings.DestinationFolder + folderSeparator() + formatYyyymmdd(runDate);
  run.TodaysFolder = todaysFolder;
  // Before the destination is touched: the hook may be what makes it available.
  RunBeforeHook(run, services);

  // A cancel that stopped RunBefore leaves the destination as untouched as its failure does.
  const bool completed =
      !services.cancel.isSet() && runStages(run, services, runDate, todaysFolder);
  finish(services);
  if (!completed) return kExitCancelled;
  return isIncomplete(run) ? kExitIncomplete : kExitCompleted;
}

// The error that ended the run, as the top of Main reports it.
std::optional<Error> runCatching(RunModule& run, Services& services, const std::string& commandLine,
                                 int& exitCode) {
  try {
    exitCode = runSequence(run, services, commandLine);
    return std::nullopt;
  } catch (const Error& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return Error(errc::kOutOfMemory, "Out of memory");
  } catch (const std::exception& error) {
    return Error(errc::kInvalidArgument, error.what());
  }
}

// Mails the report with the error before the error is shown, so that a message box nobody
// closes does not hold it back. An error of the mail itself is not mailed again. What keeps the
// failure report from going out is told with the error.
std::string mailFailure(RunModule& run, Services& services, const Error& failure) {
  if (!run.SettingsLoaded || run.NotificationStarted) return {};
  try {
    SendFailureReport(run, services, failure.number(), shownName(failure.description()));
    return {};
  } catch (const Error& unsent) {
    return " (the report of this error could not be mailed: Error " +
           std::to_string(unsent.number()) + ": " + unsent.description() + ")";
  } catch (const std::exception& unsent) {
    return std::string(" (the report of this error could not be mailed: ") + unsent.what() + ")";
  }
}

// The packaged unit may write only where its ReadWritePaths= allow: a destination left out of
// them is read-only to the run, which the system's wording alone does not explain.
std::string withReadWritePathsHint(const Error& failure, const RunModule& run,
                                   const ProcessServices& process) {
  if (failure.systemError() != EROFS || !process.runsUnderPackagedUnit())
    return failure.description();
  return failure.description() + " (" + ReadWritePathsHint(run.Settings.DestinationFolder) + ")";
}

// An error after a fetch that was already incomplete (the mail failing after a refused listing):
// the fetch's cause is told with it, not lost.
std::string alsoIncomplete(const RunModule& run) {
  if (!isIncomplete(run)) return {};
  return " (the backup was incomplete as well: " + IncompleteCause(run) + ")";
}

// One line, whatever a server's reply or a name in it holds: it reaches the terminal and the log.
void report(Services& services, RunModule& run, const std::string& text) {
  run.FailureText = shownName(text);
  services.messages.error("Quillfen", run.FailureText);
}

// A cancelled run is told as a failed one is: an unattended run stopped by a shutdown would
// otherwise leave no word of what it kept. A mail under way when the cancel came is not sent
// again.
void mailCancelled(RunModule& run, Services& services) {
  if (!run.SettingsLoaded || run.NotificationStarted) return;
  try {
    SendCancelReport(run, services);
  } catch (const Error& unsent) {
    report(services, run,
           "Error " + std::to_string(unsent.number()) +
               ": The report of the cancelled run could not be mailed: " + unsent.description());
  }
}

// The job and the machine a settings file named with -c makes, e.g. "web.ini on alpha".
std::string jobOf(const ProcessServices& process) {
  const std::string job = Configs::jobName(process);
  if (job.empty()) return {};
  const std::string host = process.hostName();
  return shownName(host.empty() ? job : job + " on " + host);
}

}  // namespace

int Main(RunModule& run, Services& services, const std::string& commandLine) {
  run.Job = jobOf(services.process);
  int exitCode = kExitError;
  const std::optional<Error> caught = runCatching(run, services, commandLine, exitCode);
  if (!caught) {
    if (exitCode == kExitCancelled) mailCancelled(run, services);
    if (run.SettingsLoaded) PingOutcome(run, services, exitCode);
    RunAfterHooks(run, services, exitCode, run.ActivityReport);
    return exitCode;
  }
  const Error failure(caught->number(), withReadWritePathsHint(*caught, run, services.process));
  const std::string unmailed = mailFailure(run, services, failure);
  if (run.SettingsLoaded) PingOutcome(run, services, kExitError);
  const std::string errorLine =
      "Error " + std::to_string(failure.number()) + ": " + failure.description();
  // Before the error is shown: a message box nobody closes must not hold the hooks back.
  RunAfterHooks(run, services, kExitError, run.ActivityReport + "\n" + errorLine + "\n");
  report(services, run, errorLine + unmailed + alsoIncomplete(run));
  return kExitError;
}

}  // namespace quillfen
