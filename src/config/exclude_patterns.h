#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The patterns of Exclude, matched against paths relative to the source, folders separated by
// "/" ("docs/old/a.tmp"), as a .gitignore file matches them:
//   - ";" separates the patterns; blanks around each are dropped, an empty one is skipped, and a
//     "\" is read as "/";
//   - "*" matches any characters but "/", "?" one character but "/", "[abc]", "[a-z]", "[!a-z]"
//     one character of (not of) the set; "**" matches anything, "/" included, and "**/" at the
//     start or between folders stands for no folder or any number of them;
//   - a trailing "/" makes the pattern match folders only (and so everything below them);
//   - a pattern without any other "/" matches a name at any depth; with one (a leading "/"
//     included) it matches the whole path from the source down.
// Letters are matched as written, case counts.
class ExcludePatterns {
 public:
  // Throws nothing: `text` must have passed excludePatternsProblem.
  explicit ExcludePatterns(std::string_view text);

  bool empty() const { return patterns_.empty(); }
  // Whether the file or folder at `relativePath` is left out.
  bool excludes(std::string_view relativePath, bool folder) const;

 private:
  struct Pattern {
    std::string glob;
    bool foldersOnly = false;
    bool wholePath = false;  // else the last name of the path
  };
  std::vector<Pattern> patterns_;
};

// Why `text` is no list of patterns ("the pattern 'a[b' leaves a '[' open"), nothing when it is.
std::optional<std::string> excludePatternsProblem(std::string_view text);

}  // namespace quillfen
