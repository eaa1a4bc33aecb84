#include "config/profile_text.h"

#include <algorithm>
#include <vector>

#include "common/error.h"
#include "common/text.h"

namespace quillfen {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Notepad's "Unicode": UTF-16, low byte first, after this mark.
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isQuote(char c) {
  return c == '"' || c == '\'';
}

bool isQuoted(std::string_view text) {
  return text.size() >= 2 && isQuote(text.front()) && text.back() == text.front();
}

std::string_view unquote(std::string_view text) {
  return isQuoted(text) ? text.substr(1, text.size() - 2) : text;
}

struct Line {
  std::string content;  // without its line end
  std::string ending;   // "\n", "\r\n"; for a last line "\r" or empty
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const auto feed = text.find('\n');
    if (feed == std::string_view::npos) {
      // A CR at the very end is the start of a line end that was cut off, not part of a value:
      // it must not become one when a line is added after it.
      const bool cr = text.back() == '\r';
      lines.push_back({std::string(text.substr(0, text.size() - (cr ? 1 : 0))), cr ? "\r" : ""});
      break;
    }
    const bool crlf = feed > 0 && text[feed - 1] == '\r';
    const auto contentLength = crlf ? feed - 1 : feed;
    lines.push_back({std::string(text.substr(0, contentLength)), crlf ? "\r\n" : "\n"});
    text.remove_prefix(feed + 1);
  }
  return lines;
}

enum class LineKind { Section, Entry, Other };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // the section or key name, blanks dropped
  std::string_view value;  // an entry's value, blanks and quotes dropped
};

ParsedLine parseLine(std::string_view content) {
  const std::string_view text = trimmed(content);
  if (text.empty() || text.front() == ';') return {};
  if (text.front() == '[') {
    const auto close = text.find(']');
    const auto length = close == std::string_view::npos ? std::string_view::npos : close - 1;
    return {LineKind::Section, trimmed(text.substr(1, length)), {}};
  }
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  const std::string_view name = trimmed(text.substr(0, equals));
  if (name.empty()) return {};
  return {LineKind::Entry, name, unquote(trimmed(text.substr(equals + 1)))};
}

struct ProfileText {
  std::string_view byteOrderMark;
  std::vector<Line> lines;
};

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 text, low byte first, as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8OfUtf16(std::string_view bytes) {
  std::string out;
  const auto unitAt = [&](std::size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = unitAt(i);
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const char16_t next = i + 3 < bytes.size() ? unitAt(i + 2) : 0;
    if (high && next >= 0xDC00 && next < 0xE000) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
      i += 2;
    } else {
      appendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
  }
  return out;
}

// A file saved as UTF-16 is read as the UTF-8 it holds (and would be written back as UTF-8).
ProfileText splitProfile(std::string_view text) {
  ProfileText profile;
  if (text.starts_with(kUtf16ByteOrderMark)) {
    profile.lines = splitLines(utf8OfUtf16(text.substr(kUtf16ByteOrderMark.size())));
    return profile;
  }
  if (text.starts_with(kByteOrderMark)) {
    profile.byteOrderMark = kByteOrderMark;
    text.remove_prefix(kByteOrderMark.size());
  }
  profile.lines = splitLines(text);
  return profile;
}

// Where a key stands in the file, or would stand when added.
struct KeyPlace {
  std::optional<std::size_t> entry;          // the line that sets the key
  std::optional<std::size_t> lastInSection;  // the last entry or header of the first section
};

KeyPlace findKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  KeyPlace place;
  bool inSection = false;
  bool inFirstSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine line = parseLine(lines[i].content);
    if (line.kind == LineKind::Section) {
      inSection = sameIgnoringAsciiCase(line.name, section);
      inFirstSection = inSection && !place.lastInSection;
      if (inFirstSection) place.lastInSection = i;
    } else if (line.kind == LineKind::Entry && inSection) {
      if (sameIgnoringAsciiCase(line.name, key)) {
        place.entry = i;
        return place;
      }
      if (inFirstSection) place.lastInSection = i;
    }
  }
  return place;
}

void checkStorable(std::string_view key, std::string_view value) {
  const bool keyFits = !key.empty() && trimmed(key) == key &&
                       key.find_first_of("=\r\n") == std::string_view::npos && key.front() != '[' &&
                       key.front() != ';';
  const bool valueFits = value.find_first_of("\r\n") == std::string_view::npos;
  if (!keyFits || !valueFits) {
    throw Error(errc::kInvalidArgument, "A profile file line cannot hold the key '" +
                                            std::string(key) + "' with the value '" +
                                            std::string(value) + "'");
  }
}

std::string encodeValue(std::string_view value) {
  const bool needsQuotes =
      !value.empty() && (isBlank(value.front()) || isBlank(value.back()) || isQuoted(value));
  return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

// New lines follow the file's own line ends.
std::string lineEndingOf(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (!line.ending.empty()) return line.ending;
  }
  return "\n";
}

void insertLine(std::vector<Line>& lines, std::size_t at, std::string content,
                const std::string& ending) {
  if (at > 0 && lines[at - 1].ending.empty()) lines[at - 1].ending = ending;
  if (at > 0 && lines[at - 1].ending == "\r") lines[at - 1].ending = "\r\n";
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(content), ending});
}

std::string joinProfile(const ProfileText& profile) {
  std::string text(profile.byteOrderMark);
  for (const Line& line : profile.lines) text += line.content + line.ending;
  return text;
}

}  // namespace

std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  const ProfileText profile = splitProfile(text);
  const KeyPlace place = findKey(profile.lines, section, key);
  if (!place.entry) return std::nullopt;
  return std::string(parseLine(profile.lines[*place.entry].content).value);
}

std::vector<std::string> profileKeys(std::string_view text, std::string_view section) {
  std::vector<std::string> keys;
  bool inSection = false;
  for (const Line& line : splitProfile(text).lines) {
    const ParsedLine parsed = parseLine(line.content);
    if (parsed.kind == LineKind::Section) inSection = sameIgnoringAsciiCase(parsed.name, section);
    if (parsed.kind != LineKind::Entry || !inSection) continue;
    const bool seen = std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
      return sameIgnoringAsciiCase(key, parsed.name);
    });
    if (!seen) keys.emplace_back(parsed.name);
  }
  return keys;
}

std::string withProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value) {
  checkStorable(key, value);
  ProfileText profile = splitProfile(text);
  std::vector<Line>& lines = profile.lines;
  const std::string ending = lineEndingOf(lines);
  const KeyPlace place = findKey(lines, section, key);

  if (place.entry) {
    // Keep the indentation and the spelling of the key that the file already has.
    std::string& content = lines[*place.entry].content;
    const auto indent = content.find_first_not_of(kBlanks);
    const std::string_view name = parseLine(content).name;
    content = content.substr(0, indent) + std::string(name) + "=" + encodeValue(value);
  } else if (place.lastInSection) {
    insertLine(lines, *place.lastInSection + 1, std::string(key) + "=" + encodeValue(value),
               ending);
  } else {
    if (!lines.empty() && !trimmed(lines.back().content).empty()) {
      insertLine(lines, lines.size(), "", ending);
    }
    insertLine(lines, lines.size(), "[" + std::string(section) + "]", ending);
    insertLine(lines, lines.size(), std::string(key) + "=" + encodeValue(value), ending);
  }
  return joinProfile(profile);
}

}  // namespace quillfen
