#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

const std::string kBinary("a\nb\r\n\x1A\0c", 9);

auto raises(int number, const std::string& text) {
  return ::testing::Throws<Error>(
      ::testing::AllOf(::testing::Property(&Error::number, number),
                       ::testing::Property(&Error::description, ::testing::HasSubstr(text))));
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
