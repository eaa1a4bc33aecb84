#include "filestore/io.h"

#include <cstdint>

#include "common/error.h"
#include "common/text.h"
#include "config/backup_settings.h"
#include "filestore/file_system.h"
#include "process/clock.h"
#include "process/locale_format.h"

namespace quillfen {

namespace {

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

void IO::FlushToDisk(const std::string& FolderPath) {
  fso_->flushToDisk(FolderPath);
}

IO::Inventory IO::ReadFolderInfo(const std::string& sTodaysFolder, std::string& pReport) {
  // Without subfolders of the source, today's folder is flat and its own files are all.
  const std::vector<FileEntry> files = settings_.IncludeSubfolders
                                           ? fso_->treeFiles(sTodaysFolder)
                                           : fso_->folderFiles(sTodaysFolder);
  pReport += std::to_string(files.size());
  pReport += " files downloaded to '";
  pReport += sTodaysFolder;
  pReport += "':\n";
  for (const FileEntry& file : files) {
    pReport += shownName(file.name);
    pReport += "  (";
    pReport += format_.kilobytes(file.size);
    pReport += " KB)\n";
  }
  const std::uint64_t total = fso_->folderSize(sTodaysFolder);
  pReport += "\n";
  pReport += format_.kilobytes(total);
  pReport += " KB total downloaded - ";
  pReport += format_.generalDateTime(clock_.now());
  pReport += "\n\n";
  return {files.size(), total};
}

bool IO::DeleteOldBackups(const Date& dCurrDate, const std::string& sFormat,
                          bool todaysBackupIncomplete) {
  activityReport_ += "DELETING OLD BACKUPS...\n";
  bool allDeleted = true;
  if (todaysBackupIncomplete) {
    // The old copies may be the only good ones while today's is missing files.
    activityReport_ += "   ... skipped: today's backup is incomplete.\n";
  } else {
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

IO::ExpiredFolders IO::deleteExpiredFolders(const Date& dCurrDate, const std::string& sFormat) {
  ExpiredFolders expired;
  for (std::int32_t i = 0; i <= kLastCandidateOffset; ++i) {
    std::int32_t daysBack = 0;
    if (__builtin_add_overflow(settings_.DaysTillExpiration, i, &daysBack)) {
      throw Error(errc::kOverflow, "Overflow: DaysTillExpiration " +
                                       std::to_string(settings_.DaysTillExpiration) + " + " +
                                       std::to_string(i));
    }
    // Today's folder holds the backup just made, and later days are not backups yet.
    if (daysBack <= 0) continue;
    const std::string path = settings_.DestinationFolder + "/" +
                             formatFolderDate(candidateDay(dCurrDate, daysBack), sFormat);
    if (FolderExists(path)) {
      ++expired.found;
      if (!deleteExpiredFolder(path)) ++expired.kept;
    }
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
  // An empty DestinationFolder stands for the root folder: the backups are "/yyyymmdd".
  const std::string& destination = settings_.DestinationFolder;
  const DriveInfo drive = fso_->getDrive(destination.empty() ? "/" : destination);
  activityReport_ += "Free space remaining on '" + drive.letter +
                     "' drive: " + format_.kilobytes(drive.freeSpace) + " KB";
}

}  // namespace quillfen
