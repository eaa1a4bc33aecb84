#include "config/exclude_patterns.h"

#include <algorithm>

#include "common/text.h"

namespace quillfen {

namespace {

constexpr auto npos = std::string_view::npos;

// The length of the set that opens `glob` ("[...]"), or npos when no "]" closes it. A "]" right
// after the "[" (or after "[!") is a member, as in the shell.
std::size_t setLength(std::string_view glob) {
  std::size_t at = 1;
  if (at < glob.size() && (glob[at] == '!' || glob[at] == '^')) ++at;
  if (at < glob.size() && glob[at] == ']') ++at;
  at = glob.find(']', at);
  return at == npos ? npos : at + 1;
}

bool inSet(std::string_view set, char c) {
  std::string_view members = set.substr(1, set.size() - 2);
  const bool negated = members.starts_with('!') || members.starts_with('^');
  if (negated) members.remove_prefix(1);
  bool found = false;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i + 2 < members.size() && members[i + 1] == '-') {
      const auto code = static_cast<unsigned char>(c);
      found = found || (static_cast<unsigned char>(members[i]) <= code &&
                        code <= static_cast<unsigned char>(members[i + 2]));
      i += 2;
    } else {
      found = found || members[i] == c;
    }
  }
  return found != negated;
}

bool matches(std::string_view glob, std::string_view path);

// "**/": the rest of the pattern at the start of `path` or after any of its "/".
bool matchesFromAnyFolder(std::string_view glob, std::string_view path) {
  for (;;) {
    if (matches(glob, path)) return true;
    const std::size_t slash = path.find('/');
    if (slash == npos) return false;
    path.remove_prefix(slash + 1);
  }
}

// "*" (`crossesFolders` false) or "**": the rest of the pattern after any number of characters.
bool matchesAfterAny(std::string_view glob, std::string_view path, bool crossesFolders) {
  for (std::size_t skipped = 0;; ++skipped) {
    if (matches(glob, path.substr(skipped))) return true;
    if (skipped == path.size() || (!crossesFolders && path[skipped] == '/')) return false;
  }
}

bool matches(std::string_view glob, std::string_view path) {
  while (!glob.empty()) {
    if (glob.starts_with("**/")) return matchesFromAnyFolder(glob.substr(3), path);
    if (glob.starts_with("**")) return matchesAfterAny(glob.substr(2), path, true);
    if (glob[0] == '*') return matchesAfterAny(glob.substr(1), path, false);
    if (path.empty()) return false;
    std::size_t patternLength = 1;
    if (glob[0] == '[') {
      patternLength = setLength(glob);
      if (path[0] == '/' || !inSet(glob.substr(0, patternLength), path[0])) return false;
    } else if (glob[0] == '?') {
      if (path[0] == '/') return false;
    } else if (glob[0] != path[0]) {
      return false;
    }
    glob.remove_prefix(patternLength);
    path.remove_prefix(1);
  }
  return path.empty();
}

// The pattern as written, "\" read as "/", blanks around it dropped.
std::string cleaned(std::string_view part) {
  std::string pattern(trimmed(part, " \t"));
  std::replace(pattern.begin(), pattern.end(), '\\', '/');
  return pattern;
}

std::optional<std::string> patternProblem(const std::string& pattern) {
  if (pattern.find_first_not_of('/') == std::string::npos)
    return "the pattern '" + pattern + "' names nothing";
  for (std::size_t at = pattern.find('['); at != std::string::npos;
       at = pattern.find('[', at + 1)) {
    const std::size_t length = setLength(std::string_view(pattern).substr(at));
    if (length == npos) return "the pattern '" + pattern + "' leaves a '[' open";
    at += length - 1;
  }
  return std::nullopt;
}

}  // namespace

ExcludePatterns::ExcludePatterns(std::string_view text) {
  for (const std::string_view part : partsOf(text, ';')) {
    std::string glob = cleaned(part);
    if (glob.empty()) continue;
    Pattern pattern;
    pattern.foldersOnly = glob.ends_with('/');
    while (glob.ends_with('/')) glob.pop_back();
    pattern.wholePath = glob.find('/') != std::string::npos;
    if (glob.starts_with('/')) glob.erase(0, 1);
    pattern.glob = std::move(glob);
    patterns_.push_back(std::move(pattern));
  }
}

bool ExcludePatterns::excludes(std::string_view relativePath, bool folder) const {
  const std::size_t slash = relativePath.rfind('/');
  const std::string_view name = slash == npos ? relativePath : relativePath.substr(slash + 1);
  return std::any_of(patterns_.begin(), patterns_.end(), [&](const Pattern& pattern) {
    if (pattern.foldersOnly && !folder) return false;
    return matches(pattern.glob, pattern.wholePath ? relativePath : name);
  });
}

std::optional<std::string> excludePatternsProblem(std::string_view text) {
  for (const std::string_view part : partsOf(text, ';')) {
    const std::string pattern = cleaned(part);
    if (pattern.empty()) continue;
    if (auto problem = patternProblem(pattern)) return problem;
  }
  return std::nullopt;
}

}  // namespace quillfen
