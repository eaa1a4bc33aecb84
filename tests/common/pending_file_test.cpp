#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/posix_file.h"
#include "support/temp_dir.h"

// Pending files and reading a whole file, on Linux and on Windows. The cases are the points
// where the systems differ: a rename onto an existing file, text mode (CR LF, ^Z), an open file
// that cannot be removed, file times.

namespace quillfen {
namespace {

namespace fs = std::filesystem;

const PendingFile::Wording kWording{
    .create = "Cannot create", .write = "Cannot write", .replace = "Cannot replace"};
const std::string kBinary("a\nb\r\n\x1A\0c", 9);

std::size_t entriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(PendingFileTest, TheContentReachesTheTargetByteForByteOnlyByCommit) {
  const std::optional<std::string> olds[] = {std::nullopt, "old"};
  for (const auto& old : olds) {
    const test::TempDir folder;
    const fs::path target = folder.path() / "Config.ini";
    if (old) folder.write("Config.ini", *old);
    {
      PendingFile file(target.string(), kWording);
      file.write(kBinary);
      file.flushToDisk();
      EXPECT_EQ(fs::exists(target), old.has_value());
      if (old) {
        EXPECT_EQ(test::readFile(target), *old);
      }
      file.commit();
    }
    EXPECT_EQ(test::readFile(target), kBinary) << old.value_or("no old file");
    EXPECT_EQ(entriesIn(folder.path()), 1u) << "the temporary file was left beside the target";
  }
}

TEST(PendingFileTest, AFileNotCommittedOrRefusedLeavesNothingBehind) {
  const test::TempDir folder;
  const fs::path target = folder.path() / "report.txt";
  { PendingFile(target.string(), kWording).write("dropped"); }
  EXPECT_EQ(entriesIn(folder.path()), 0u) << "destroyed while open";

  folder.write("report.txt", "kept");
  {
    PendingFile file(target.string(), kWording);
    file.write("new");
    try {
      file.commitWithoutReplacing();
      ADD_FAILURE() << "an existing file was replaced";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kFileExists);
    }
  }
  EXPECT_EQ(test::readFile(target), "kept");
  EXPECT_EQ(entriesIn(folder.path()), 1u);
}

TEST(PendingFileTest, TheModificationTimeSetIsTheTargets) {
  const test::TempDir folder;
  const fs::path target = folder.path() / "a.bin";
  const std::time_t seconds = 1'000'000'000;  // 2001-09-09 01:46:40 UTC
  PendingFile file(target.string(), kWording);
  file.write("x");
  file.setModificationTime(seconds);
  file.commit();
  const auto shown = std::chrono::file_clock::to_sys(fs::last_write_time(target));
  EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(shown).time_since_epoch().count(), seconds);
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
  const std::optional<std::string> large = read("large", 10);
  ASSERT_TRUE(large);
  EXPECT_GT(large->size(), 10u);
  EXPECT_LT(large->size(), 100'000u) << "read to its end despite the limit";
  try {
    read("folder", 100);
    ADD_FAILURE() << "a folder was read";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kPathFileAccess);
    EXPECT_NE(error.description().find("not a regular file"), std::string::npos)
        << error.description();
  }
}

}  // namespace
}  // namespace quillfen
