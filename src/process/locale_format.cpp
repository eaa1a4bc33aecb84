#include "process/locale_format.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

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

int twelveHour(int hour) {
  return hour % 12 == 0 ? 12 : hour % 12;
}

}  // namespace

LocaleFormat LocaleFormat::posix() {
  return LocaleFormat();
}

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

std::string LocaleFormat::generalDateTime(const DateTime& when) const {
  char text[128];
  if (posixTime_) {
    std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", when.date.month, when.date.day,
                  when.date.year, twelveHour(when.hour), when.minute, when.second,
                  when.hour < 12 ? am_.c_str() : pm_.c_str());
    return text;
  }
  ScopedLocale time(LC_TIME_MASK, timeLocale_);
  const std::tm tm = toTm(when);
  const std::size_t length = strftime_l(text, sizeof text, "%x %X", &tm, time.get());
  return std::string(text, length);
}

std::string LocaleFormat::mailTime(const DateTime& when) const {
  char text[64];
  std::snprintf(text, sizeof text, "%02d%s%02d%s%02d %d%s%02d %s", when.date.month,
                dateSeparator_.c_str(), when.date.day, dateSeparator_.c_str(),
                ((when.date.year % 100) + 100) % 100, twelveHour(when.hour), timeSeparator_.c_str(),
                when.minute, when.hour < 12 ? am_.c_str() : pm_.c_str());
  return text;
}

std::string separatorIn(std::string_view format, std::string_view fallback) {
  // Past the first field: "%", any flags, width or E/O modifier, then the conversion letter.
  std::size_t at = format.find('%');
  if (at == std::string_view::npos) return std::string(fallback);
  ++at;
  while (at < format.size() &&
         std::string_view("_-0^#EO123456789").find(format[at]) != std::string_view::npos) {
    ++at;
  }
  const std::size_t begin = at + 1;
  if (begin >= format.size()) return std::string(fallback);
  const std::string_view between = format.substr(begin, format.find('%', begin) - begin);
  return between.empty() ? std::string(fallback) : std::string(between);
}

std::string LocaleFormat::grouped(std::uint64_t value) const {
  const std::string digits = std::to_string(value);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += thousandsSeparator_;
    text += digits[i];
  }
  return text;
}

std::string LocaleFormat::kilobytes(std::uint64_t bytes) const {
  // Whole kilobytes, halves rounded up: exact in integers, where a double would not be.
  return grouped(bytes / 1024 + (bytes % 1024 >= 512 ? 1 : 0));
}

}  // namespace quillfen
