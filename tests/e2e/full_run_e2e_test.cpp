#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "e2e/e2e_util.h"
#include "e2e/program.h"
#include "support/ftp_server.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kRule(80, '_');

// Splits a mailed body into the frame's time line and the report after the frame, checking the
// frame's fixed parts on the way.
std::string reportUnderFrame(const std::string& body) {
  const std::string sentence = "This is an automated message sent by Quillfen. \n";
  EXPECT_THAT(body, StartsWith(sentence));
  const std::size_t timeEnd = body.find('\n', sentence.size());
  const std::string time = body.substr(sentence.size(), timeEnd - sentence.size());
  EXPECT_TRUE(std::regex_match(time, std::regex(R"(\d\d/\d\d/\d\d \d{1,2}:\d\d (AM|PM))"))) << time;
  const std::string afterTime = body.substr(timeEnd + 1);
  EXPECT_THAT(afterTime, StartsWith(kRule + "\n\n"));
  return afterTime.substr(kRule.size() + 2);
}

class FullRunE2eTest : public ::testing::Test {
 protected:
  void writeConfig(const std::string& sourceKeys, int mailPort) {
    home.write("Config.ini", "[Quillfen]\n" + sourceKeys + "DestinationFolder=" + dest.str() +
                                 "\nDaysTillExpiration=30\nMailServer=127.0.0.1\nMailPort=" +
                                 std::to_string(mailPort) +
                                 "\nMailFrom=Quillfen <quillfen@example.com>\n"
                                 "MailTo=ops@example.com;backup@example.com\n"
                                 "MailSubject=Quillfen Backup Report\n");
  }
  std::string ftpKeys(const FtpServer& server, const std::string& password = "secret") {
    return "FtpIPAddress=" + server.address() + "\nFtpUserName=backup\nFtpPassword=" + password +
           "\n";
  }
  fs::path today() const { return dest.path() / todaysFolderName(); }

  TempDir remote;
  TempDir dest;
  TempDir home;
  Program program{home.path()};
};

TEST_F(FullRunE2eTest, FtpRunFetchesTheDirectoryAndMailsTheFramedReportToEachRecipient) {
  remote.write("notes.txt", std::string(5000, 'n'));
  remote.write("with blanks.txt", "blank\r\nname\n");
  remote.write("\xC3\xBCnicode.bin", std::string(1048576, '\x01'));
  remote.write("sub/inner.txt", "not fetched");
  fs::create_directories(dest.path() / daysAgoFolderName(30));
  FtpServer ftp(remote.path(), "backup", "secret");
  SmtpSink sink;
  writeConfig(ftpKeys(ftp), sink.port());

  const ProgramResult result = program.run();

  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ftp.logins(), 1);
  for (const char* name : {"notes.txt", "with blanks.txt", "\xC3\xBCnicode.bin"}) {
    EXPECT_EQ(readFile(today() / name), readFile(remote.path() / name)) << name;
  }
  EXPECT_FALSE(fs::exists(today() / "sub"));
  EXPECT_FALSE(fs::exists(dest.path() / daysAgoFolderName(30)));

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_THAT(messages[0].rcptTos, ::testing::ElementsAre("ops@example.com"));
  EXPECT_THAT(messages[1].rcptTos, ::testing::ElementsAre("backup@example.com"));
  EXPECT_EQ(messages[0].mailFrom, "quillfen@example.com");
  EXPECT_EQ(messages[0].subject, "Quillfen Backup Report");
  const std::string report = reportUnderFrame(messages[0].body);
  EXPECT_EQ(reportUnderFrame(messages[1].body), report);

  const std::string folder = today().string();
  const std::regex layout(
      "QUILLFEN BACKUP ACTIVITY - [^\n]+\n\n"
      "Downloading 3 files\\.\\.\\.\n\n"
      "3 files downloaded to '" + folder + "':\n"
      "([^\n]+  \\(\\d+(,\\d{3})* KB\\)\n){3}"
      "\n1,029 KB total downloaded - [^\n]+\n\n"
      "DELETING OLD BACKUPS\\.\\.\\.\n"
      "Deleting folder: " + dest.str() + "/" + daysAgoFolderName(30) + "\n"
      "\\.\\.\\. DONE\n\n"
      "Free space remaining on '/[^']*' drive: \\d+(,\\d{3})* KB\n?");
  EXPECT_TRUE(std::regex_match(report, layout)) << report;
  EXPECT_THAT(report, HasSubstr("notes.txt  (5 KB)\n"));
  EXPECT_THAT(report, HasSubstr("\xC3\xBCnicode.bin  (1,024 KB)\n"));
}

TEST_F(FullRunE2eTest, LocalRunMailsExactlyTheReportOfThatRun) {
  TempDir source;
  source.write("a.txt", std::string(512, 'a'));
  SmtpSink sink;
  writeConfig("NetworkPath=" + source.str() + "\n", sink.port());

  const ProgramResult result = program.run();

  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  const std::string report = reportUnderFrame(messages[0].body);
  const std::regex layout("1 files downloaded to '" + today().string() + "':\n"
                          "a\\.txt  \\(1 KB\\)\n"
                          "\n1 KB total downloaded - [^\n]+\n\n"
                          "DELETING OLD BACKUPS\\.\\.\\.\n"
                          "   \\.\\.\\. no expired backups found\\.\n"
                          "\\.\\.\\. DONE\n\n"
                          "Free space remaining on '/[^']*' drive: \\d+(,\\d{3})* KB\n?");
  EXPECT_TRUE(std::regex_match(report, layout)) << report;
}

TEST_F(FullRunE2eTest, RefusedFtpLoginIsReportedKeepsOldBackupsAndEndsIncomplete) {
  remote.write("notes.txt", "n");
  fs::create_directories(dest.path() / daysAgoFolderName(30));
  FtpServer ftp(remote.path(), "backup", "secret");
  SmtpSink sink;
  writeConfig(ftpKeys(ftp, "wrong"), sink.port());

  const ProgramResult result = program.run();

  EXPECT_EQ(result.exitCode, 4) << result.err;
  EXPECT_TRUE(fs::exists(dest.path() / daysAgoFolderName(30)));
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  const std::string report = reportUnderFrame(messages[0].body);
  EXPECT_THAT(report, HasSubstr("Downloading 0 files...\n\nListing failed: "));
  EXPECT_THAT(report, HasSubstr("   ... skipped: today's backup is incomplete.\n... DONE\n\n"));
  EXPECT_THAT(report, Not(HasSubstr("Deleting folder")));
}

TEST_F(FullRunE2eTest, RefusingSmtpServerEndsTheRunWithANumberedError) {
  TempDir source;
  source.write("a.txt", "a");
  SmtpSink sink(SmtpSink::Mode::RefuseAll);
  writeConfig("NetworkPath=" + source.str() + "\n", sink.port());

  const ProgramResult result = program.run();

  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("Error 36554"));
  EXPECT_TRUE(fs::exists(today() / "a.txt"));
}

TEST_F(FullRunE2eTest, InterruptDuringTheFetchCancelsWithoutPruningOrMail) {
  for (int i = 0; i < 600; ++i) remote.write("file" + std::to_string(i) + ".dat", "data");
  fs::create_directories(dest.path() / daysAgoFolderName(30));
  FtpServer ftp(remote.path(), "backup", "secret");
  SmtpSink sink;
  writeConfig(ftpKeys(ftp), sink.port());

  program.start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (program.running() && std::chrono::steady_clock::now() < deadline &&
         (!fs::exists(today()) || fs::is_empty(today()))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  program.signal(SIGINT);
  const ProgramResult result = program.wait();

  EXPECT_EQ(result.exitCode, 3) << result.err;
  const auto fetched = std::distance(fs::directory_iterator(today()), fs::directory_iterator());
  EXPECT_GE(fetched, 1);
  EXPECT_LT(fetched, 600);
  EXPECT_TRUE(fs::exists(dest.path() / daysAgoFolderName(30)));
  EXPECT_TRUE(sink.messages().empty());
}

}  // namespace
}  // namespace quillfen::test
