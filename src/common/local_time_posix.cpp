#include <ctime>

#include "common/local_time.h"

namespace quillfen {

LocalTime localTime(std::time_t moment) {
  LocalTime local;
  localtime_r(&moment, &local.fields);
  local.secondsAheadOfUtc = local.fields.tm_gmtoff;
  return local;
}

}  // namespace quillfen
