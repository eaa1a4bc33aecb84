#include <ctime>

#include "common/date.h"
#include "common/local_time.h"

namespace quillfen {

// The C runtime of Windows has no tm_gmtoff: the offset is the local fields read as UTC, less
// the moment itself.
LocalTime localTime(std::time_t moment) {
  LocalTime local;
  localtime_s(&local.fields, &moment);
  const std::tm& f = local.fields;
  const DateTime shown{Date{f.tm_year + 1900, f.tm_mon + 1, f.tm_mday}, f.tm_hour, f.tm_min,
                       f.tm_sec};
  local.secondsAheadOfUtc = static_cast<long>(secondsSinceEpoch(shown) - moment);
  return local;
}

}  // namespace quillfen
