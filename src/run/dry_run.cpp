#include "run/dry_run.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/error.h"
#include "common/exit_code.h"
#include "common/path_limits.h"
#include "common/text.h"
#include "filestore/file_system.h"
#include "filestore/io.h"
#include "process/clock.h"
#include "run/check_configuration.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "run/unchanged_files.h"
#include "transfer/inet.h"

namespace quillfen {

namespace {

using Say = std::function<void(const std::string& line)>;

constexpr std::string_view kSkippedPrefix = "Skipped ";

// "Skipped link to folder: x" becomes "skip link to folder: x"; a folder that could not be
// listed is told as the report tells it.
void saySkipped(const std::string& problemLines, const Say& say, std::size_t& skipped) {
  for (std::string_view line : partsOf(problemLines, '\n')) {
    if (line.empty()) continue;
    if (line.starts_with(kSkippedPrefix)) line.remove_prefix(kSkippedPrefix.size());
    say("skip " + std::string(line));
    ++skipped;
  }
}

// The source as the fetch stage would see it: the folder NetworkPath when set (its length as
// loaded decides, as in the run), the FTP directory otherwise.
FetchPlan planFetch(const RunModule& run, Services& services, FileSystem& fileSystem,
                    const std::string& previousBackup) {
  if (!run.Settings.NetworkPath.empty())
    return PlanNetworkFetch(run.Settings, fileSystem, previousBackup);
  Inet transfer(services.frmMain, services.events);
  return PlanFtpFetch(run.Settings, transfer, fileSystem, previousBackup);
}

std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return shownName(text);
}

// A backup missing files prunes nothing, as the run's pruning does not after one.
std::size_t sayDeletions(RunModule& run, Services& services, const FetchPlan& plan,
                         const Date& runDate, const Say& say) {
  if (plan.tree.incomplete || plan.tree.files.empty()) {
    say("delete nothing: the backup would be incomplete");
    return 0;
  }
  IO io(services.createFileSystem(), run.Settings, run.ActivityReport, services.clock,
        services.format);
  const std::vector<std::string> folders = io.FoldersToPrune(runDate, "yyyymmdd");
  for (const std::string& folder : folders) say("delete " + shownName(folder));
  return folders.size();
}

int sayPlan(RunModule& run, Services& services, const Say& say) {
  const std::string& destination = run.Settings.DestinationFolder;
  const std::unique_ptr<FileSystem> fileSystem = services.createFileSystem();
  // An empty DestinationFolder stands for the root folder, as in the run.
  if (!fileSystem->folderExists(destination.empty() ? std::string(1, folderSeparator())
                                                    : destination)) {
    say("destination " + destination + ": missing");
    return kExitError;
  }
  const Date runDate = services.clock.now().date;
  const std::string todaysFolder = destination + folderSeparator() + formatYyyymmdd(runDate);
  const std::string previous =
      run.Settings.LinkUnchanged ? LatestBackup(*fileSystem, destination, todaysFolder) : "";

  const FetchPlan plan = planFetch(run, services, *fileSystem, previous);
  if (plan.listingFailure) {
    say("source FTP " + run.Settings.FtpIPAddress +
        ": listing failed: " + oneLine(*plan.listingFailure));
    return kExitError;
  }
  std::size_t linked = 0, skipped = 0;
  std::size_t i = 0;
  for (const std::string_view name : plan.tree.files) {
    const bool link = plan.linked[i++];
    say((link ? "link " : "fetch ") + shownName(name));
    linked += link ? 1 : 0;
  }
  saySkipped(plan.tree.problemLines, say, skipped);
  const std::size_t deleted = sayDeletions(run, services, plan, runDate, say);
  say("dry run: " + std::to_string(plan.tree.files.size() - linked) + " to fetch, " +
      std::to_string(linked) + " to link" + (linked > 0 ? " from " + previous : "") + ", " +
      std::to_string(skipped) + " skipped, " + std::to_string(deleted) +
      " folders to delete; nothing was changed");
  return kExitCompleted;
}

}  // namespace

int DryRun(RunModule& run, Services& services, const Say& say) {
  if (CheckSettings(run, services, say) == SettingsOutcome::Refused) return kExitConfiguration;
  try {
    return sayPlan(run, services, say);
  } catch (const Error& error) {
    say("Error " + std::to_string(error.number()) + ": " + oneLine(error.description()));
    return kExitError;
  }
}

}  // namespace quillfen
