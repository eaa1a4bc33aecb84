#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/path_limits.h"
#include "common/text.h"
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

namespace quillfen {

namespace {

constexpr std::int32_t kListingPiece = 256;
constexpr std::int32_t kText = 0;
// Longer remote names are not fetched: no file system of a destination takes them.
constexpr std::size_t kLongestRemoteName = 1024;

std::string readListing(Inet& transfer) {
  std::string listing;
  for (;;) {
    const TransferData piece = transfer.GetChunk(kListingPiece, kText);
    const auto* text = std::get_if<std::string>(&piece);
    if (text == nullptr || text->empty()) return listing;
    listing += *text;
  }
}

// A remote name becomes a file name in today's folder: a name that could lead out of it, that
// hides characters a reader of the report cannot see (the control hands out a CR, LF or NUL
// of a name as one), that is too long for a file name or that the file system would refuse or
// change (on Windows: "a:b", "report.", "NUL") is not fetched.
bool isSafeLocalName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kLongestRemoteName) return false;
  if (!isNameTheFileSystemTakes(name)) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '/' || c == '\\' || isControlCharacter(c); });
}

bool endedInError(Inet& transfer) {
  return transfer.Outcome() != RequestOutcome::Completed;
}

// While it lives, the user's Cancel stops the transfer under way at once instead of after it.
class CancelStopsTransfer {
 public:
  CancelStopsTransfer(CancelFlag& flag, Inet& transfer) : flag_(flag) {
    flag_.onSet([&transfer] { transfer.Cancel(); });
  }
  ~CancelStopsTransfer() { flag_.onSet(nullptr); }
  CancelStopsTransfer(const CancelStopsTransfer&) = delete;
  CancelStopsTransfer& operator=(const CancelStopsTransfer&) = delete;

 private:
  CancelFlag& flag_;
};

std::string getCommand(const std::string& name, const std::string& todaysFolder) {
  return "GET " + quotedName(name) + " " + quotedName(todaysFolder + folderSeparator() + name);
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
class RemoteWalk {
 public:
  RemoteWalk(Inet& transfer, std::function<bool()> cancelled, bool includeSubfolders,
             std::string copyFolder)
      : transfer_(transfer),
        cancelled_(std::move(cancelled)),
        includeSubfolders_(includeSubfolders),
        copyFolder_(std::move(copyFolder)) {}

  // The top listing's failure is the caller's to report; it is returned, nothing when none.
  std::optional<std::string> walk(SourceTree& tree) {
    tree_ = &tree;
    transfer_.Execute(transfer_.URL(), dirCommand(""));
    if (endedInError(transfer_)) {
      const std::string failure = transfer_.ResponseInfo();
      readListing(transfer_);
      return failure;
    }
    select(readListing(transfer_), "", 0);
    return std::nullopt;
  }

 private:
  void select(const std::string& listing, const std::string& prefix, int depth) {
    std::vector<std::string> subfolders;
    // A second name the file system takes for one already listed (on Windows "Report.txt"
    // beside "report.txt") would overwrite its file: it is skipped as unsafe.
    std::set<std::string> taken;
    for (std::string& entry : listedNames(listing)) {
      const bool folder = entry.back() == '/';
      if (folder && !includeSubfolders_) continue;
      if (folder) entry.pop_back();
      const std::string path = prefix + entry;
      if (!isSafeLocalName(entry) || !taken.insert(sameNameKey(entry)).second) {
        tree_->problemLines +=
            "Skipped unsafe remote name: " + shownName(path) + (folder ? "/" : "") + "\n";
      } else if (folder) {
        subfolders.push_back(path);
      } else if (isLinkToFolder(path)) {
        tree_->problemLines += "Skipped link to folder: " + path + "\n";
      } else if (fitsInCopyFolder(*tree_, copyFolder_, path, false)) {
        tree_->files.push_back(path);
      }
    }
    for (const std::string& folder : subfolders) enter(folder, depth + 1);
  }

  bool isLinkToFolder(const std::string& path) {
    const std::optional<RemoteEntry> listed = transfer_.ListedFile(transfer_.URL(), path);
    if (!listed || !listed->isLink || cancelled_()) return false;
    transfer_.Execute(transfer_.URL(), dirCommand(path));
    readListing(transfer_);
    return !endedInError(transfer_);
  }

  bool metBefore(const std::string& folder) {
    const std::optional<RemoteEntry> listed = transfer_.ListedFile(transfer_.URL(), folder);
    return listed && !listed->identity.empty() && !entered_.insert(listed->identity).second;
  }

  void enter(const std::string& folder, int depth) {
    if (cancelled_()) return;
    if (depth > kDeepestSubfolder) {
      tree_->problemLines += "Skipped folder nested too deep: " + folder + "\n";
      tree_->incomplete = true;
      return;
    }
    if (!fitsInCopyFolder(*tree_, copyFolder_, folder, true)) return;
    if (metBefore(folder)) {
      tree_->problemLines += "Skipped folder met twice: " + folder + "\n";
      return;
    }
    transfer_.Execute(transfer_.URL(), dirCommand(folder));
    const std::string listing = readListing(transfer_);
    if (endedInError(transfer_)) {
      tree_->problemLines +=
          "Failed to list folder: " + folder + " (" + shownName(transfer_.ResponseInfo()) + ")\n";
      tree_->incomplete = true;
      ++tree_->failures;
      return;
    }
    tree_->folders.push_back(folder);
    select(listing, folder + "/", depth);
  }

  Inet& transfer_;
  const std::function<bool()> cancelled_;
  const bool includeSubfolders_;
  const std::string copyFolder_;
  std::set<std::string> entered_;  // the "unique" facts of the folders entered
  SourceTree* tree_ = nullptr;
};

// With LinkUnchanged, a file the previous backup holds unchanged is linked from there. A time
// the listing gives only to the minute or the day is first asked for to the second (MDTM);
// that exact time also dates the copy when the file is fetched after all, so that the next
// run can compare with it.
bool linkedFromPrevious(UnchangedFiles& unchanged, Inet& transfer, const std::string& name) {
  std::optional<RemoteEntry> listed = transfer.ListedFile(transfer.URL(), name);
  if (!listed || !listed->size || !listed->modified) return false;
  if (!listed->modifiedToTheSecond) {
    listed->modified = transfer.ExactModifiedTime(transfer.URL(), name);
    if (!listed->modified) return false;
  }
  return unchanged.linkIfUnchanged(name, FileFacts{*listed->size, *listed->modified});
}

void fetchFiles(RunModule& run, Services& services, Inet& transfer, const std::string& todaysFolder,
                UnchangedFiles* unchanged) {
  SplashWindow& window = services.frmSplash;
  for (std::size_t i = 0; i < run.FileList.size(); ++i) {
    if (services.cancel.isSet()) return;
    const std::string& name = run.FileList[i];
    const bool linked = unchanged != nullptr && linkedFromPrevious(*unchanged, transfer, name);
    if (services.cancel.isSet()) return;
    if (!linked) {
      transfer.Execute(transfer.URL(), getCommand(name, todaysFolder));
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

void openFtpSource(const BackupSettings& settings, Inet& transfer) {
  transfer.URL(settings.FtpIPAddress);
  transfer.UserName(settings.FtpUserName);
  transfer.Password(settings.FtpPassword);
  transfer.KeyFile(settings.FtpKeyFile);
  transfer.Trust(settings.FtpTrust);
}

}  // namespace

std::optional<std::string> ListFtpSource(const BackupSettings& settings, Inet& transfer,
                                         std::vector<std::string>& fileList) {
  openFtpSource(settings, transfer);
  SourceTree tree;
  const std::optional<std::string> failure =
      RemoteWalk(
          transfer, [] { return false; }, settings.IncludeSubfolders,
          settings.DestinationFolder + kDatedFolderStandIn)
          .walk(tree);
  if (failure) return failure;
  fileList = std::move(tree.files);
  return std::nullopt;
}

void DownloadFromFtp(RunModule& run, Services& services, Inet& transfer,
                     const std::string& todaysFolder) {
  openFtpSource(run.Settings, transfer);

  const CancelStopsTransfer cancelStops(services.cancel, transfer);
  SourceTree tree;
  const std::optional<std::string> listingFailure =
      RemoteWalk(
          transfer, [&services] { return services.cancel.isSet(); }, run.Settings.IncludeSubfolders,
          todaysFolder + folderSeparator())
          .walk(tree);
  run.FileList = std::move(tree.files);

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
  fetchFiles(run, services, transfer, todaysFolder, unchanged ? &*unchanged : nullptr);
  if (unchanged) run.ActivityReport.insert(linkedLineAt, unchanged->reportLine());
}

}  // namespace quillfen
