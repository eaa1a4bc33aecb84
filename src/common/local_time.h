#pragma once

#include <ctime>

namespace quillfen {

// A moment as the local clock shows it, by the system's time zone rules at that moment.
struct LocalTime {
  std::tm fields{};            // tm_year counts from 1900, tm_mon from 0, as in <ctime>
  long secondsAheadOfUtc = 0;  // the zone's offset then, daylight saving time included
};

LocalTime localTime(std::time_t moment);

}  // namespace quillfen
