#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::HasSubstr;
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
  std::string tlsMailKeys(const std::string& password) const {
    return mailKeys(tlsSink.port()) +
           "MailSecurity=starttls\nMailUserName=quillfen\nMailPassword=" + password +
           "\nMailTrust=" + certificate.certificate().string() + "\n";
  }

  TempDir remote, home, dest;
  FtpServer ftp{remote.path(), "backup", "ftp-pw"};
  SmtpSink sink;
  TestCertificate certificate;
  SmtpSink tlsSink{SinkSecurity{SinkSecurity::Kind::StartTls, &certificate, "quillfen", "mail-pw"}};
};

TEST_F(CheckE2eTest, PrintsOneLinePerCheckAndTouchesNothing) {
  const std::string destination = "DestinationFolder=" + (dest.path() / "store").string() + "\n";
  const std::string config = "configuration " + (home.path() / "Config.ini").string();
  const std::string source = "source FTP " + ftp.address();
  const std::string mail = "mail server 127.0.0.1:" + std::to_string(sink.port());
  const std::string tlsMail = "mail server 127.0.0.1:" + std::to_string(tlsSink.port());
  const std::string noMail = "mail: skipped, MailTo names no recipient (a run mails nothing)";
  const struct {
    const char* title;
    std::string keys;  // none: no Config.ini
    int exitCode;
    std::vector<std::string> lines;
  } cases[] = {
      {"all pass",
       ftpKeys("ftp-pw") + destination + mailKeys(sink.port()),
       0,
       {config + ": ok", source + ": ok, 2 files", mail + ": ok"}},
      {"refused mail login",
       ftpKeys("ftp-pw") + destination + tlsMailKeys("not-the-mail-pw"),
       1,
       {config + ": ok", source + ": ok, 2 files", tlsMail + ": Error 36"}},
      {"refused login, no recipient",
       ftpKeys("not-the-ftp-pw") + destination,
       1,
       {config + ": ok", source + ": listing failed: 530 Authentication failed.", noMail}},
      {"local folder",
       "NetworkPath=" + remote.str() + "\n" + destination,
       0,
       {config + ": ok", "source folder " + remote.str() + ": ok, 2 files", noMail}},
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
    // Each line as expected; an error's own wording after its number is left to its tests.
    std::vector<std::string> printed;
    std::istringstream output(program.output());
    for (std::string line; std::getline(output, line);) printed.push_back(line);
    ASSERT_EQ(printed.size(), c.lines.size()) << c.title << "\n" << program.output();
    for (std::size_t i = 0; i < printed.size(); ++i)
      EXPECT_THAT(printed[i], StartsWith(c.lines[i])) << c.title;
    EXPECT_EQ(program.errors(), "") << c.title;
    EXPECT_THAT(program.output(), Not(HasSubstr("-pw"))) << c.title << ": a password was shown";
    EXPECT_EQ(c.keys.empty() ? "" : "[Quillfen]\n" + c.keys, readFile(file)) << c.title;
    EXPECT_TRUE(fs::is_empty(dest.path())) << c.title;
    EXPECT_EQ(readFile(remote.path() / "a.txt"), "a") << c.title;
    EXPECT_THAT(ftp.commands(), Each(Not(StartsWith("RETR")))) << c.title;
    EXPECT_TRUE(sink.messages().empty() && tlsSink.messages().empty()) << c.title;
  }
}

}  // namespace
}  // namespace quillfen::test
