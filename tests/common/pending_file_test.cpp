#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/path_limits.h"
#include "common/posix_file.h"
#include "support/raises.h"
#include "support/temp_dir.h"
#include "support/temporary_file_kinds.h"

// Pending files and reading a whole file, on Linux and on Windows. The cases are the points
// where the systems differ: a rename onto an existing file, text mode (CR LF, ^Z), an open file
// that cannot be removed, file times. Each pending-file case runs with an unnamed temporary file
// and with a hidden-named one, as file systems without unnamed files get.

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::raises;

const std::string kBinary("a\nb\r\n\x1A\0c", 9);

std::ptrdiff_t entriesIn(const fs::path& folder) {
  return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

class PendingFileTest : public ::testing::TestWithParam<bool> {
 protected:
  const test::TemporaryFileKind kind{GetParam()};
  const test::TempDir folder;
};

INSTANTIATE_TEST_SUITE_P(Kinds, PendingFileTest, test::kTemporaryFileKinds,
                         test::temporaryFileKindName);

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
// A large file is handed to the disk range by range as it is written.
TEST_P(PendingFileTest, AnyTargetThatCanBeWrittenGetsTheNewContentOnlyByCommit) {
  const WorkingFolder working(folder.path());
  const struct {
    std::string target;
    bool old;  // whether an older file is there
    std::string content = kBinary;
  } cases[] = {{"Config.ini", true},
               {"new.ini", false},
               {std::string(longestName(), 'n'), true},
               {"large.bin", true, std::string((20 << 20) + 3, 'L')}};
  for (const auto& [target, old, content] : cases) {
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
    EXPECT_EQ(entriesIn(folder.path()), 1)
        << target << ": the temporary file was left beside the target";
    fs::remove(folder.path() / target);
  }
}

// Whatever has the target's name stays as it was when the commit is refused: a file or a
// dangling link where nothing may be replaced, a folder always (its number differs by system).
TEST_P(PendingFileTest, AFileNotCommittedOrRefusedLeavesNothingBehind) {
  const fs::path target = folder.path() / "report.txt";
  { PendingFile(target.string(), {.create = "C", .write = "W", .replace = "R"}).write("dropped"); }
  EXPECT_TRUE(fs::is_empty(folder.path())) << "destroyed while open";

  std::error_code noLinks;  // Wine's file systems have no symbolic links
  const struct {
    const char* name;
    std::function<bool()> make;  // false: this file system cannot make it
    bool replace;                // commit() rather than commitWithoutReplacing()
    std::optional<int> number;
  } cases[] = {
      {"a file", [&] { return !folder.write("report.txt", "kept").empty(); }, false,
       errc::kFileExists},
      {"a dangling link",
       [&] {
         fs::create_symlink("nowhere", target, noLinks);
         return !noLinks;
       },
       false, errc::kFileExists},
      {"a folder", [&] { return fs::create_directory(target); }, true, std::nullopt},
  };
  for (const auto& [name, make, replace, number] : cases) {
    if (!make()) continue;
    const fs::file_type before = fs::symlink_status(target).type();
    {
      PendingFile file(target.string(), {.create = "C", .write = "W", .replace = "R"});
      file.write("new");
      const auto refusal = ::testing::Property(&Error::description, ::testing::StartsWith("R '"));
      EXPECT_THAT([&] { replace ? file.commit() : file.commitWithoutReplacing(); },
                  ::testing::Throws<Error>(::testing::AllOf(
                      refusal, ::testing::Property(&Error::number, number ? ::testing::Eq(*number)
                                                                          : ::testing::A<int>()))))
          << name;
    }
    EXPECT_EQ(entriesIn(folder.path()), 1) << name;
    EXPECT_EQ(fs::symlink_status(target).type(), before) << name;
    if (before == fs::file_type::regular) {
      EXPECT_EQ(test::readFile(target), "kept");
    }
    fs::remove(target);
  }
}

// An unnamed file shows in no listing while it is written, so no crash can leave it behind; a
// hidden-named one goes at once when a signal handler asks (on Windows only once it is closed,
// which the ending process does).
TEST_P(PendingFileTest, WhileWrittenOnlyAHiddenNameShowsAndTheSignalPathRemovesIt) {
  PendingFile file((folder.path() / "data.bin").string(),
                   {.create = "C", .write = "W", .replace = "R"});
  file.write("half");
  EXPECT_EQ(entriesIn(folder.path()), GetParam() ? 0 : 1);
#ifndef _WIN32
  removeTemporaryFilesNow();
  EXPECT_TRUE(fs::is_empty(folder.path()));
#endif
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
