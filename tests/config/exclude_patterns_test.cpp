#include "config/exclude_patterns.h"

#include <gtest/gtest.h>

#include <string>

// The rules of Exclude as the README states them, built for Linux and for Windows.

namespace quillfen {
namespace {

struct PatternCase {
  const char* name;
  const char* patterns;
  const char* path;  // relative to the source; a trailing "/" marks a folder
  bool excluded;
};

void PrintTo(const PatternCase& c, std::ostream* out) {
  *out << c.name;
}

class ExcludePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(ExcludePatternTest, MatchesAsTheReadmeSays) {
  const PatternCase& c = GetParam();
  std::string path = c.path;
  const bool folder = path.ends_with('/');
  if (folder) path.pop_back();
  ASSERT_FALSE(excludePatternsProblem(c.patterns)) << c.patterns;
  EXPECT_EQ(ExcludePatterns(c.patterns).excludes(path, folder), c.excluded);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ExcludePatternTest,
    ::testing::Values(
        PatternCase{"NameAtAnyDepth", "*.tmp", "a/b/c.tmp", true},
        PatternCase{"StarStaysInItsName", "*.tmp", "a.tmp.bak", false},
        PatternCase{"StarDoesNotCrossFolders", "docs/*.txt", "docs/old/a.txt", false},
        PatternCase{"SlashAnchorsAtTheSource", "docs/*.txt", "x/docs/a.txt", false},
        PatternCase{"AnchoredMatch", "docs/*.txt", "docs/a.txt", true},
        PatternCase{"LeadingSlashAnchors", "/a.log", "sub/a.log", false},
        PatternCase{"DoubleStarCrossesFolders", "docs/**.txt", "docs/old/a.txt", true},
        PatternCase{"DoubleStarSlashMayBeNoFolder", "**/node_modules/", "node_modules/", true},
        PatternCase{"DoubleStarSlashAtDepth", "**/node_modules/", "a/b/node_modules/", true},
        PatternCase{"DoubleStarBetweenFolders", "a/**/z.c", "a/z.c", true},
        PatternCase{"DoubleStarPartOfAName", "a/**/z.c", "a/bz.c", false},
        PatternCase{"TrailingSlashMatchesFoldersOnly", "cache/", "cache", false},
        PatternCase{"TrailingSlashFolderAtDepth", "cache/", "x/cache/", true},
        PatternCase{"QuestionMarkIsOneCharacter", "?.c", "ab.c", false},
        PatternCase{"QuestionMarkNotASlash", "a?b", "a/b", false},
        PatternCase{"SetAndRange", "x[0-9].log", "x7.log", true},
        PatternCase{"NegatedSet", "x[!0-9].log", "x7.log", false},
        PatternCase{"ClosingBracketFirstInSet", "[]a]", "]", true},
        PatternCase{"CaseCounts", "*.TMP", "a.tmp", false},
        PatternCase{"BlanksAroundDroppedEmptySkipped", " ;; *.bak ;", "a.bak", true},
        PatternCase{"BackslashReadAsSlash", "docs\\*.txt", "docs/a.txt", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExcludePatternsProblemTest, AnOpenSetOrAPatternOfSlashesOnlyIsRefused) {
  for (const char* text : {"*.tmp;a[b", "[!]", "/"})
    EXPECT_TRUE(excludePatternsProblem(text)) << text;
}

}  // namespace
}  // namespace quillfen
