#include <windows.h>

#include <string>

#include "common/windows_calls.h"
#include "process/locale_format.h"

namespace quillfen {

namespace {

// One value of the user's regional settings, or `fallback` when it cannot be read.
std::string userLocaleInfo(LCTYPE type, const std::string& fallback) {
  wchar_t value[LOCALE_NAME_MAX_LENGTH];
  const int length =
      ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, value, LOCALE_NAME_MAX_LENGTH);
  if (length <= 1) return fallback;
  return utf8Text(std::wstring_view(value, static_cast<std::size_t>(length - 1)));
}

SYSTEMTIME systemTimeOf(const DateTime& when) {
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(when.date.year);
  time.wMonth = static_cast<WORD>(when.date.month);
  time.wDay = static_cast<WORD>(when.date.day);
  time.wHour = static_cast<WORD>(when.hour);
  time.wMinute = static_cast<WORD>(when.minute);
  time.wSecond = static_cast<WORD>(when.second);
  return time;
}

}  // namespace

// The separators the mail frame's short time uses come from the same settings; the "###,###"
// grouping of sizes is in threes whatever the settings group by.
LocaleFormat LocaleFormat::fromEnvironment() {
  LocaleFormat format;
  format.posixTime_ = false;
  format.thousandsSeparator_ = userLocaleInfo(LOCALE_STHOUSAND, format.thousandsSeparator_);
  format.dateSeparator_ = userLocaleInfo(LOCALE_SDATE, format.dateSeparator_);
  format.timeSeparator_ = userLocaleInfo(LOCALE_STIME, format.timeSeparator_);
  const std::string am = userLocaleInfo(LOCALE_S1159, "");
  const std::string pm = userLocaleInfo(LOCALE_S2359, "");
  if (!am.empty() && !pm.empty()) {
    format.am_ = am;
    format.pm_ = pm;
  }
  return format;
}

// The short date and the long time (with seconds) of the regional settings, as the general
// date-and-time form shows them.
std::string LocaleFormat::localeDateTime(const DateTime& when) const {
  const SYSTEMTIME time = systemTimeOf(when);
  wchar_t date[128];
  wchar_t clock[128];
  const int dateLength = ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr,
                                           date, 128, nullptr);
  const int clockLength =
      ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &time, nullptr, clock, 128);
  if (dateLength <= 1 || clockLength <= 1) return LocaleFormat::posix().generalDateTime(when);
  return utf8Text(std::wstring_view(date, static_cast<std::size_t>(dateLength - 1))) + " " +
         utf8Text(std::wstring_view(clock, static_cast<std::size_t>(clockLength - 1)));
}

}  // namespace quillfen
