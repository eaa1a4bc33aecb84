#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/path_limits.h"
#include "common/text.h"
#include "config/exclude_patterns.h"
#include "filestore/file_system.h"
#include "process/cancel_flag.h"
#include "process/clock.h"
#include "process/event_pump.h"
#include "process/locale_format.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "run/unchanged_files.h"
#include "transfer/ftp_listing.h"
#include "transfer/ftp_request.h"
#include "transfer/inet.h"
#include "transfer/main_form.h"
#include "transfer/transfer_control.h"

namespace quillfen {

namespace {

// Longer remote names are not fetched: no file system of a destination takes them.
constexpr std::size_t kLongestRemoteName = 1024;
// The URL of every request: none, so that it goes to the address openFtpSource set as the
// settings read it, with no text parsed again.
const std::string kSourceAddress;

// A remote name becomes a file name in today's folder: a name that could lead out of it, that
// hides characters a reader of the report cannot see, that is too long for a file name or that the
// file system would refuse or change (on Windows: "a:b", "report.", "NUL") is not fetched.
bool isSafeLocalName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kLongestRemoteName) return false;
  if (!isNameTheFileSystemTakes(name)) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '/' || c == '\\' || isControlCharacter(c); });
}

bool endedInError(Inet& transfer) {
  return transfer.Outcome() != RequestOutcome::Completed;
}

// While it lives, the user's Cancel stops the transfers under way at once instead of after them.
class CancelStopsTransfers {
 public:
  CancelStopsTransfers(CancelFlag& flag, std::function<void()> stop) : flag_(flag) {
    flag_.onSet(std::move(stop));
  }
  ~CancelStopsTransfers() { flag_.onSet(nullptr); }
  CancelStopsTransfers(const CancelStopsTransfers&) = delete;
  CancelStopsTransfers& operator=(const CancelStopsTransfers&) = delete;

 private:
  CancelFlag& flag_;
};

// The download of the listed file `name` (a path below the source folder) into today's folder.
FtpOperation getOperation(const std::string& name, const std::string& todaysFolder,
                          const RemoteEntry& listed) {
  return {FtpOperation::Kind::Get, name, todaysFolder + folderSeparator() + name, listed};
}

std::string dirCommand(const std::string& folder) {
  return folder.empty() ? "DIR" : "DIR " + quotedName(folder);
}

// Lists the source folder and, with `includeSubfolders`, every folder below it, all over the
// one connection of `transfer`. A name is checked as a whole path component at every depth. A
// link the listing shows as one (LIST, SFTP, some MLSD servers) is asked about by a listing of
// its own, which only a folder gives: a link to a folder is reported and never entered, as a
// local one is, while a link to a file is fetched as that file. A folder whose MLSD "unique"
// fact was met before (a link the server lists as a folder, leading back up) is entered once.
// What Exclude names is left out before anything else is asked about it: an excluded folder is
// not listed, an excluded file not fetched.
class RemoteWalk {
 public:
  RemoteWalk(Inet& transfer, std::function<bool()> cancelled, const BackupSettings& settings,
             std::string copyFolder)
      : transfer_(transfer),
        cancelled_(std::move(cancelled)),
        includeSubfolders_(settings.IncludeSubfolders),
        excludes_(settings.Exclude),
        copyFolder_(std::move(copyFolder)) {}

  // The top listing's failure is the caller's to report; it is returned, nothing when none.
  // `listed` gets the listing's entry of each file of the tree, in the order of its files.
  std::optional<std::string> walk(SourceTree& tree, std::vector<RemoteEntry>& listed) {
    tree_ = &tree;
    listed_ = &listed;
    transfer_.Execute(kSourceAddress, dirCommand(""));
    if (endedInError(transfer_)) return transfer_.ResponseInfo();
    select(transfer_.Listing(), "", 0);
    return std::nullopt;
  }

 private:
  // `entries` is a copy: the listings of the links and folders below replace the control's.
  void select(std::vector<RemoteEntry> entries, const std::string& prefix, int depth) {
    std::vector<RemoteEntry> subfolders;
    // A second name the file system takes for one already listed (on Windows "Report.txt"
    // beside "report.txt") would overwrite its file: it is skipped as unsafe.
    std::set<std::string> taken;
    for (const RemoteEntry& entry : entries) {
      const bool folder = entry.isDirectory;
      if (folder && !includeSubfolders_) continue;
      const std::string path = prefix + entry.name;
      if (excludes_.excludes(path, folder)) continue;
      if (!isSafeLocalName(entry.name) || !taken.insert(sameNameKey(entry.name)).second) {
        tree_->problemLines +=
            "Skipped unsafe remote name: " + shownName(path) + (folder ? "/" : "") + "\n";
      } else if (folder) {
        subfolders.push_back(entry);
        subfolders.back().name = path;
      } else if (entry.isLink && isLinkToFolder(path)) {
        tree_->problemLines += "Skipped link to folder: " + path + "\n";
      } else if (fitsInCopyFolder(*tree_, copyFolder_, path, false)) {
        tree_->files.push_back(path);
        listed_->push_back(entry);
      }
    }
    for (const RemoteEntry& folder : subfolders) enter(folder, depth + 1);
  }

  bool isLinkToFolder(const std::string& path) {
    if (cancelled_()) return false;
    transfer_.Execute(kSourceAddress, dirCommand(path));
    return !endedInError(transfer_);
  }

  bool metBefore(const RemoteEntry& folder) {
    return !folder.identity.empty() && !entered_.insert(folder.identity).second;
  }

  // `listed` is the folder's entry, named by its path below the source folder.
  void enter(const RemoteEntry& listed, int depth) {
    const std::string& folder = listed.name;
    if (cancelled_()) return;
    if (depth > kDeepestSubfolder) {
      tree_->problemLines += "Skipped folder nested too deep: " + folder + "\n";
      tree_->incomplete = true;
      return;
    }
    if (!fitsInCopyFolder(*tree_, copyFolder_, folder, true)) return;
    if (metBefore(listed)) {
      tree_->problemLines += "Skipped folder met twice: " + folder + "\n";
      return;
    }
    transfer_.Execute(kSourceAddress, dirCommand(folder));
    if (endedInError(transfer_)) {
      tree_->problemLines +=
          "Failed to list folder: " + folder + " (" + shownName(transfer_.ResponseInfo()) + ")\n";
      tree_->incomplete = true;
      ++tree_->failures;
      return;
    }
    tree_->folders.push_back(folder);
    select(transfer_.Listing(), folder + "/", depth);
  }

  Inet& transfer_;
  const std::function<bool()> cancelled_;
  const bool includeSubfolders_;
  const ExcludePatterns excludes_;
  const std::string copyFolder_;
  std::set<std::string> entered_;  // the "unique" facts of the folders entered
  SourceTree* tree_ = nullptr;
  std::vector<RemoteEntry>* listed_ = nullptr;
};

// With LinkUnchanged, a file the previous backup holds unchanged is linked from there. A time
// the listing gives only to the minute or the day is first asked for to the second (MDTM);
// that exact time goes into `listed`, so that it also dates the copy when the file is fetched
// after all, and the next run can compare with it.
// `Transfer` is the one connection's Inet or one of several connections' TransferControl.
template <typename Transfer>
std::optional<FileFacts> listedFacts(Transfer& transfer, const std::string& name,
                                     RemoteEntry& listed) {
  if (!listed.size || !listed.modified) return std::nullopt;
  if (!listed.modifiedToTheSecond) {
    const std::optional<std::time_t> exact = transfer.ExactModifiedTime(kSourceAddress, name);
    if (!exact) return std::nullopt;
    listed.modified = *exact;
    listed.modifiedToTheSecond = true;
  }
  return FileFacts{*listed.size, *listed.modified};
}

template <typename Transfer>
bool linkedFromPrevious(UnchangedFiles& unchanged, Transfer& transfer, const std::string& name,
                        RemoteEntry& listed) {
  const std::optional<FileFacts> facts = listedFacts(transfer, name, listed);
  return facts && unchanged.linkIfUnchanged(name, *facts);
}

void fetchFiles(RunModule& run, Services& services, Inet& transfer, const std::string& todaysFolder,
                std::vector<RemoteEntry>& listed, UnchangedFiles* unchanged) {
  SplashWindow& window = services.frmSplash;
  for (std::size_t i = 0; i < run.FileList.size(); ++i) {
    if (services.cancel.isSet()) return;
    const std::string& name = run.FileList[i];
    const bool linked =
        unchanged != nullptr && linkedFromPrevious(*unchanged, transfer, name, listed[i]);
    if (services.cancel.isSet()) return;
    if (!linked) {
      transfer.Execute(kSourceAddress, getOperation(name, todaysFolder, listed[i]));
      if (services.cancel.isSet()) return;
      if (endedInError(transfer)) {
        run.ActivityReport +=
            "Failed to download: " + name + " (" + shownName(transfer.ResponseInfo()) + ")\n";
        run.TodaysBackupIncomplete = true;
        ++run.Tally.failures;
        ++run.Tally.filesFailed;
      }
    }
    window.setProgressValue(static_cast<float>(i + 1));
    services.events.processEvents();
  }
}

constexpr std::chrono::milliseconds kLongestEventWait{250};

// One connection of a fetch over several, and the file it is fetching.
struct Connection {
  TransferControl* control = nullptr;
  std::unique_ptr<TransferControl> owned;  // a connection beside the one that listed the source
  std::optional<std::size_t> file;         // under way: its index in the file list
  bool loggedIn = false;                   // it listed, or one of its requests got past the login
  bool refused = false;                    // its login was refused: it takes no more files
};

// The files of the listing fetched over several connections at once, all advancing with the one
// event loop. The first is the connection that listed the source; the others log in with its
// settings at their first file. A free
// connection takes the next file in the listing's order, and the report's lines keep that order
// whatever order the files end in. A connection beside the first whose login the server refuses
// (too many connections) hands its file back and takes no more: the others fetch it.
class ConnectionsFetch {
 public:
  ConnectionsFetch(RunModule& run, Services& services, TransferControl& first,
                   std::string todaysFolder, std::vector<RemoteEntry>& listed,
                   UnchangedFiles* unchanged)
      : run_(run),
        services_(services),
        todaysFolder_(std::move(todaysFolder)),
        listed_(listed),
        unchanged_(unchanged) {
    connections_.push_back(std::make_unique<Connection>());
    connections_.front()->control = &first;
    connections_.front()->loggedIn = true;
    for (std::size_t i = 0; i < run_.FileList.size(); ++i) waiting_.push_back(i);
  }

  // Fetches every file over `count` connections; the report line of the logins refused, if any.
  std::string fetch(int count) {
    for (int i = 1; i < count; ++i) addConnection();
    const CancelStopsTransfers cancelStops(services_.cancel, [this] { cancelAll(); });
    while (!services_.cancel.isSet()) {
      for (const auto& connection : connections_)
        if (!connection->file && !connection->refused) startNext(*connection);
      if (services_.cancel.isSet() || !anyUnderWay()) break;
      services_.events.processEventsWaiting(kLongestEventWait);
      if (services_.cancel.isSet()) break;
      for (const auto& connection : connections_)
        if (connection->file && !connection->control->StillExecuting()) collect(*connection);
    }
    settle();
    for (const auto& [index, line] : failureLines_) run_.ActivityReport += line;
    return refusedLine(count);
  }

 private:
  void addConnection() {
    TransferControl& first = *connections_.front()->control;
    auto connection = std::make_unique<Connection>();
    connection->owned = services_.frmMain.NewControl();
    connection->control = connection->owned.get();
    TransferControl& control = *connection->control;
    control.Settings() = first.Settings();
    // A request announces that it is being sent only once the login is done.
    control.SubscribeStateChanged([&loggedIn = connection->loggedIn](std::int16_t state) {
      if (state == transfer_state::kRequesting) loggedIn = true;
    });
    connections_.push_back(std::move(connection));
  }

  // Starts the next file on `connection`, after linking every file before it that is unchanged.
  void startNext(Connection& connection) {
    while (!waiting_.empty() && !services_.cancel.isSet()) {
      const std::size_t index = waiting_.front();
      waiting_.pop_front();
      const std::string& name = run_.FileList[index];
      if (unchanged_ != nullptr &&
          linkedFromPrevious(*unchanged_, *connection.control, name, listed_[index])) {
        fileDone();
        services_.events.processEvents();
        continue;
      }
      if (services_.cancel.isSet()) return;
      connection.control->Execute(kSourceAddress,
                                  getOperation(name, todaysFolder_, listed_[index]));
      connection.file = index;
      return;
    }
  }

  void collect(Connection& connection) {
    const std::size_t index = *connection.file;
    connection.file.reset();
    TransferControl& control = *connection.control;
    if (control.Outcome() == RequestOutcome::Completed) return fileDone();
    if (!connection.loggedIn) {
      connection.refused = true;
      if (refusal_.empty()) refusal_ = control.ResponseInfo();
      waiting_.push_front(index);
      return;
    }
    failureLines_[index] = "Failed to download: " + run_.FileList[index] + " (" +
                           shownName(control.ResponseInfo()) + ")\n";
    run_.TodaysBackupIncomplete = true;
    ++run_.Tally.failures;
    ++run_.Tally.filesFailed;
    fileDone();
  }

  void fileDone() { services_.frmSplash.setProgressValue(static_cast<float>(++filesDone_)); }

  bool anyUnderWay() const {
    return std::any_of(connections_.begin(), connections_.end(),
                       [](const auto& connection) { return connection->file.has_value(); });
  }

  // A cancelled request is over at once; its last notifications still belong to it.
  void settle() {
    for (const auto& connection : connections_)
      while (connection->control->StillExecuting())
        services_.events.processEventsWaiting(kLongestEventWait);
  }

  void cancelAll() {
    for (const auto& connection : connections_) connection->control->Cancel();
  }

  std::string refusedLine(int asked) const {
    const auto refused = std::count_if(connections_.begin(), connections_.end(),
                                       [](const auto& connection) { return connection->refused; });
    if (refused == 0) return {};
    return "Fetched over " + std::to_string(asked - refused) + " of " + std::to_string(asked) +
           " connections: the server refused more (" + shownName(refusal_) + ")\n";
  }

  RunModule& run_;
  Services& services_;
  const std::string todaysFolder_;
  std::vector<RemoteEntry>& listed_;  // the listing's entry of each file
  UnchangedFiles* const unchanged_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::deque<std::size_t> waiting_;  // the files not yet started, by their index
  std::map<std::size_t, std::string> failureLines_;
  std::size_t filesDone_ = 0;
  std::string refusal_;  // the first refused login's reply
};

void openFtpSource(const BackupSettings& settings, Inet& transfer) {
  transfer.Source(settings.FtpSource);
  transfer.UserName(settings.FtpUserName);
  transfer.Password(settings.FtpPassword);
  transfer.KeyFile(settings.FtpKeyFile);
  transfer.Trust(settings.FtpServerTrust);
}

// The walk of a run that has no today's folder and is never cancelled.
std::optional<std::string> walkFtpSource(const BackupSettings& settings, Inet& transfer,
                                         SourceTree& tree, std::vector<RemoteEntry>& listed) {
  openFtpSource(settings, transfer);
  return RemoteWalk(
             transfer, [] { return false; }, settings,
             settings.DestinationFolder + kDatedFolderStandIn)
      .walk(tree, listed);
}

}  // namespace

std::optional<std::string> ListFtpSource(const BackupSettings& settings, Inet& transfer,
                                         std::vector<std::string>& fileList) {
  SourceTree tree;
  std::vector<RemoteEntry> listed;
  const std::optional<std::string> failure = walkFtpSource(settings, transfer, tree, listed);
  if (failure) return failure;
  fileList = tree.files.strings();
  return std::nullopt;
}

FetchPlan PlanFtpFetch(const BackupSettings& settings, Inet& transfer, FileSystem& fileSystem,
                       const std::string& previousBackup) {
  FetchPlan plan;
  std::vector<RemoteEntry> listed;
  plan.listingFailure = walkFtpSource(settings, transfer, plan.tree, listed);
  const UnchangedFiles unchanged(fileSystem, previousBackup, "");
  for (const std::string_view listedName : plan.tree.files) {
    const std::string name(listedName);
    RemoteEntry& entry = listed[plan.linked.size()];
    std::optional<FileFacts> facts;
    if (!previousBackup.empty()) facts = listedFacts(transfer, name, entry);
    plan.linked.push_back(facts && unchanged.isUnchanged(name, *facts));
  }
  return plan;
}

void DownloadFromFtp(RunModule& run, Services& services, Inet& transfer,
                     const std::string& todaysFolder) {
  openFtpSource(run.Settings, transfer);

  const CancelStopsTransfers cancelStops(services.cancel, [&transfer] { transfer.Cancel(); });
  SourceTree tree;
  std::vector<RemoteEntry> listed;
  const std::optional<std::string> listingFailure =
      RemoteWalk(
          transfer, [&services] { return services.cancel.isSet(); }, run.Settings,
          todaysFolder + folderSeparator())
          .walk(tree, listed);
  run.FileList = tree.files.strings();

  run.ActivityReport = "QUILLFEN BACKUP ACTIVITY - " +
                       services.format.generalDateTime(services.clock.now()) + "\n\n";
  run.ActivityReport += "Downloading " + std::to_string(run.FileList.size()) + " files...\n";
  const std::size_t linkedLineAt = run.ActivityReport.size();
  run.ActivityReport += "\n";
  if (listingFailure) {
    run.ActivityReport += "Listing failed: " + shownName(*listingFailure) + "\n";
    run.TodaysBackupIncomplete = true;
    ++run.Tally.failures;
    run.Tally.listingFailure = *listingFailure;
  } else if (run.FileList.empty()) {
    run.ActivityReport += kEmptySourceLine;
    run.TodaysBackupIncomplete = true;
    run.Tally.sourceEmpty = true;
  }
  run.ActivityReport += tree.problemLines;
  run.TodaysBackupIncomplete = run.TodaysBackupIncomplete || tree.incomplete;
  run.Tally.failures += tree.failures;
  if (services.cancel.isSet()) return;

  const std::unique_ptr<FileSystem> fileSystem = services.createFileSystem();
  for (const std::string& folder : tree.folders)
    fileSystem->createFolder(todaysFolder + folderSeparator() + folder);
  std::optional<UnchangedFiles> unchanged;
  if (run.Settings.LinkUnchanged) {
    unchanged.emplace(*fileSystem, run.PreviousBackup, todaysFolder);
  }

  services.frmSplash.setProgressMax(
      static_cast<float>(std::max<std::size_t>(run.FileList.size(), 1)));
  UnchangedFiles* const linking = unchanged ? &*unchanged : nullptr;
  std::string connectionsLine;
  if (run.Settings.FtpConnections > 1) {
    connectionsLine =
        ConnectionsFetch(run, services, services.frmMain.Inet1(), todaysFolder, listed, linking)
            .fetch(run.Settings.FtpConnections);
  } else {
    fetchFiles(run, services, transfer, todaysFolder, listed, linking);
  }
  run.ActivityReport.insert(
      linkedLineAt, (unchanged ? unchanged->reportLine() : std::string()) + connectionsLine);
}

}  // namespace quillfen
