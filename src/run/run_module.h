#pragma once

#include <string>
#include <vector>

#include "config/backup_settings.h"

namespace quillfen {

// The module-level state of one process: the settings, the activity report (its line end is
// a single LF) and the names selected by the last FTP listing.
struct RunModule {
  BackupSettings Settings;
  std::string ActivityReport;
  std::vector<std::string> FileList;
  // Set by the fetch stage when a listing or a file failed: pruning is then skipped.
  bool TodaysBackupIncomplete = false;
  // Set by pruning when an expired folder could not be deleted.
  bool ExpiredBackupsRemain = false;
};

}  // namespace quillfen
