#include "run/run_summary.h"

#include <vector>

#include "common/exit_code.h"
#include "common/text.h"
#include "process/system_log.h"
#include "run/main_sequence.h"
#include "run/run_module.h"

namespace quillfen {

namespace {

SystemLog::Severity severityOf(int exitCode) {
  switch (exitCode) {
    case kExitCompleted:
      return SystemLog::Severity::Info;
    case kExitCancelled:
    case kExitIncomplete:
      return SystemLog::Severity::Warning;
    default:
      return SystemLog::Severity::Error;
  }
}

// Seconds with one decimal, whatever the locale says.
std::string secondsText(std::chrono::milliseconds duration) {
  const long long tenths = (duration.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

std::string counted(int count, const char* thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

}  // namespace

std::string IncompleteCause(const RunModule& run) {
  const RunTally& tally = run.Tally;
  std::vector<std::string> causes;
  if (!tally.listingFailure.empty())
    causes.push_back("the listing failed: " + tally.listingFailure);
  if (tally.sourceEmpty) causes.push_back("the source held no file");
  if (tally.filesFailed > 0) {
    const bool copied = !run.Settings.NetworkPath.empty();
    causes.push_back(counted(tally.filesFailed, "file") +
                     (copied ? " failed to copy" : " failed to download"));
  }
  // What the failures count beyond the listing and the files: folders that could not be listed.
  const int foldersNotListed =
      tally.failures - tally.filesFailed - (tally.listingFailure.empty() ? 0 : 1);
  if (foldersNotListed > 0)
    causes.push_back(counted(foldersNotListed, "folder") + " could not be listed");
  if (run.TodaysBackupIncomplete && causes.empty()) causes.push_back("some folders were skipped");
  if (tally.foldersNotDeleted > 0) {
    causes.push_back(counted(tally.foldersNotDeleted, "expired folder") + " could not be deleted");
  } else if (run.ExpiredBackupsRemain) {
    causes.push_back("expired folders could not be deleted");
  }
  return shownName(joined(causes));
}

std::string OutcomeCause(const RunModule& run, int exitCode) {
  switch (exitCode) {
    case kExitCompleted:
      return {};
    case kExitConfiguration:
      return "no run: the settings must be edited first";
    case kExitCancelled:
      return "cancelled";
    case kExitIncomplete:
      return IncompleteCause(run);
    default:
      return shownName(run.FailureText.empty() ? "an error ended the run" : run.FailureText);
  }
}

std::string RunSummaryLine(int exitCode, const std::string& cause, const RunTally& tally,
                           std::chrono::milliseconds duration) {
  return "run ended: exit code " + std::to_string(exitCode) +
         (cause.empty() ? "" : " (" + cause + ")") + ", " + std::to_string(tally.filesFetched) +
         " files fetched, " + std::to_string(tally.bytesFetched) + " bytes, " +
         std::to_string(tally.failures) + " failures, " + std::to_string(tally.foldersPruned) +
         " folders pruned, " + secondsText(duration);
}

std::string OutcomeLine(const RunModule& run, int exitCode) {
  if (exitCode == kExitError) return "Quillfen: " + OutcomeCause(run, exitCode);
  if (exitCode == kExitConfiguration) {
    const std::string& said =
        run.RefusalText.empty() ? OutcomeCause(run, exitCode) : run.RefusalText;
    return "Quillfen: " + shownName(said);
  }
  if (exitCode != kExitIncomplete) return {};
  if (!run.TodaysBackupIncomplete) return "Quillfen: Backup complete, but " + IncompleteCause(run);
  return "Quillfen: Backup incomplete: " + IncompleteCause(run) + ", folder kept, nothing pruned";
}

int MainWithSummary(RunModule& run, Services& services, const std::string& commandLine,
                    SystemLog& log) {
  const auto started = std::chrono::steady_clock::now();
  const int exitCode = Main(run, services, commandLine);
  if (commandLine == "/config") return exitCode;
  const auto duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  const std::string job = run.Job.empty() ? "" : "job " + run.Job + ": ";
  log.record(severityOf(exitCode),
             job + RunSummaryLine(exitCode, OutcomeCause(run, exitCode), run.Tally, duration));
  return exitCode;
}

}  // namespace quillfen
