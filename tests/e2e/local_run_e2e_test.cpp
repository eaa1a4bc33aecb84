#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "e2e/e2e_util.h"
#include "e2e/program.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;

// A source folder, a destination with backups of earlier days, and a program beside its
// Config.ini.
class LocalRunE2eTest : public ::testing::Test {
 protected:
  LocalRunE2eTest() {
    source.write("notes.txt", std::string(5000, 'n'));
    source.write("with blanks.doc", "blank name");
    source.write(".hidden", "never copied");
    source.write("sub/inner.txt", "never copied");
    fs::last_write_time(source.path() / "notes.txt",
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 40));
    fs::create_directories(dest.path());
    home.write("Config.ini", "[Quillfen]\nNetworkPath=" + source.str() +
                                 "/\nDestinationFolder=" + dest.str() +
                                 "/\nDaysTillExpiration=30\nMailTo=\n");
  }

  fs::path today() const { return dest.path() / todaysFolderName(); }

  TempDir source;
  TempDir dest;
  TempDir home;
  Program program{home.path()};
};

TEST_F(LocalRunE2eTest, CopiesThePlainFilesPrunesExpiredDaysAndStaysSilent) {
  for (int days : {29, 30, 50, 51}) fs::create_directories(dest.path() / daysAgoFolderName(days));
  fs::create_directories(dest.path() / "notes");

  const ProgramResult result = program.run();

  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(readFile(today() / "notes.txt"), std::string(5000, 'n'));
  EXPECT_EQ(readFile(today() / "with blanks.doc"), "blank name");
  EXPECT_FALSE(fs::exists(today() / ".hidden"));
  EXPECT_FALSE(fs::exists(today() / "sub"));
  EXPECT_EQ(fs::last_write_time(today() / "notes.txt"),
            fs::last_write_time(source.path() / "notes.txt"));
  EXPECT_TRUE(fs::exists(dest.path() / daysAgoFolderName(29)));
  EXPECT_FALSE(fs::exists(dest.path() / daysAgoFolderName(30)));
  EXPECT_FALSE(fs::exists(dest.path() / daysAgoFolderName(50)));
  EXPECT_TRUE(fs::exists(dest.path() / daysAgoFolderName(51)));
  EXPECT_TRUE(fs::exists(dest.path() / "notes"));
}

TEST_F(LocalRunE2eTest, SameDayRerunReplacesTodaysFolder) {
  fs::create_directories(today());
  {
    std::ofstream stale(today() / "stale.txt");
    stale << "from the morning run";
  }
  const ProgramResult result = program.run();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(fs::exists(today() / "stale.txt"));
  EXPECT_TRUE(fs::exists(today() / "notes.txt"));
}

TEST_F(LocalRunE2eTest, AnUnreadableSourceEndsTheRunWithANumberedError) {
  fs::remove_all(source.path());
  const ProgramResult result = program.run();
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, ::testing::HasSubstr("Error "));
  EXPECT_THAT(result.err, ::testing::HasSubstr(source.str()));
}

}  // namespace
}  // namespace quillfen::test
