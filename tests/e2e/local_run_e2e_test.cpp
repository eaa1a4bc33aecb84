#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "e2e/program.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// The first run meets a refusing mail server; the second, on the same day, replaces today's
// folder with the changed source, prunes the folder of 30 days back and mails the report of
// that run alone. Which files are
// copied, and with which times, has unit tests.
TEST(LocalRunE2eTest, RefusedMailEndsTheRunAndASameDayRerunReplacesTodaysFolder) {
  TempDir source, dest, home;
  source.write("notes.txt", std::string(5000, 'n'));
  source.write("gone.txt", "only in the first run");
  const fs::path today = dest.path() / datedFolderName();
  {
    SmtpSink refusing(SmtpSink::Mode::RefuseAll);
    writeRunConfig(home.path(), "NetworkPath=" + source.str() + "/\n", dest.path(),
                   refusing.port());
    const ProgramResult result = runProgram(home.path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("Error 36554"));
    EXPECT_EQ(readFile(today / "gone.txt"), "only in the first run");
  }
  fs::remove(source.path() / "gone.txt");
  source.write("with blanks.doc", "blank name");
  for (int days : {29, 30}) fs::create_directories(dest.path() / datedFolderName(days));
  SmtpSink sink;
  writeRunConfig(home.path(), "NetworkPath=" + source.str() + "/\n", dest.path(), sink.port());

  const ProgramResult result = runProgram(home.path());

  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(readFile(today / "notes.txt"), std::string(5000, 'n'));
  EXPECT_EQ(readFile(today / "with blanks.doc"), "blank name");
  EXPECT_FALSE(fs::exists(today / "gone.txt"));
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  const std::string report = reportUnderFrame(messages[0].body);
  EXPECT_TRUE(std::regex_match(
      report, std::regex("2 files downloaded to '[^']+':\n([^\n]+  \\(\\d+ KB\\)\n){2}\n"
                         "\\d+ KB total downloaded - [^\n]+\n\nDELETING OLD BACKUPS\\.\\.\\.\n"
                         "Deleting folder: [^\n]+\n\\.\\.\\. DONE\n\n"
                         "Free space remaining on '/[^']*' drive: \\d+(,\\d{3})* KB\n?")))
      << report;
  EXPECT_THAT(report, HasSubstr("downloaded to '" + today.string() + "':\n"));
  EXPECT_THAT(report, HasSubstr("with blanks.doc  (0 KB)\n"));
  EXPECT_THAT(report,
              HasSubstr("Deleting folder: " + (dest.path() / datedFolderName(30)).string()));
  EXPECT_FALSE(fs::exists(dest.path() / datedFolderName(30)));
  EXPECT_TRUE(fs::exists(dest.path() / datedFolderName(29))) << "younger than its expiry";
}

}  // namespace
}  // namespace quillfen::test
