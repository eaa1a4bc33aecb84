#pragma once

#include <cstdint>
#include <string>

namespace quillfen {

// A calendar day of the proleptic Gregorian calendar.
struct Date {
  int year = 1970;
  int month = 1;  // 1-12
  int day = 1;    // 1-31

  friend bool operator==(const Date&, const Date&) = default;
};

// A local date and time of day, to the second.
struct DateTime {
  Date date;
  int hour = 0;  // 0-23
  int minute = 0;
  int second = 0;

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Days since 1970-01-01; exact for every representable year.
std::int64_t daysFromCivil(const Date& date);
Date civilFromDays(std::int64_t days);

// Seconds since 1970-01-01 00:00:00 of a date and time read as UTC. Fields out of their range
// carry over as the calendar does (month 13 is January of the next year, second 60 the next
// minute's first).
std::int64_t secondsSinceEpoch(const DateTime& utc);

// The date `days` calendar days after (negative: before) `date`.
Date addDays(const Date& date, std::int64_t days);

// "yyyymmdd": four-digit year, two-digit month and day. The name of a backup folder.
std::string formatYyyymmdd(const Date& date);

}  // namespace quillfen
