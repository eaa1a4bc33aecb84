#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/date.h"
#include "filestore/file_system.h"

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
  // Today's backup is filled in a staging folder beside the dated folders, under a name that
  // is no date, and takes today's name only as the last step: a run that fails cannot spoil a
  // good backup of today that an earlier run left.
  std::string StagingFolder() const;
  // Clears up after earlier runs (a killed run's staging folder or a folder it had set aside
  // in a swap, the marks of past days) and makes an empty staging folder.
  void PrepareStaging(const std::string& sTodaysFolder);
  enum class Placement {
    Placed,       // there was no folder of today: the staging folder now is it
    Replaced,     // the new backup took the place of the earlier one of today
    KeptEarlier,  // the new backup was not better: the earlier one of today stays, unchanged
  };
  // Gives the staging folder today's name when there is no folder of today yet, when the new
  // backup is `complete`, or when the earlier one of today was incomplete too and holds no more
  // files; otherwise deletes it. A backup is on the disk before it takes another one's place.
  Placement PlaceStaging(const std::string& sTodaysFolder, bool complete);
  // Returns once the files of `FolderPath` are on the disk: before anything older is deleted.
  void FlushToDisk(const std::string& FolderPath);
  struct Inventory {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
  };
  // Appends the inventory of today's folder to pReport and returns its totals.
  Inventory ReadFolderInfo(const std::string& sTodaysFolder, std::string& pReport);
  // The dated folders pruning deletes, newest first: with KeepDaily, KeepWeekly or KeepMonthly
  // set, every folder "yyyymmdd" under the destination that the policy does not keep (today's
  // backup counted among them); otherwise those of the days DaysTillExpiration to
  // DaysTillExpiration + 20 before dCurrDate. Deletes nothing.
  std::vector<std::string> FoldersToPrune(const Date& dCurrDate, const std::string& sFormat);
  // Deletes the folders FoldersToPrune gives and appends what it did and the free space to
  // the activity report. With
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
  ExpiredFolders deleteExpiredFolders(const Date& dCurrDate, const std::string& sFormat);
  // The existing folders of the 21 candidate days.
  std::vector<std::string> foldersPastExpiration(const Date& dCurrDate, const std::string& sFormat);
  std::vector<std::string> foldersNotKept(const Date& dCurrDate);
  std::string keepPolicyLine() const;
  // Deletes one expired folder; false, with a report line, when that failed.
  bool deleteExpiredFolder(const std::string& path);
  void appendFreeSpace();
  std::string beside(const std::string& name) const;
  void swapIntoPlace(const std::string& staging, const std::string& sTodaysFolder);
  void clearUpEarlierRuns(const std::string& todaysName);
  void markIncomplete(const std::string& mark, bool incomplete);
  void visitBackupFiles(const std::string& folder, const FileVisitor& visit);
  std::uint64_t countFiles(const std::string& folder);

  std::unique_ptr<FileSystem> fso_;
  const BackupSettings& settings_;
  std::string& activityReport_;
  const Clock& clock_;
  const LocaleFormat& format_;
  int foldersPruned_ = 0;
  int foldersNotDeleted_ = 0;
};

}  // namespace quillfen
