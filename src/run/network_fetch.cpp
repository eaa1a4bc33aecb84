#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "common/path_limits.h"
#include "common/text.h"
#include "config/exclude_patterns.h"
#include "filestore/file_system.h"
#include "process/cancel_flag.h"
#include "process/event_pump.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "run/unchanged_files.h"

namespace quillfen {

namespace {

// The setting loses its spaces only: a tab there stays part of the path.
constexpr std::string_view kSpaces = " ";

// Walks the source below `sourceFolder` (which ends in "/"). Links to folders are never
// entered: they could lead out of the source or back into it. A folder met twice (a bind mount
// of its parent) is entered once, and the destination folder, should it lie below the source,
// never: the backups would copy themselves. A folder or file whose copy below `copyFolder`
// would be too long a path is left out, and so is what Exclude names: an excluded folder is not
// listed at all.
class SourceWalk {
 public:
  SourceWalk(FileSystem& fileSystem, std::string sourceFolder, const BackupSettings& settings,
             std::string copyFolder)
      : fileSystem_(fileSystem),
        sourceFolder_(std::move(sourceFolder)),
        includeSubfolders_(settings.IncludeSubfolders),
        excludes_(settings.Exclude),
        copyFolder_(std::move(copyFolder)) {}

  // The top folder's failures end the stage as they always did; a subfolder's cost its files.
  SourceTree walk(const std::string& destinationFolder) {
    // A destination that is not there yet (a settings check) holds nothing to leave out.
    if (includeSubfolders_ && fileSystem_.folderExists(destinationFolder)) {
      const FolderContents destination = fileSystem_.readFolder(destinationFolder);
      destination_ = {destination.device, destination.inode};
    }
    visit(fileSystem_.readFolder(sourceFolder_), "", 0);
    return std::move(tree_);
  }

 private:
  void visit(FolderContents contents, const std::string& prefix, int depth) {
    if (!entered_.insert({contents.device, contents.inode}).second) {
      tree_.problemLines += "Skipped folder met twice: " + shownName(prefix) + "\n";
      return;
    }
    contents.files.keepOnly([&](std::string_view name) {
      const std::string path = prefix + std::string(name);
      return !excludes_.excludes(path, false) && fitsInCopyFolder(tree_, copyFolder_, path, false);
    });
    // The top folder's names are taken over as they are: a million of them are not copied.
    if (prefix.empty()) {
      tree_.files = std::move(contents.files);
    } else {
      for (std::string_view name : contents.files)
        tree_.files.push_back(prefix + std::string(name));
    }
    if (!includeSubfolders_) return;
    for (const std::string& name : contents.folderLinks) {
      if (excludes_.excludes(prefix + name, true)) continue;
      tree_.problemLines += "Skipped link to folder: " + shownName(prefix + name) + "\n";
    }
    for (const std::string& name : contents.folders) {
      if (!excludes_.excludes(prefix + name, true)) enter(prefix + name, depth + 1);
    }
  }

  void enter(const std::string& folder, int depth) {
    if (depth > kDeepestSubfolder) {
      tree_.problemLines += "Skipped folder nested too deep: " + shownName(folder) + "\n";
      tree_.incomplete = true;
      return;
    }
    if (!fitsInCopyFolder(tree_, copyFolder_, folder, true)) return;
    std::optional<FolderContents> contents;
    try {
      contents = fileSystem_.readFolder(sourceFolder_ + folder);
    } catch (const Error& error) {
      tree_.problemLines +=
          "Failed to list folder: " + shownName(folder) + " (" + error.description() + ")\n";
      tree_.incomplete = true;
      ++tree_.failures;
      return;
    }
    if (std::pair{contents->device, contents->inode} == destination_) {
      tree_.problemLines += "Skipped the backup destination: " + folder + "\n";
      return;
    }
    tree_.folders.push_back(folder);
    visit(std::move(*contents), folder + "/", depth);
  }

  FileSystem& fileSystem_;
  const std::string sourceFolder_;
  const bool includeSubfolders_;
  const ExcludePatterns excludes_;
  const std::string copyFolder_;
  std::set<std::pair<std::uint64_t, std::uint64_t>> entered_;
  std::pair<std::uint64_t, std::uint64_t> destination_;
  SourceTree tree_;
};

std::string folderOf(std::string_view relativePath) {
  const auto slash = relativePath.find_last_of('/');
  return std::string(slash == std::string::npos ? std::string_view()
                                                : relativePath.substr(0, slash + 1));
}

// A source file that vanished or cannot be read costs that file only, as a failed FTP file does:
// the report names it and the backup counts as incomplete. A failure on the destination side
// (not writable, full) propagates and ends the run, as it would fail every later file too.
// A copy that `keepGoing` stopped leaves nothing behind; the caller's cancel check ends the
// fetch.
void copyOneFile(RunModule& run, FileSystem& fileSystem, const std::string& source,
                 std::string_view name, const std::string& destinationFolder,
                 const KeepGoing& keepGoing) {
  try {
    fileSystem.copyFile(source, destinationFolder + folderOf(name), true, keepGoing);
  } catch (const SourceFileError& error) {
    run.ActivityReport += "Failed to copy: " + shownName(name) + " (" + error.description() + ")\n";
    run.TodaysBackupIncomplete = true;
    ++run.Tally.failures;
    ++run.Tally.filesFailed;
  }
}

bool linkedFromPrevious(UnchangedFiles* unchanged, FileSystem& fileSystem,
                        const std::string& source, std::string_view name) {
  if (unchanged == nullptr) return false;
  const std::optional<FileFacts> facts = fileSystem.fileFacts(source);
  return facts && unchanged->linkIfUnchanged(std::string(name), *facts);
}

// Events (a click on Cancel, a signal, the window's own) are handled between files, but no more
// often than every few milliseconds: a pass costs a system call, as much as a small file's copy.
class EventPace {
 public:
  explicit EventPace(EventPump& events) : events_(events) {}

  void between() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    events_.processEvents();
    next_ = now + kEventInterval;
  }

 private:
  static constexpr std::chrono::milliseconds kEventInterval{20};
  EventPump& events_;
  std::chrono::steady_clock::time_point next_;
};

// The tree of the local source, whose copy goes below `copyFolder` (which ends in "/").
SourceTree walkNetworkSource(const BackupSettings& settings, FileSystem& fileSystem,
                             const std::string& copyFolder) {
  const std::string sourceFolder =
      std::string(trimmed(settings.NetworkPath, kSpaces)) + folderSeparator();
  const std::string& destination = settings.DestinationFolder;
  return SourceWalk(fileSystem, sourceFolder, settings, copyFolder)
      .walk(destination.empty() ? std::string(1, folderSeparator()) : destination);
}

}  // namespace

SourceTree ListNetworkSource(const BackupSettings& settings, FileSystem& fileSystem) {
  return walkNetworkSource(settings, fileSystem, settings.DestinationFolder + kDatedFolderStandIn);
}

FetchPlan PlanNetworkFetch(const BackupSettings& settings, FileSystem& fileSystem,
                           const std::string& previousBackup) {
  FetchPlan plan{ListNetworkSource(settings, fileSystem), {}, std::nullopt};
  const std::string sourceFolder =
      std::string(trimmed(settings.NetworkPath, kSpaces)) + folderSeparator();
  const UnchangedFiles unchanged(fileSystem, previousBackup, "");
  for (const std::string_view listedName : plan.tree.files) {
    const std::string name(listedName);
    const std::optional<FileFacts> facts = fileSystem.fileFacts(sourceFolder + name);
    plan.linked.push_back(facts && unchanged.isUnchanged(name, *facts));
  }
  return plan;
}

// Every name is copied exactly as listed, blanks and a leading "." included. The counter is 64
// bits wide: a source of any size is copied.
void DownloadFromNetworkPath(RunModule& run, Services& services, const std::string& todaysFolder) {
  const std::unique_ptr<FileSystem> fileSystem = services.createFileSystem();
  const std::string sourceFolder =
      std::string(trimmed(run.Settings.NetworkPath, kSpaces)) + folderSeparator();
  const std::string destinationFolder = todaysFolder + folderSeparator();
  SplashWindow& window = services.frmSplash;
  const std::size_t linkedLineAt = run.ActivityReport.size();

  const SourceTree tree = walkNetworkSource(run.Settings, *fileSystem, destinationFolder);
  window.setProgressMax(static_cast<float>(tree.files.size() + 1));
  if (tree.files.empty()) {
    run.ActivityReport += kEmptySourceLine;
    run.TodaysBackupIncomplete = true;
    run.Tally.sourceEmpty = true;
  }
  run.ActivityReport += tree.problemLines;
  run.TodaysBackupIncomplete = run.TodaysBackupIncomplete || tree.incomplete;
  run.Tally.failures += tree.failures;
  for (const std::string& folder : tree.folders)
    fileSystem->createFolder(destinationFolder + folder);

  std::optional<UnchangedFiles> unchanged;
  if (run.Settings.LinkUnchanged) {
    unchanged.emplace(*fileSystem, run.PreviousBackup, todaysFolder);
  }
  // A large file takes long to copy: the window stays responsive meanwhile, and a cancel ends
  // the copy under way as it ends an FTP download.
  const KeepGoing keepGoing = [&services] {
    services.events.processEvents();
    return !services.cancel.isSet();
  };
  std::uint64_t fileCounter = 1;
  EventPace pace(services.events);
  for (std::string_view name : tree.files) {
    if (services.cancel.isSet()) break;
    const std::string source = sourceFolder + std::string(name);
    if (!linkedFromPrevious(unchanged ? &*unchanged : nullptr, *fileSystem, source, name)) {
      copyOneFile(run, *fileSystem, source, name, destinationFolder, keepGoing);
    }
    ++fileCounter;
    window.setProgressValue(static_cast<float>(fileCounter));
    pace.between();
  }
  if (unchanged) run.ActivityReport.insert(linkedLineAt, unchanged->reportLine());
}

}  // namespace quillfen
