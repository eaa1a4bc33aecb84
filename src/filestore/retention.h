#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/date.h"

namespace quillfen {

// How many of the newest days, ISO weeks (Monday to Sunday) and months that have a backup keep
// their newest backup.
struct KeepPolicy {
  std::int32_t daily = 0;
  std::int32_t weekly = 0;
  std::int32_t monthly = 0;
};

// The day a backup folder's name stands for: exactly eight digits "yyyymmdd" of a real date.
std::optional<Date> dateOfBackupName(const std::string& name);

// Of the backups of `backups` (one per day, any order), the ones `policy` does not keep, newest
// first. Each rule walks the backups newest first and keeps one whenever its day, week or month
// differs from that of the last one the rule kept, until the rule has kept its number; a backup
// any rule keeps stays. `today`'s backup counts among them, whether listed or not, and is never
// given out: it is the one just made. Backups of later days are no backups of this clock's and
// are left alone.
std::vector<Date> backupsNotKept(std::vector<Date> backups, const Date& today,
                                 const KeepPolicy& policy);

}  // namespace quillfen
