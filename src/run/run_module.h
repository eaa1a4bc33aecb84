#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/backup_settings.h"

namespace quillfen {

// What a run did, for its line in the system log.
struct RunTally {
  std::uint64_t filesFetched = 0;  // the files in today's folder after the fetch stage
  std::uint64_t bytesFetched = 0;  // their sizes
  int failures = 0;                // a failed listing, each file not fetched or not copied
  int foldersPruned = 0;           // expired folders deleted
  // What made the run incomplete, for the line that says why.
  int filesFailed = 0;         // files not fetched or not copied
  std::string listingFailure;  // the failed listing's reply or reason; empty when it worked
  bool sourceEmpty = false;    // the source was read and held no file
  int foldersNotDeleted = 0;   // expired folders that could not be deleted
};

// The module-level state of one process: the settings, the activity report (its line end is
// a single LF) and the names selected by the last FTP listing.
struct RunModule {
  BackupSettings Settings;
  std::string ActivityReport;
  std::vector<std::string> FileList;
  // With LinkUnchanged: the backup that unchanged files are linked from; empty when none.
  std::string PreviousBackup;
  // Set by the fetch stage when a listing or a file failed: pruning is then skipped.
  bool TodaysBackupIncomplete = false;
  // Set by pruning when an expired folder could not be deleted.
  bool ExpiredBackupsRemain = false;
  // Set once the settings loaded: from then on every outcome but a cancel is mailed.
  bool SettingsLoaded = false;
  // The message that refused the settings (exit code 2), as it was shown; empty otherwise.
  std::string RefusalText;
  // Set when the notification stage begins: an error after it is the mail's own.
  bool NotificationStarted = false;
  // The report line of a failed start ping; empty when it went through or none was sent.
  std::string StartPingFailure;
  // With -c: "<file name> on <host>", which the mails and the log line name so that one job
  // of several is told from the others; empty for Config.ini beside the executable.
  std::string Job;
  // "Error N: description" of the error that ended the run, as it was reported; empty when none.
  std::string FailureText;
  // Today's folder (the dated one under DestinationFolder) once the run has its date.
  std::string TodaysFolder;
  RunTally Tally;
};

// The run completed, but some files were not fetched or some expired folders not pruned.
inline bool isIncomplete(const RunModule& run) {
  return run.TodaysBackupIncomplete || run.ExpiredBackupsRemain;
}

}  // namespace quillfen
