#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/smtp_sink.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::Not;
using ::testing::StartsWith;

// quillfen --check of a copy of the program beside the Config.ini each case writes, against a
// loopback FTP server and SMTP sink: the lines it prints, its exit code, and that it left the
// destination, the source, the mail and Config.ini as they were.
class CheckE2eTest : public ::testing::Test {
 protected:
  CheckE2eTest() {
    remote.write("a.txt", "a");
    remote.write("b.txt", "b");
    fs::copy_file(QUILLFEN_EXECUTABLE, home.path() / "quillfen");
    setenv("QUILLFEN_UI", "console", 1);
  }
  std::string ftpKeys(const std::string& password) const {
    return "FtpIPAddress=" + ftp.address() + "\nFtpUserName=backup\nFtpPassword=" + password + "\n";
  }
  std::string mailKeys(int port) const {
    return "MailServer=127.0.0.1\nMailPort=" + std::to_string(port) +
           "\nMailFrom=quillfen@example.com\nMailTo=ops@example.com\n";
  }

  TempDir remote, home, dest;
  FtpServer ftp{remote.path(), "backup", "secret"};
  SmtpSink sink;
};

TEST_F(CheckE2eTest, PrintsOneLinePerCheckAndTouchesNothing) {
  const std::string destination = "DestinationFolder=" + (dest.path() / "store").string() + "\n";
  const std::string config = "configuration " + (home.path() / "Config.ini").string();
  const std::string source = "source FTP " + ftp.address();
  const struct {
    const char* title;
    std::string keys;  // none: no Config.ini
    int exitCode;
    std::vector<std::string> lines;
  } cases[] = {
      {"all pass",
       ftpKeys("secret") + destination + mailKeys(sink.port()),
       0,
       {config + ": ok", source + ": ok, 2 files"}},
      {"refused login",
       ftpKeys("wrong") + destination,
       1,
       {config + ": ok", source + ": listing failed: 530 Authentication failed."}},
      {"local folder",
       "NetworkPath=" + remote.str() + "\n" + destination,
       0,
       {config + ": ok", "source folder " + remote.str() + ": ok, 2 files"}},
      {"no destination",
       ftpKeys("secret"),
       2,
       {config + ": You must enter a destination path in the configuration file."}},
      {"no Config.ini",
       "",
       2,
       {config + ": missing (quillfen without arguments writes the template)"}},
  };
  for (const auto& c : cases) {
    const fs::path file = home.path() / "Config.ini";
    fs::remove(file);
    if (!c.keys.empty()) std::ofstream(file) << "[Quillfen]\n" << c.keys;

    ChildProcess program({(home.path() / "quillfen").string(), "--check"}, true);
    program.closeInput();
    const int exitCode = program.wait(std::chrono::seconds(90));

    EXPECT_EQ(exitCode, c.exitCode) << c.title << program.errors();
    std::string expected;
    for (const auto& line : c.lines) expected += line + "\n";
    EXPECT_EQ(program.output(), expected) << c.title;
    EXPECT_EQ(program.errors(), "") << c.title;
    EXPECT_EQ(c.keys.empty() ? "" : "[Quillfen]\n" + c.keys, readFile(file)) << c.title;
    EXPECT_TRUE(fs::is_empty(dest.path())) << c.title;
    EXPECT_EQ(readFile(remote.path() / "a.txt"), "a") << c.title;
    EXPECT_THAT(ftp.commands(), Each(Not(StartsWith("RETR")))) << c.title;
    EXPECT_TRUE(sink.messages().empty()) << c.title;
  }
}

}  // namespace
}  // namespace quillfen::test
