#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/path_limits.h"
#include "common/posix_file.h"
#include "support/temp_dir.h"

// Pending files and reading a whole file, on Linux and on Windows. The cases are the points
// where the systems differ: a rename onto an existing file, text mode (CR LF, ^Z), an open file
// that cannot be removed, file times.

namespace quillfen {
namespace {

namespace fs = std::filesystem;

const std::string kBinary("a\nb\r\n\x1A\0c", 9);

auto raises(int number, const std::string& text) {
  return ::testing::Throws<Error>(
      ::testing::AllOf(::testing::Property(&Error::number, number),
                       ::testing::Property(&Error::description, ::testing::HasSubstr(text))));
}

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
  const std::string& content = kBinary;
  const std::pair<std::string, bool> cases[] = {// the target, whether an older file is there
                                                {"Config.ini", true},
                                                {"new.ini", false},
                                                {std::string(longestName(), 'n'), true}};
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

TEST(PendingFileTest, AFileNotCommittedOrRefusedLeavesNothingBehind) {
  const test::TempDir folder;
  const fs::path target = folder.path() / "report.txt";
  { PendingFile(target.string(), {.create = "C", .write = "W", .replace = "R"}).write("dropped"); }
  EXPECT_TRUE(fs::is_empty(folder.path())) << "destroyed while open";

  folder.write("report.txt", "kept");
  {
    PendingFile file(target.string(), {.create = "C", .write = "W", .replace = "R"});
    file.write("new");
    EXPECT_THAT([&] { file.commitWithoutReplacing(); }, raises(errc::kFileExists, ""));
  }
  EXPECT_EQ(test::readFile(target), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(ReadRegularFileTest, ReadsUpToTheLimitAndRefusesWhatIsNoFile) {
  const test::TempDir folder;
  folder.write("small", kBinary);
  folder.write("large", std::string(100'000, 'x'));
  fs::create_directory(folder.path() / "folder");
  const auto read = [&](const char* name, std::size_t limit) {
    return readRegularFile((folder.path() / name).string(), limit, "Cannot read");
  };
  EXPECT_EQ(read("small", 100), kBinary);
  EXPECT_EQ(read("missing", 100), std::nullopt);
  const std::size_t large = read("large", 10).value_or("").size();
  EXPECT_TRUE(large > 10 && large < 100'000) << large << ": read to its end despite the limit";
  EXPECT_THAT([&] { read("folder", 100); }, raises(errc::kPathFileAccess, "not a regular file"));
}

}  // namespace
}  // namespace quillfen
