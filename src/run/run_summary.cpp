#include "run/run_summary.h"

#include "common/exit_code.h"
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

}  // namespace

std::string RunSummaryLine(int exitCode, const RunTally& tally,
                           std::chrono::milliseconds duration) {
  return "run ended: exit code " + std::to_string(exitCode) + ", " +
         std::to_string(tally.filesFetched) + " files fetched, " +
         std::to_string(tally.bytesFetched) + " bytes, " + std::to_string(tally.failures) +
         " failures, " + std::to_string(tally.foldersPruned) + " folders pruned, " +
         secondsText(duration);
}

int MainWithSummary(RunModule& run, Services& services, const std::string& commandLine,
                    SystemLog& log) {
  const auto started = std::chrono::steady_clock::now();
  const int exitCode = Main(run, services, commandLine);
  if (commandLine == "/config") return exitCode;
  const auto duration = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  log.record(severityOf(exitCode), RunSummaryLine(exitCode, run.Tally, duration));
  return exitCode;
}

}  // namespace quillfen
