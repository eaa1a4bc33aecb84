#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "common/posix_file.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;

// Makes `folder` the working folder while it lives.
struct WorkingFolder {
  explicit WorkingFolder(const fs::path& folder) { fs::current_path(folder); }
  ~WorkingFolder() { fs::current_path(previous); }
  const fs::path previous = fs::current_path();
};

// The temporary file lies in the target's folder under a name of its own: a bare target name
// means the working folder, and the longest name allowed leaves no room to derive one from it.
TEST(PendingFileTest, AnyTargetThatCanBeWrittenGetsTheNewContentOnlyByCommit) {
  const test::TempDir folder;
  const WorkingFolder working(folder.path());
  const long longest = ::pathconf(folder.str().c_str(), _PC_NAME_MAX);
  ASSERT_GT(longest, 0);
  const struct {
    const char* what;
    std::string target;
  } cases[] = {
      {"a bare name", "Config.ini"},
      {"the longest name", std::string(static_cast<std::size_t>(longest), 'n')},
  };
  for (const auto& c : cases) {
    folder.write(c.target, "old");
    PendingFile file(
        c.target,
        {.create = "Cannot create", .write = "Cannot write", .replace = "Cannot replace"});
    file.write("new");
    EXPECT_EQ(test::readFile(folder.path() / c.target), "old") << c.what;
    file.commit();
    EXPECT_EQ(test::readFile(folder.path() / c.target), "new") << c.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << c.what << ": the temporary file was left beside the target";
    fs::remove(folder.path() / c.target);
  }
}

}  // namespace
}  // namespace quillfen
