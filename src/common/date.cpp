#include "common/date.h"

#include <cstdio>

namespace quillfen {

// Howard Hinnant's days_from_civil / civil_from_days: era-based, valid for every year.
std::int64_t daysFromCivil(const Date& date) {
  const std::int64_t y = static_cast<std::int64_t>(date.year) - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (date.month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + date.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Date civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return Date{static_cast<int>(year), month, day};
}

std::int64_t secondsSinceEpoch(const DateTime& utc) {
  // The month is brought into 1-12 first; days, hours, minutes and seconds add up linearly.
  const std::int64_t monthsFromJanuary = utc.date.month - 1;
  const std::int64_t yearCarry =
      (monthsFromJanuary >= 0 ? monthsFromJanuary : monthsFromJanuary - 11) / 12;
  const Date firstOfMonth{static_cast<int>(utc.date.year + yearCarry),
                          static_cast<int>(monthsFromJanuary - yearCarry * 12 + 1), 1};
  const std::int64_t days = daysFromCivil(firstOfMonth) + utc.date.day - 1;
  return ((days * 24 + utc.hour) * 60 + utc.minute) * 60 + utc.second;
}

Date addDays(const Date& date, std::int64_t days) {
  return civilFromDays(daysFromCivil(date) + days);
}

std::string formatYyyymmdd(const Date& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month, date.day);
  return text;
}

}  // namespace quillfen
