#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/date.h"

namespace quillfen {

// Every locale-dependent text of the program: the general date-and-time form, grouped
// kilobyte figures and the mail frame's short time. In the C/POSIX locale the forms are the
// US ones ("10/5/2003 2:15:03 AM", "1,024").
class LocaleFormat {
 public:
  // The C/POSIX forms, whatever the environment says.
  static LocaleFormat posix();
  // The user's forms. Linux: those of LC_TIME and LC_NUMERIC as the environment sets them
  // (LC_ALL, then the category, then LANG); a locale that is not installed falls back to the
  // POSIX forms. Windows: the user's regional settings.
  static LocaleFormat fromEnvironment();

  // The locale's date followed by its time with seconds.
  std::string generalDateTime(const DateTime& when) const;
  // "mm/dd/yy h:mm AMPM": two-digit month, day and year, 12-hour clock without a leading zero;
  // "/", ":" and the designators are the locale's.
  std::string mailTime(const DateTime& when) const;
  // bytes / 1024 rounded half up, grouped in threes with the locale's thousands separator.
  std::string kilobytes(std::uint64_t bytes) const;
  // `value` grouped in threes with the locale's thousands separator.
  std::string grouped(std::uint64_t value) const;

  const std::string& thousandsSeparator() const { return thousandsSeparator_; }

 private:
  LocaleFormat() = default;
  // The date and time in the user's own forms (posixTime_ false).
  std::string localeDateTime(const DateTime& when) const;

  bool posixTime_ = true;
  std::string timeLocale_;  // the LC_TIME locale name when not POSIX (Linux)
  std::string thousandsSeparator_ = ",";
  std::string dateSeparator_ = "/";
  std::string timeSeparator_ = ":";
  std::string am_ = "AM";
  std::string pm_ = "PM";
};

// What stands between the first two fields of a strftime format ("%d.%m.%Y": "."), or
// `fallback` when nothing does.
std::string separatorIn(std::string_view format, std::string_view fallback);

}  // namespace quillfen
