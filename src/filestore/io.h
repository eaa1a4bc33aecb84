#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/date.h"

namespace quillfen {

class Clock;
class FileSystem;
class LocaleFormat;
struct BackupSettings;

// The program's access to the backup store, over one file system object.
// DeleteOldBackups reads the settings and appends to the activity report bound here.
class IO {
 public:
  IO(std::unique_ptr<FileSystem> fileSystem, const BackupSettings& settings,
     std::string& activityReport, const Clock& clock, const LocaleFormat& format);
  ~IO();
  IO(const IO&) = delete;
  IO& operator=(const IO&) = delete;

  bool FolderExists(const std::string& FolderPath);
  bool FileExists(const std::string& FilePath);
  void MakeFolder(const std::string& FolderPath);
  void DeleteFile(const std::string& FilePath);
  void DeleteFolder(const std::string& FolderPath);
  // Returns once the files of `FolderPath` are on the disk: before anything older is deleted.
  void FlushToDisk(const std::string& FolderPath);
  struct Inventory {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
  };
  // Appends the inventory of today's folder to pReport and returns its totals.
  Inventory ReadFolderInfo(const std::string& sTodaysFolder, std::string& pReport);
  // Deletes the dated folders of the days DaysTillExpiration to DaysTillExpiration + 20 before
  // dCurrDate and appends what it did and the free space to the activity report. With
  // `todaysBackupIncomplete` nothing is deleted and the report says why. False when an expired
  // folder could not be deleted (the report names it and why).
  bool DeleteOldBackups(const Date& dCurrDate, const std::string& sFormat,
                        bool todaysBackupIncomplete = false);
  // The expired folders the last DeleteOldBackups deleted.
  int FoldersPruned() const { return foldersPruned_; }
  // The expired folders the last pruning found but could not delete.
  int FoldersNotDeleted() const { return foldersNotDeleted_; }

 private:
  struct ExpiredFolders {
    int found = 0;  // dated folders of the candidate days
    int kept = 0;   // of them, the ones that could not be deleted
  };
  // Deletes the existing folders of the 21 candidate days.
  ExpiredFolders deleteExpiredFolders(const Date& dCurrDate, const std::string& sFormat);
  // Deletes one expired folder; false, with a report line, when that failed.
  bool deleteExpiredFolder(const std::string& path);
  void appendFreeSpace();

  std::unique_ptr<FileSystem> fso_;
  const BackupSettings& settings_;
  std::string& activityReport_;
  const Clock& clock_;
  const LocaleFormat& format_;
  int foldersPruned_ = 0;
  int foldersNotDeleted_ = 0;
};

}  // namespace quillfen
