#include "transfer/ftp_listing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace quillfen {

namespace {

// Splits at LF, dropping the CR before it; the last line may lack its end.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
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
  std::string_view facts = line.substr(0, space);
  while (!facts.empty()) {
    const auto end = facts.find(';');
    const std::string_view fact = facts.substr(0, end);
    if (const auto equals = fact.find('='); equals != std::string_view::npos) {
      if (lowered(fact.substr(0, equals)) == "type") type = lowered(fact.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    facts.remove_prefix(end + 1);
  }
  if (name.empty() || type == "cdir" || type == "pdir" || isDotEntry(name)) return std::nullopt;
  return RemoteEntry{std::string(name), type == "dir"};
}

bool isMonth(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string month = lowered(word);
  return std::find(kMonths.begin(), kMonths.end(), month) != kMonths.end();
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

// "drwxr-xr-x 2 owner group 4096 Jan 15 10:30 name": the name follows the date after one
// blank. The date is looked for rather than counted to, since some servers leave out the
// group.
std::optional<RemoteEntry> parseUnixLine(std::string_view line) {
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
    return RemoteEntry{std::string(name), line[0] == 'd'};
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
  return RemoteEntry{std::string(name), folder};
}

}  // namespace

std::vector<RemoteEntry> parseMlsdListing(std::string_view text) {
  std::vector<RemoteEntry> entries;
  for (std::string_view line : linesOf(text)) {
    if (auto entry = parseMlsdLine(line)) entries.push_back(std::move(*entry));
  }
  return entries;
}

std::vector<RemoteEntry> parseListListing(std::string_view text) {
  std::vector<RemoteEntry> entries;
  for (std::string_view line : linesOf(text)) {
    auto entry = parseUnixLine(line);
    if (!entry) entry = parseDosLine(line);
    if (entry) entries.push_back(std::move(*entry));
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
