#include "process/locale_format.h"

#include <cstdio>

namespace quillfen {

namespace {

int twelveHour(int hour) {
  return hour % 12 == 0 ? 12 : hour % 12;
}

}  // namespace

LocaleFormat LocaleFormat::posix() {
  return LocaleFormat();
}

std::string LocaleFormat::generalDateTime(const DateTime& when) const {
  if (!posixTime_) return localeDateTime(when);
  char text[128];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", when.date.month, when.date.day,
                when.date.year, twelveHour(when.hour), when.minute, when.second,
                when.hour < 12 ? am_.c_str() : pm_.c_str());
  return text;
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
