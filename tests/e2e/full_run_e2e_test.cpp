#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "e2e/program.h"
#include "support/ftp_server.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A remote directory behind a loopback FTP server, a destination with backups of 29, 30, 50
// and 51 days ago, and the program beside its Config.ini.
class FullRunE2eTest : public ::testing::Test {
 protected:
  FullRunE2eTest() {
    for (int days : {29, 30, 50, 51}) fs::create_directories(dest.path() / datedFolderName(days));
  }
  bool kept(int daysAgo) const { return fs::exists(dest.path() / datedFolderName(daysAgo)); }
  fs::path today() const { return dest.path() / datedFolderName(); }
  void configure(const std::string& password) {
    const std::string keys = "FtpIPAddress=" + ftp.address() + "\nFtpUserName=backup\n";
    writeRunConfig(home.path(), keys + "FtpPassword=" + password + "\n", dest.path(), sink.port());
  }

  TempDir remote, dest, home;
  FtpServer ftp{remote.path(), "backup", "secret"};
  SmtpSink sink;
};

TEST_F(FullRunE2eTest, FtpRunFetchesTheDirectoryPrunesExpiredDaysAndMailsTheReport) {
  remote.write("notes.txt", std::string(5000, 'n'));
  remote.write("with blanks.txt", "blank\r\nname\n");
  remote.write("\xC3\xBCnicode.bin", std::string(1048576, '\x01'));
  remote.write("sub/inner.txt", "not fetched");
  configure("secret");

  const ProgramResult result = runProgram(home.path());

  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(ftp.logins(), 1);
  for (const char* name : {"notes.txt", "with blanks.txt", "\xC3\xBCnicode.bin"}) {
    EXPECT_EQ(readFile(today() / name), readFile(remote.path() / name)) << name;
  }
  EXPECT_FALSE(fs::exists(today() / "sub"));
  EXPECT_TRUE(kept(29) && !kept(30) && !kept(50) && kept(51));

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_THAT(messages[0].rcptTos, ::testing::ElementsAre("ops@example.com"));
  EXPECT_THAT(messages[1].rcptTos, ::testing::ElementsAre("backup@example.com"));
  EXPECT_EQ(messages[0].mailFrom, "quillfen@example.com");
  EXPECT_EQ(messages[0].subject, "Quillfen Backup Report");
  const std::string report = reportUnderFrame(messages[0].body);
  EXPECT_EQ(reportUnderFrame(messages[1].body), report);
  std::smatch parts;
  EXPECT_TRUE(std::regex_match(
      report, parts,
      std::regex("QUILLFEN BACKUP ACTIVITY - [^\n]+\n\nDownloading 3 files\\.\\.\\.\n\n"
                 "3 files downloaded to '([^']+)':\n([^\n]+  \\(\\d+(,\\d{3})* KB\\)\n){3}"
                 "\n1,029 KB total downloaded - [^\n]+\n\nDELETING OLD BACKUPS\\.\\.\\.\n"
                 "(Deleting folder: [^\n]+\n){2}\\.\\.\\. DONE\n\n"
                 "Free space remaining on '/[^']*' drive: \\d+(,\\d{3})* KB\n?")))
      << report;
  EXPECT_EQ(parts[1], today().string());
  const std::string lines[] = {"notes.txt  (5 KB)\n", "\xC3\xBCnicode.bin  (1,024 KB)\n",
                               "Deleting folder: " + (dest.path() / datedFolderName(30)).string(),
                               "Deleting folder: " + (dest.path() / datedFolderName(50)).string()};
  for (const std::string& line : lines) EXPECT_THAT(report, HasSubstr(line));
}

TEST_F(FullRunE2eTest, RefusedFtpLoginIsReportedKeepsOldBackupsAndEndsIncomplete) {
  configure("wrong");

  const ProgramResult result = runProgram(home.path());

  EXPECT_EQ(result.exitCode, 4) << result.err;
  EXPECT_TRUE(kept(30) && kept(50));
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  const std::string report = reportUnderFrame(messages[0].body);
  EXPECT_THAT(report, HasSubstr("Downloading 0 files...\n\nListing failed: "));
  EXPECT_THAT(report, HasSubstr("   ... skipped: today's backup is incomplete.\n... DONE\n\n"));
  EXPECT_THAT(report, ::testing::Not(HasSubstr("Deleting folder")));
}

TEST_F(FullRunE2eTest, InterruptDuringTheFetchCancelsWithoutPruningOrMail) {
  for (int i = 0; i < 600; ++i) remote.write("file" + std::to_string(i) + ".dat", "data");
  configure("secret");

  const auto program = startProgram(home.path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (program->running() && std::chrono::steady_clock::now() < deadline &&
         (!fs::exists(today()) || fs::is_empty(today()))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  program->signal(SIGINT);
  EXPECT_EQ(program->wait(std::chrono::seconds(90)), 3) << program->errors();
  const auto fetched = std::distance(fs::directory_iterator(today()), fs::directory_iterator());
  EXPECT_TRUE(fetched >= 1 && fetched < 600) << fetched;
  EXPECT_TRUE(kept(30) && kept(50));
  EXPECT_TRUE(sink.messages().empty());
}

}  // namespace
}  // namespace quillfen::test
