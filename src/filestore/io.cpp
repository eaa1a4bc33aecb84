#include "filestore/io.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/error.h"
#include "common/path_limits.h"
#include "common/text.h"
#include "config/backup_settings.h"
#include "filestore/file_system.h"
#include "filestore/retention.h"
#include "process/clock.h"
#include "process/locale_format.h"

namespace quillfen {

namespace {

// Neither name is a date, so that neither pruning nor the search for the previous backup ever
// takes these folders for a backup.
constexpr const char* kStagingName = ".quillfen-staging";
constexpr const char* kSetAsidePrefix = ".quillfen-replaced-";
// Beside a backup of today that is not complete, so that a later run of the day may replace it.
constexpr const char* kIncompleteMarkPrefix = ".quillfen-incomplete-";

std::string nameOf(const std::string& path) {
  return path.substr(path.find_last_of(folderSeparator()) + 1);
}

// An empty DestinationFolder stands for the root folder: the backups are "/yyyymmdd".
std::string folderOrRoot(const std::string& folder) {
  return folder.empty() ? std::string(1, folderSeparator()) : folder;
}

constexpr std::int32_t kLastCandidateOffset = 20;  // 21 candidate days
constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;  // the folder name has room for four digits

// The backup folder name of `day`. Only the pattern the run uses for its folders is known.
std::string formatFolderDate(const Date& day, const std::string& pattern) {
  if (pattern != "yyyymmdd") {
    throw Error(errc::kInvalidArgument, "Unsupported folder name pattern '" + pattern + "'");
  }
  return formatYyyymmdd(day);
}

Date candidateDay(const Date& reference, std::int32_t daysBack) {
  const Date day = addDays(reference, -static_cast<std::int64_t>(daysBack));
  if (day.year < kFirstYear || day.year > kLastYear) {
    throw Error(errc::kInvalidArgument, "Date out of range: " + std::to_string(daysBack) +
                                            " days before " + formatYyyymmdd(reference));
  }
  return day;
}

}  // namespace

IO::IO(std::unique_ptr<FileSystem> fileSystem, const BackupSettings& settings,
       std::string& activityReport, const Clock& clock, const LocaleFormat& format)
    : fso_(std::move(fileSystem)),
      settings_(settings),
      activityReport_(activityReport),
      clock_(clock),
      format_(format) {}

IO::~IO() = default;

bool IO::FolderExists(const std::string& FolderPath) {
  return fso_->folderExists(FolderPath);
}
bool IO::FileExists(const std::string& FilePath) {
  return fso_->fileExists(FilePath);
}

void IO::MakeFolder(const std::string& FolderPath) {
  if (!FolderExists(FolderPath)) fso_->createFolder(FolderPath);
}

void IO::DeleteFile(const std::string& FilePath) {
  if (FileExists(FilePath)) fso_->deleteFile(FilePath, true);
}

void IO::DeleteFolder(const std::string& FolderPath) {
  if (FolderExists(FolderPath)) fso_->deleteFolder(FolderPath, true);
}

std::string IO::beside(const std::string& name) const {
  return settings_.DestinationFolder + folderSeparator() + name;
}

std::string IO::StagingFolder() const {
  return beside(kStagingName);
}

void IO::PrepareStaging(const std::string& sTodaysFolder) {
  clearUpEarlierRuns(nameOf(sTodaysFolder));
  DeleteFolder(StagingFolder());
  fso_->createFolder(StagingFolder());
}

// A run killed in the middle of a swap by two renames left a backup set aside: it goes back to
// its name when nothing took that name, and is deleted when the new one did. The marks of
// incomplete backups matter only on their own day.
void IO::clearUpEarlierRuns(const std::string& todaysName) {
  for (const std::string& name :
       fso_->readFolder(folderOrRoot(settings_.DestinationFolder)).folders) {
    if (name.starts_with(kSetAsidePrefix)) {
      const std::string dated = beside(name.substr(std::string_view(kSetAsidePrefix).size()));
      if (FolderExists(dated)) {
        DeleteFolder(beside(name));
      } else {
        fso_->renameFolder(beside(name), dated);
      }
    } else if (name.starts_with(kIncompleteMarkPrefix) &&
               name != kIncompleteMarkPrefix + todaysName) {
      DeleteFolder(beside(name));
    }
  }
}

IO::Placement IO::PlaceStaging(const std::string& sTodaysFolder, bool complete) {
  const std::string staging = StagingFolder();
  const std::string incompleteMark = beside(kIncompleteMarkPrefix + nameOf(sTodaysFolder));
  if (!FolderExists(sTodaysFolder)) {
    fso_->renameFolder(staging, sTodaysFolder);
    markIncomplete(incompleteMark, !complete);
    return Placement::Placed;
  }
  // An incomplete backup of today is replaced by a later one that holds no fewer files.
  const bool better = complete || (FolderExists(incompleteMark) &&
                                   countFiles(staging) >= countFiles(sTodaysFolder));
  if (!better) {
    DeleteFolder(staging);
    return Placement::KeptEarlier;
  }
  swapIntoPlace(staging, sTodaysFolder);
  markIncomplete(incompleteMark, !complete);
  return Placement::Replaced;
}

// The mark is an empty folder beside the backups: it needs no more of the file system than the
// backups do, and no inventory of a backup ever sees it.
void IO::markIncomplete(const std::string& mark, bool incomplete) {
  if (incomplete) {
    MakeFolder(mark);
  } else {
    DeleteFolder(mark);
  }
}

// Without subfolders of the source, a backup folder is flat and its own files are all.
void IO::visitBackupFiles(const std::string& folder, const FileVisitor& visit) {
  fso_->visitFiles(folder, settings_.IncludeSubfolders, visit);
}

std::uint64_t IO::countFiles(const std::string& folder) {
  std::uint64_t count = 0;
  visitBackupFiles(folder, [&count](std::string_view, std::uint64_t) { ++count; });
  return count;
}

// The earlier backup is deleted only once the new one holds today's name, and the new one
// holds it only once it is on the disk: no crash leaves today without a backup.
void IO::swapIntoPlace(const std::string& staging, const std::string& sTodaysFolder) {
  FlushToDisk(staging);
  if (fso_->exchangeFolders(staging, sTodaysFolder)) {
    DeleteFolder(staging);
    return;
  }
  const std::string setAside = beside(kSetAsidePrefix + nameOf(sTodaysFolder));
  fso_->renameFolder(sTodaysFolder, setAside);
  fso_->renameFolder(staging, sTodaysFolder);
  DeleteFolder(setAside);
}

void IO::FlushToDisk(const std::string& FolderPath) {
  fso_->flushToDisk(FolderPath);
}

// One walk of the whole tree gives both the file lines, written as it goes, and the total, which
// counts what lies in subfolders even when they are not backed up; the count line that heads
// the file lines is put in front once it is known. The files are never all held.
IO::Inventory IO::ReadFolderInfo(const std::string& sTodaysFolder, std::string& pReport) {
  const std::size_t countLineAt = pReport.size();
  Inventory inventory;
  fso_->visitFiles(sTodaysFolder, true, [&](std::string_view name, std::uint64_t size) {
    inventory.bytes += size;
    if (!settings_.IncludeSubfolders && name.find('/') != std::string_view::npos) return;
    ++inventory.files;
    pReport += shownName(name);
    pReport += "  (";
    pReport += format_.kilobytes(size);
    pReport += " KB)\n";
  });
  pReport.insert(countLineAt, std::to_string(inventory.files) + " files downloaded to '" +
                                  sTodaysFolder + "':\n");
  pReport += "\n";
  pReport += format_.kilobytes(inventory.bytes);
  pReport += " KB total downloaded - ";
  pReport += format_.generalDateTime(clock_.now());
  pReport += "\n\n";
  return inventory;
}

bool IO::DeleteOldBackups(const Date& dCurrDate, const std::string& sFormat,
                          bool todaysBackupIncomplete) {
  activityReport_ += "DELETING OLD BACKUPS...\n";
  bool allDeleted = true;
  if (todaysBackupIncomplete) {
    // The old copies may be the only good ones while today's is missing files.
    activityReport_ += "   ... skipped: today's backup is incomplete.\n";
  } else {
    activityReport_ += keepPolicyLine();
    const ExpiredFolders expired = deleteExpiredFolders(dCurrDate, sFormat);
    if (expired.found == 0) activityReport_ += "   ... no expired backups found.\n";
    allDeleted = expired.kept == 0;
    foldersPruned_ = expired.found - expired.kept;
    foldersNotDeleted_ = expired.kept;
  }
  activityReport_ += "... DONE\n\n";
  appendFreeSpace();
  return allDeleted;
}

std::vector<std::string> IO::FoldersToPrune(const Date& dCurrDate, const std::string& sFormat) {
  if (settings_.KeepDaily || settings_.KeepWeekly || settings_.KeepMonthly)
    return foldersNotKept(dCurrDate);
  return foldersPastExpiration(dCurrDate, sFormat);
}

// With the Keep keys the report says which backups stay, and so why the others went.
std::string IO::keepPolicyLine() const {
  std::string periods;
  for (const auto& [count, unit] :
       {std::pair{settings_.KeepDaily, " days"}, std::pair{settings_.KeepWeekly, " weeks"},
        std::pair{settings_.KeepMonthly, " months"}}) {
    if (count) periods += (periods.empty() ? "" : ", ") + std::to_string(*count) + unit;
  }
  if (periods.empty()) return {};
  return "Keeping the newest backup of each of the last " + periods + " that have one.\n";
}

std::vector<std::string> IO::foldersPastExpiration(const Date& dCurrDate,
                                                   const std::string& sFormat) {
  std::vector<std::string> expired;
  for (std::int32_t i = 0; i <= kLastCandidateOffset; ++i) {
    std::int32_t daysBack = 0;
    if (__builtin_add_overflow(settings_.DaysTillExpiration, i, &daysBack)) {
      throw Error(errc::kOverflow, "Overflow: DaysTillExpiration " +
                                       std::to_string(settings_.DaysTillExpiration) + " + " +
                                       std::to_string(i));
    }
    // Today's folder holds the backup just made, and later days are not backups yet.
    if (daysBack <= 0) continue;
    const std::string path = beside(formatFolderDate(candidateDay(dCurrDate, daysBack), sFormat));
    if (FolderExists(path)) expired.push_back(path);
  }
  return expired;
}

// Every real folder of a date's name counts, however old: a paused schedule or a policy made
// stricter leaves none behind. Anything else under the destination is not a backup.
std::vector<std::string> IO::foldersNotKept(const Date& dCurrDate) {
  std::vector<Date> backups;
  for (const std::string& name :
       fso_->readFolder(folderOrRoot(settings_.DestinationFolder)).folders) {
    if (const std::optional<Date> day = dateOfBackupName(name)) backups.push_back(*day);
  }
  const KeepPolicy policy{settings_.KeepDaily.value_or(0), settings_.KeepWeekly.value_or(0),
                          settings_.KeepMonthly.value_or(0)};
  std::vector<std::string> paths;
  for (const Date& day : backupsNotKept(std::move(backups), dCurrDate, policy))
    paths.push_back(beside(formatYyyymmdd(day)));
  return paths;
}

IO::ExpiredFolders IO::deleteExpiredFolders(const Date& dCurrDate, const std::string& sFormat) {
  ExpiredFolders expired;
  for (const std::string& path : FoldersToPrune(dCurrDate, sFormat)) {
    ++expired.found;
    if (!deleteExpiredFolder(path)) ++expired.kept;
  }
  return expired;
}

// Whatever stops the deletion of one folder concerns that folder only: the report names it and
// the other expired folders are still deleted, on the next run this one is tried again.
bool IO::deleteExpiredFolder(const std::string& path) {
  activityReport_ += "Deleting folder: " + path + "\n";
  try {
    DeleteFolder(path);
    return true;
  } catch (const Error& error) {
    activityReport_ += "Could not delete folder: " + path + " (" + error.description() + ")\n";
    return false;
  }
}

void IO::appendFreeSpace() {
  const DriveInfo drive = fso_->getDrive(folderOrRoot(settings_.DestinationFolder));
  activityReport_ += "Free space remaining on '" + drive.letter +
                     "' drive: " + format_.kilobytes(drive.freeSpace) + " KB";
}

}  // namespace quillfen
