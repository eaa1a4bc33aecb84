#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
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
    nested.write("sub/c.txt", "c");
    fs::copy_file(QUILLFEN_EXECUTABLE, home.path() / "quillfen");
    // Open to the user "nobody" of the case that checks as one, the destination for reading.
    for (const TempDir* folder : {&home, &dest}) fs::permissions(folder->path(), fs::perms(0755));
    setenv("QUILLFEN_UI", "console", 1);
  }
  std::string ftpKeys(const std::string& password) const {
    return "FtpIPAddress=" + ftp.address() + "\nFtpUserName=backup\nFtpPassword=" + password + "\n";
  }
  std::string mailKeys(int port) const {
    return "MailServer=127.0.0.1\nMailPort=" + std::to_string(port) +
           "\nMailFrom=quillfen@example.com\nMailTo=ops@example.com\n";
  }

  TempDir remote, nested, home, dest;
  FtpServer ftp{remote.path(), "backup", "ftp-pw"};
  SmtpSink sink;
  TestCertificate certificate;
  SmtpSink tlsSink{SinkSecurity{SinkSecurity::Kind::StartTls, &certificate, "quillfen", "mail-pw"}};
};

// Whether this machine lets a process make a mount namespace of its own (a container may not).
bool mountNamespacesWork() {
  ChildProcess probe({"/usr/bin/unshare", "-m", "/bin/true"}, true);
  probe.closeInput();
  return probe.wait(std::chrono::seconds(30)) == 0;
}

// The start of a command that runs the rest with `folder` mounted read-only (in a mount
// namespace of its own: nothing outside sees it) as systemd would run the packaged service (its
// control group file `cgroup` and INVOCATION_ID), whose sandbox shows a folder missing from its
// ReadWritePaths= so.
std::vector<std::string> withReadOnly(const fs::path& folder, const fs::path& cgroup) {
  return {"/usr/bin/unshare",
          "-m",
          "/bin/sh",
          "-c",
          "mount --bind -o ro \"$1\" \"$1\" || exit 99\n"
          "mount --bind \"$2\" /proc/$$/cgroup && export INVOCATION_ID=0123456789abcdef\n"
          "shift 2 && exec \"$@\"",
          "sh",
          folder.string(),
          cgroup.string()};
}

TEST_F(CheckE2eTest, PrintsOneLinePerCheckAndTouchesNothing) {
  const std::string destination = "DestinationFolder=" + dest.str() + "\n";
  const std::string config = "configuration " + (home.path() / "Config.ini").string();
  const std::string destinationOk = "destination " + dest.str() + ": ok, ";
  const fs::path serviceGroup = home.write("cgroup", "0::/system.slice/quillfen.service\n");
  // Root may write anywhere: a folder that is not writable shows only to another user.
  const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups"};
  const std::string source = "source FTP " + ftp.address();
  const std::string mail = "mail server 127.0.0.1:" + std::to_string(sink.port());
  const std::string noMail = "mail: skipped, MailTo names no recipient (a run mails nothing)";
  const std::string ftpOk = ftpKeys("ftp-pw"), ok = config + ": ok";
  const std::string tlsMail = mailKeys(tlsSink.port()) +
                              "MailSecurity=starttls\nMailUserName=quillfen\nMailPassword=no-pw\n"
                              "MailTrust=" +
                              certificate.certificate().string() + "\n";
  // A destination fault: the other checks still run and pass.
  const auto faulty = [&](const std::string& line) {
    return std::vector<std::string>{ok, "destination " + line, source + ": ok, 2 files", noMail};
  };
  const fs::path jobGroup =
      home.write("job-cgroup", "0::/system.slice/system-quillfen.slice/quillfen@web.service\n");
  const auto readOnlyUnder = [&](const std::string& unit) {
    return faulty(dest.str() +
                  ": on a read-only file system (the service may write only where "
                  "ReadWritePaths= allows: run \"sudo systemctl edit " +
                  unit + "\" and add the lines \"[Service]\" and \"ReadWritePaths=" + dest.str() +
                  "\")");
  };
  const struct {
    const char* title;
    std::string keys;  // none: no Config.ini
    int exitCode;
    std::vector<std::string> lines;
    std::vector<std::string> runAs = {};  // the command the check runs under, if any
  } cases[] = {
      {"all pass",
       ftpOk + destination + mailKeys(sink.port()),
       0,
       {ok, destinationOk, source + ": ok, 2 files", mail + ": ok"}},
      {"refused mail login",
       ftpOk + destination + tlsMail,
       1,
       {ok, destinationOk, source + ": ok, 2 files",
        "mail server 127.0.0.1:" + std::to_string(tlsSink.port()) + ": Error 36"}},
      {"refused login, no recipient",
       ftpKeys("not-the-ftp-pw") + destination,
       1,
       {ok, destinationOk, source + ": listing failed: 530 Authentication failed.", noMail}},
      // A run backs up the files of the subfolders: the source is not empty.
      {"local folder with files in subfolders only",
       "NetworkPath=" + nested.str() + "\nIncludeSubfolders=yes\n" + destination,
       0,
       {ok, destinationOk, "source folder " + nested.str() + ": ok, 1 files", noMail}},
      {"no Config.ini",
       "",
       2,
       {config + ": missing (quillfen without arguments writes the template)"}},
      {"misspelt destination key",
       ftpOk + "DestinatonFolder=" + dest.str() + "\n",
       2,
       {config + ": You must enter a destination path",
        "Unknown key: DestinatonFolder (did you mean DestinationFolder?)"}},
      {"missing destination", ftpOk + "DestinationFolder=" + dest.str() + "/store\n", 1,
       faulty(dest.str() + "/store: missing")},
      {"destination that is a file", ftpOk + "DestinationFolder=" + remote.str() + "/a.txt\n", 1,
       faulty(remote.str() + "/a.txt: not a folder")},
      {"destination not writable", ftpOk + destination, 1,
       faulty(dest.str() + ": not writable (Error 70: "), asNobody},
      {"read-only destination of the packaged service", ftpOk + destination, 1,
       readOnlyUnder("quillfen.service"), withReadOnly(dest.path(), serviceGroup)},
      // A job's unit has a drop-in of its own.
      {"read-only destination of a job's service", ftpOk + destination, 1,
       readOnlyUnder("quillfen@web.service"), withReadOnly(dest.path(), jobGroup)},
  };
  const bool canMount = mountNamespacesWork(), canChangeUser = ::geteuid() == 0;
  for (const auto& c : cases) {
    if ((c.runAs == asNobody && !canChangeUser) ||
        (!c.runAs.empty() && c.runAs[0] == "/usr/bin/unshare" && !canMount)) {
      std::cout << "Not tried here, as it needs root or a mount namespace: " << c.title << "\n";
      continue;
    }
    const fs::path file = home.path() / "Config.ini";
    fs::remove(file);
    if (!c.keys.empty()) std::ofstream(file) << "[Quillfen]\n" << c.keys;

    std::vector<std::string> command = c.runAs;
    command.insert(command.end(), {(home.path() / "quillfen").string(), "--check"});
    ChildProcess program(command, true);
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
    EXPECT_TRUE(fs::is_empty(dest.path()) && sink.messages().empty() && tlsSink.messages().empty())
        << c.title << ": the destination was written to or a mail sent";
    EXPECT_THAT(ftp.commands(), Each(Not(StartsWith("RETR")))) << c.title;
  }
}

}  // namespace
}  // namespace quillfen::test
