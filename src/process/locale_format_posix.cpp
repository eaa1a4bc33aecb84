#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <ctime>

#include "process/locale_format.h"

namespace quillfen {

namespace {

std::string environmentLocale(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

bool isPosixName(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// Owns a locale_t for the lifetime of one formatting call.
class ScopedLocale {
 public:
  ScopedLocale(int mask, const std::string& name)
      : handle_(newlocale(mask, name.c_str(), nullptr)) {}
  ~ScopedLocale() {
    if (handle_ != nullptr) freelocale(handle_);
  }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  locale_t get() const { return handle_; }

 private:
  locale_t handle_;
};

std::tm toTm(const DateTime& when) {
  std::tm tm{};
  tm.tm_year = when.date.year - 1900;
  tm.tm_mon = when.date.month - 1;
  tm.tm_mday = when.date.day;
  tm.tm_hour = when.hour;
  tm.tm_min = when.minute;
  tm.tm_sec = when.second;
  tm.tm_isdst = -1;
  tm.tm_wday = static_cast<int>(((daysFromCivil(when.date) % 7) + 11) % 7);  // 1970-01-01: Thu
  return tm;
}

}  // namespace

LocaleFormat LocaleFormat::fromEnvironment() {
  LocaleFormat format;
  const std::string timeName = environmentLocale("LC_TIME");
  if (!isPosixName(timeName)) {
    ScopedLocale time(LC_TIME_MASK, timeName);
    if (time.get() != nullptr) {
      format.posixTime_ = false;
      format.timeLocale_ = timeName;
      format.dateSeparator_ = separatorIn(nl_langinfo_l(D_FMT, time.get()), "/");
      format.timeSeparator_ = separatorIn(nl_langinfo_l(T_FMT, time.get()), ":");
      const std::string am = nl_langinfo_l(AM_STR, time.get());
      const std::string pm = nl_langinfo_l(PM_STR, time.get());
      if (!am.empty() && !pm.empty()) {
        format.am_ = am;
        format.pm_ = pm;
      }
    }
  }
  const std::string numericName = environmentLocale("LC_NUMERIC");
  if (!isPosixName(numericName)) {
    ScopedLocale numeric(LC_NUMERIC_MASK, numericName);
    if (numeric.get() != nullptr)
      format.thousandsSeparator_ = nl_langinfo_l(THOUSEP, numeric.get());
  }
  return format;
}

std::string LocaleFormat::localeDateTime(const DateTime& when) const {
  char text[128];
  ScopedLocale time(LC_TIME_MASK, timeLocale_);
  const std::tm tm = toTm(when);
  const std::size_t length = strftime_l(text, sizeof text, "%x %X", &tm, time.get());
  return std::string(text, length);
}

}  // namespace quillfen
