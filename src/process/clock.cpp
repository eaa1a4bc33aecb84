#include "process/clock.h"

#include <ctime>

#include "common/local_time.h"

namespace quillfen {

DateTime SystemClock::now() const {
  const std::time_t seconds = std::time(nullptr);
  const std::tm local = localTime(seconds).fields;
  return DateTime{Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, local.tm_hour,
                  local.tm_min, local.tm_sec};
}

}  // namespace quillfen
