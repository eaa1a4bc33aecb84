#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
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

// The content reaches the target byte for byte, and dated as set, only by commit, with or
// without an older file.
// The temporary file lies in the target's folder under a name of its own: a bare target name
// means the working folder, and the longest name allowed leaves no room to derive one from it.
TEST(PendingFileTest, AnyTargetThatCanBeWrittenGetsTheNewContentOnlyByCommit) {
  const test::TempDir folder;
  const WorkingFolder working(folder.path());
  const long longest = ::pathconf(folder.str().c_str(), _PC_NAME_MAX);
  ASSERT_GT(longest, 0);
  const std::string content("a\nb\r\n\x1A\0c", 9);
  const std::pair<std::string, bool> cases[] = {// the target, whether an older file is there
                                                {"Config.ini", true},
                                                {"new.ini", false},
                                                {std::string(std::size_t(longest), 'n'), true}};
  for (const auto& [target, old] : cases) {
    if (old) folder.write(target, "old");
    PendingFile file(target, {.create = "C", .write = "W", .replace = "R"});
    file.write(content);
    file.setModificationTime(1'000'000'000);  // 2001-09-09 01:46:40 UTC
    file.flushToDisk();
    EXPECT_EQ(fs::exists(target) ? test::readFile(target) : "none", old ? "old" : "none");
    file.commit();
    EXPECT_EQ(test::readFile(folder.path() / target), content) << target;
    const auto time = std::chrono::file_clock::to_sys(fs::last_write_time(target));
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count(),
              1'000'000'000);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << target << ": the temporary file was left beside the target";
    fs::remove(folder.path() / target);
  }
}

}  // namespace
}  // namespace quillfen
