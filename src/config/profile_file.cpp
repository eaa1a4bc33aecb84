#include "config/profile_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "common/error.h"

namespace quillfen {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

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

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

struct Line {
  std::string content;  // without its line end
  std::string ending;   // "\n", "\r\n", or empty for a last line without one
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const auto feed = text.find('\n');
    if (feed == std::string_view::npos) {
      lines.push_back({std::string(text), ""});
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
  const std::string_view text = trimBlanks(content);
  if (text.empty() || text.front() == ';') return {};
  if (text.front() == '[') {
    const auto close = text.find(']');
    const auto length = close == std::string_view::npos ? std::string_view::npos : close - 1;
    return {LineKind::Section, trimBlanks(text.substr(1, length)), {}};
  }
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  const std::string_view name = trimBlanks(text.substr(0, equals));
  if (name.empty()) return {};
  return {LineKind::Entry, name, unquote(trimBlanks(text.substr(equals + 1)))};
}

struct ProfileText {
  std::string_view byteOrderMark;
  std::vector<Line> lines;
};

ProfileText splitProfile(std::string_view text) {
  ProfileText profile;
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
      inSection = sameName(line.name, section);
      inFirstSection = inSection && !place.lastInSection;
      if (inFirstSection) place.lastInSection = i;
    } else if (line.kind == LineKind::Entry && inSection) {
      if (sameName(line.name, key)) {
        place.entry = i;
        return place;
      }
      if (inFirstSection) place.lastInSection = i;
    }
  }
  return place;
}

void checkStorable(std::string_view key, std::string_view value) {
  const bool keyFits = !key.empty() && trimBlanks(key) == key &&
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
    if (!lines.empty() && !trimBlanks(lines.back().content).empty()) {
      insertLine(lines, lines.size(), "", ending);
    }
    insertLine(lines, lines.size(), "[" + std::string(section) + "]", ending);
    insertLine(lines, lines.size(), std::string(key) + "=" + encodeValue(value), ending);
  }
  return joinProfile(profile);
}

// ---- The file itself ----

namespace {

constexpr std::string_view kCannotRead = "Cannot read the configuration file";
constexpr std::string_view kCannotWrite = "Cannot write the configuration file";

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now so that a failing close (delayed write errors) can be reported.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

std::optional<std::string> readWholeFile(const std::string& path, std::string_view what) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw errorFromErrno(errno, what, path);
  }
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errorFromErrno(errno, what, path);
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

void writeAll(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t count = ::write(fd, text.data(), text.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errorFromErrno(errno, kCannotWrite, path);
    }
    text.remove_prefix(static_cast<std::size_t>(count));
  }
}

// A temporary file beside the target, removed again unless it took the target's place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target)
      : path_(temporaryPattern(target)), fd_(::mkostemp(path_.data(), O_CLOEXEC)) {
    if (fd_.get() < 0) throw errorFromErrno(errno, kCannotWrite, target);
  }
  ~TemporaryFile() {
    if (!published_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }
  int close() { return fd_.close(); }
  void published() { published_ = true; }

 private:
  static std::string temporaryPattern(const std::string& target) {
    const std::filesystem::path path(target);
    return (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  }

  std::string path_;
  FileDescriptor fd_;
  bool published_ = false;
};

// A link named Config.ini stays a link: the file it points to is the one rewritten.
std::string resolveLink(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

// Puts `temp` in the place of a file that did not exist, refusing to replace anything that
// appeared there meanwhile (a directory, a link, or a file the user just saved).
void publishAsNewFile(TemporaryFile& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    temp.published();
    return;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
  // This file system cannot rename without replacing; a hard link refuses to replace as well.
  if (::link(temp.path().c_str(), target.c_str()) != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
}

void publishOverExistingFile(TemporaryFile& temp, const std::string& target) {
  if (::rename(temp.path().c_str(), target.c_str()) != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
  temp.published();
}

void keepPermissionsOf(const std::string& target, const TemporaryFile& temp) {
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) return;  // gone meanwhile: the new file is private
  if (::fchmod(temp.fd(), status.st_mode & 07777) != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
}

}  // namespace

std::optional<std::string> readProfileFile(const std::string& path) {
  return readWholeFile(path, kCannotRead);
}

void storeProfileValue(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value) {
  const std::optional<std::string> old = readWholeFile(path, kCannotWrite);
  const std::string text = withProfileValue(old.value_or(""), section, key, value);
  const std::string target = old ? resolveLink(path) : path;

  TemporaryFile temp(target);
  if (old) keepPermissionsOf(target, temp);
  writeAll(temp.fd(), text, target);
  if (::fsync(temp.fd()) != 0 || temp.close() != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
  if (old) {
    publishOverExistingFile(temp, target);
  } else {
    publishAsNewFile(temp, target);
  }
}

}  // namespace quillfen
