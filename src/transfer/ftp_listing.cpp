#include "transfer/ftp_listing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>

#include "common/date.h"

namespace quillfen {

namespace {

// Splits at CR LF when the text ends in one, keeping a CR or LF alone within its line; splits
// at LF otherwise, dropping the CR before it. The last line may lack its end.
std::vector<std::string_view> linesOf(std::string_view text) {
  const bool crLf = text.ends_with("\r\n");
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = crLf ? text.find("\r\n") : text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!crLf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + (crLf ? 2 : 1));
  }
  return lines;
}

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool isDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::optional<std::uint64_t> wholeNumber(std::string_view digits) {
  std::uint64_t value = 0;
  if (!isDigits(digits)) return std::nullopt;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

int number(std::string_view digits) {
  return static_cast<int>(wholeNumber(digits).value_or(0));
}

// A moment of the UTC calendar; nothing for a field out of its range.
std::optional<std::time_t> utcMoment(const DateTime& moment) {
  const Date& date = moment.date;
  const auto within = [](int value, int low, int high) { return value >= low && value <= high; };
  if (!within(date.month, 1, 12) || !within(date.day, 1, 31) || !within(moment.hour, 0, 23) ||
      !within(moment.minute, 0, 59) || !within(moment.second, 0, 60) ||
      !within(date.year, 1, 9999)) {
    return std::nullopt;
  }
  const std::int64_t days = daysFromCivil(date);
  return static_cast<std::time_t>(days * 86400 + moment.hour * 3600 + moment.minute * 60 +
                                  moment.second);
}

// MLSD's "YYYYMMDDHHMMSS", maybe with fractions of a second, which are dropped.
std::optional<std::time_t> mlsdTime(std::string_view value) {
  value = value.substr(0, value.find('.'));
  if (value.size() != 14 || !isDigits(value)) return std::nullopt;
  return utcMoment(
      {{number(value.substr(0, 4)), number(value.substr(4, 2)), number(value.substr(6, 2))},
       number(value.substr(8, 2)),
       number(value.substr(10, 2)),
       number(value.substr(12, 2))});
}

bool isDotEntry(std::string_view name) {
  return name == "." || name == "..";
}

// A word of a line with the offset just behind it.
struct Word {
  std::string_view text;
  std::size_t end;
};

std::vector<Word> wordsOf(std::string_view line, std::size_t limit) {
  std::vector<Word> words;
  std::size_t at = 0;
  while (at < line.size() && words.size() < limit) {
    while (at < line.size() && line[at] == ' ') ++at;
    const std::size_t start = at;
    while (at < line.size() && line[at] != ' ') ++at;
    if (at > start) words.push_back({line.substr(start, at - start), at});
  }
  return words;
}

std::optional<RemoteEntry> parseMlsdLine(std::string_view line) {
  const auto space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view name = line.substr(space + 1);
  std::string type;
  std::string_view size, modify, unique;
  std::string_view facts = line.substr(0, space);
  while (!facts.empty()) {
    const auto end = facts.find(';');
    const std::string_view fact = facts.substr(0, end);
    if (const auto equals = fact.find('='); equals != std::string_view::npos) {
      const std::string key = lowered(fact.substr(0, equals));
      const std::string_view value = fact.substr(equals + 1);
      if (key == "type") type = lowered(value);
      if (key == "size") size = value;
      if (key == "modify") modify = value;
      if (key == "unique") unique = value;
    }
    if (end == std::string_view::npos) break;
    facts.remove_prefix(end + 1);
  }
  if (name.empty() || type == "cdir" || type == "pdir" || isDotEntry(name)) return std::nullopt;
  RemoteEntry entry{
      .name = std::string(name),
      .isDirectory = type == "dir",
      .isLink = type.starts_with("os.unix=slink") || type.starts_with("os.unix=symlink"),
      .identity = std::string(unique)};
  // A link's facts may be its own rather than those of the file RETR sends.
  if (type == "file") {
    entry.size = wholeNumber(size);
    entry.modified = mlsdTime(modify);
    entry.modifiedToTheSecond = entry.modified.has_value();
  }
  return entry;
}

// 1-12 for an English month abbreviation, 0 for any other word.
int monthNumber(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string month = lowered(word);
  const auto found = std::find(kMonths.begin(), kMonths.end(), month);
  return found == kMonths.end() ? 0 : static_cast<int>(found - kMonths.begin()) + 1;
}

bool isMonth(std::string_view word) {
  return monthNumber(word) != 0;
}

bool isDayOfMonth(std::string_view word) {
  return isDigits(word) && word.size() <= 2;
}

bool isTimeOrYear(std::string_view word) {
  if (isDigits(word)) return word.size() == 4;
  const auto colon = word.find(':');
  return colon != std::string_view::npos && isDigits(word.substr(0, colon)) &&
         isDigits(word.substr(colon + 1));
}

// "Jan 15 10:30" (within the year up to now) or "Jan 15  2023" (midnight of that day).
std::optional<std::time_t> unixTime(std::string_view month, std::string_view day,
                                    std::string_view timeOrYear, std::time_t now) {
  constexpr std::time_t kClockDisagreement = 86400;
  const auto colon = timeOrYear.find(':');
  if (colon == std::string_view::npos) {
    return utcMoment({{number(timeOrYear), monthNumber(month), number(day)}});
  }
  const int year = civilFromDays(now / 86400).year;
  const DateTime moment{{year, monthNumber(month), number(day)},
                        number(timeOrYear.substr(0, colon)),
                        number(timeOrYear.substr(colon + 1))};
  const auto thisYear = utcMoment(moment);
  if (!thisYear || *thisYear <= now + kClockDisagreement) return thisYear;
  DateTime lastYear = moment;
  --lastYear.date.year;
  return utcMoment(lastYear);
}

// "drwxr-xr-x 2 owner group 4096 Jan 15 10:30 name": the name follows the date after one
// blank. The date is looked for rather than counted to, since some servers leave out the
// group.
std::optional<RemoteEntry> parseUnixLine(std::string_view line, std::time_t now) {
  static constexpr std::string_view kKinds = "-dlbcps";
  if (line.size() < 11 || kKinds.find(line[0]) == std::string_view::npos) return std::nullopt;
  const std::vector<Word> words = wordsOf(line, 9);
  for (std::size_t i = 1; i + 2 < words.size(); ++i) {
    if (!isMonth(words[i].text) || !isDayOfMonth(words[i + 1].text) ||
        !isTimeOrYear(words[i + 2].text)) {
      continue;
    }
    const std::size_t nameStart = words[i + 2].end + 1;
    if (nameStart >= line.size()) return std::nullopt;
    std::string_view name = line.substr(nameStart);
    if (line[0] == 'l') name = name.substr(0, name.find(" -> "));
    if (name.empty() || isDotEntry(name) || (line[0] != '-' && line[0] != 'd' && line[0] != 'l')) {
      return std::nullopt;
    }
    RemoteEntry entry{
        .name = std::string(name), .isDirectory = line[0] == 'd', .isLink = line[0] == 'l'};
    if (line[0] == '-') {
      entry.size = wholeNumber(words[i - 1].text);
      entry.modified = unixTime(words[i].text, words[i + 1].text, words[i + 2].text, now);
    }
    return entry;
  }
  return std::nullopt;
}

bool isDosDate(std::string_view word) {
  return (word.size() == 8 || word.size() == 10) && word[2] == '-' && word[5] == '-' &&
         isDigits(word.substr(0, 2)) && isDigits(word.substr(3, 2)) && isDigits(word.substr(6));
}

bool isDosTime(std::string_view word) {
  std::string time = lowered(word);
  if (time.ends_with("am") || time.ends_with("pm")) time.resize(time.size() - 2);
  return isTimeOrYear(time) && time.find(':') != std::string::npos;
}

// "01-15-24" or "01-15-2024", and "10:30AM", "10:30PM" or "22:30".
std::optional<std::time_t> dosTime(std::string_view date, std::string_view time) {
  int year = number(date.substr(6));
  if (date.size() == 8) year += year < 70 ? 2000 : 1900;
  const std::string clock = lowered(time);
  const auto colon = clock.find(':');
  int hour = number(std::string_view(clock).substr(0, colon));
  const int minute = number(std::string_view(clock).substr(colon + 1, 2));
  if (clock.ends_with("am") || clock.ends_with("pm")) {
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (clock.ends_with("pm") ? 12 : 0);
  }
  return utcMoment({{year, number(date.substr(0, 2)), number(date.substr(3, 2))}, hour, minute});
}

// "01-15-24  10:30AM       <DIR>          sub" or "01-15-24  10:30AM   1234 file.txt".
std::optional<RemoteEntry> parseDosLine(std::string_view line) {
  const std::vector<Word> words = wordsOf(line, 3);
  if (words.size() < 3 || !isDosDate(words[0].text) || !isDosTime(words[1].text)) {
    return std::nullopt;
  }
  const bool folder = words[2].text == "<DIR>";
  std::string size(words[2].text);
  size.erase(std::remove(size.begin(), size.end(), ','), size.end());
  if (!folder && !isDigits(size)) return std::nullopt;
  std::size_t nameStart = words[2].end;
  while (nameStart < line.size() && line[nameStart] == ' ') ++nameStart;
  const std::string_view name = line.substr(nameStart);
  if (name.empty() || isDotEntry(name)) return std::nullopt;
  RemoteEntry entry{.name = std::string(name), .isDirectory = folder};
  if (!folder) {
    entry.size = wholeNumber(size);
    entry.modified = dosTime(words[0].text, words[1].text);
  }
  return entry;
}

// An MLSD line starts with its facts: "type=file;size=3; name". Servers that leave out the last
// ";" still write a "=" before the first blank.
bool isMlsdLine(std::string_view line) {
  return line.substr(0, line.find(' ')).find('=') != std::string_view::npos;
}

// A Unix line starts with the type and permissions ("-rw-r--r--"), a DOS line with its date.
bool isListLine(std::string_view line) {
  const std::string_view first = line.substr(0, line.find(' '));
  return isDosDate(first) || (first.size() >= 10 && first.substr(1, 9).find_first_not_of(
                                                        "rwxsStTlL-") == std::string_view::npos);
}

// A line that is not of the listing's form right after an entry is the rest of that entry's
// name: the name keeps a control character there, which the fetch stage reports, instead of
// parting into names of other files.
template <typename ParseLine, typename IsEntryLine>
std::vector<RemoteEntry> parseLines(std::string_view text, ParseLine parseLine,
                                    IsEntryLine isEntryLine) {
  std::vector<RemoteEntry> entries;
  bool afterEntry = false;
  for (std::string_view line : linesOf(text)) {
    if (afterEntry && !isEntryLine(line)) {
      entries.back().name += '\n';
      entries.back().name += line;
      continue;
    }
    auto entry = parseLine(line);
    afterEntry = entry.has_value();
    if (entry) entries.push_back(std::move(*entry));
  }
  return entries;
}

}  // namespace

std::vector<RemoteEntry> parseMlsdListing(std::string_view text) {
  return parseLines(text, parseMlsdLine, isMlsdLine);
}

std::vector<RemoteEntry> parseListListing(std::string_view text, std::time_t now) {
  const auto parseLine = [now](std::string_view line) {
    auto entry = parseUnixLine(line, now);
    return entry ? entry : parseDosLine(line);
  };
  return parseLines(text, parseLine, isListLine);
}

std::vector<RemoteEntry> parseSftpListing(std::string_view text, std::time_t now) {
  std::vector<RemoteEntry> entries;
  while (!text.empty()) {
    const auto end = text.find('\0');
    if (auto entry = parseUnixLine(text.substr(0, end), now)) entries.push_back(std::move(*entry));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return entries;
}

std::string formatListing(const std::vector<RemoteEntry>& entries) {
  static constexpr char kSubstitute = '\x1A';
  std::string text;
  for (const RemoteEntry& entry : entries) {
    for (char c : entry.name) text += c == '\r' || c == '\n' || c == '\0' ? kSubstitute : c;
    if (entry.isDirectory) text += '/';
    text += "\r\n";
  }
  return text;
}

}  // namespace quillfen
