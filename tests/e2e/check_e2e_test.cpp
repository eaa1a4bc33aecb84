#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace quillfen::test {
std::string datedFolderName(int daysAgo);  // in run_e2e_test.cpp
namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAreArray;

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

  // Writes Config.ini of `keys` (none: no file) and runs the copy in `mode` (after `runAs`, if
  // given). What neither mode may do is checked here: write to standard error, show a password,
  // touch Config.ini, mail or fetch a file. Its exit code and the lines it printed.
  std::pair<int, std::vector<std::string>> runMode(const std::string& keys, const char* mode,
                                                   std::vector<std::string> runAs = {}) {
    const fs::path file = home.path() / "Config.ini";
    fs::remove(file);
    if (!keys.empty()) std::ofstream(file) << "[Quillfen]\n" << keys;
    runAs.insert(runAs.end(), {(home.path() / "quillfen").string(), mode});
    ChildProcess program(runAs, true);
    program.closeInput();
    const int exitCode = program.wait(std::chrono::seconds(90));
    std::vector<std::string> printed;
    std::istringstream output(program.output());
    for (std::string line; std::getline(output, line);) printed.push_back(line);
    EXPECT_EQ(program.errors(), "");
    EXPECT_THAT(printed, Each(Not(HasSubstr("-pw")))) << "a password was shown";
    EXPECT_EQ(keys.empty() ? "" : "[Quillfen]\n" + keys, readFile(file));
    EXPECT_TRUE(sink.messages().empty() && tlsSink.messages().empty()) << "a mail was sent";
    EXPECT_THAT(ftp.commands(), Each(Not(StartsWith("RETR"))));
    return {exitCode, printed};
  }

  TempDir remote, nested, home, dest;
  FtpServer ftp{remote.path(), "backup", "ftp-pw"};
  SmtpSink sink;
  TestCertificate certificate;
  SmtpSink tlsSink{SinkSecurity{SinkSecurity::Kind::StartTls, &certificate, "quillfen", "mail-pw"}};
};

struct ModeCase {
  const char* title;
  std::string keys;  // none: no Config.ini
  int exitCode;
  std::vector<std::string> lines;
  std::vector<std::string> runAs = {};  // the command the program runs under, if any
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
  const char* script =
      "mount --bind -o ro \"$1\" \"$1\" || exit 99\n"
      "mount --bind \"$2\" /proc/$$/cgroup && export INVOCATION_ID=0123456789abcdef\n"
      "shift 2 && exec \"$@\"";
  return {"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, "sh", folder, cgroup};
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
  const ModeCase cases[] = {
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
    SCOPED_TRACE(c.title);
    const auto [exitCode, printed] = runMode(c.keys, "--check", c.runAs);
    EXPECT_EQ(exitCode, c.exitCode);
    // Each line as expected; an error's own wording after its number is left to its tests.
    ASSERT_EQ(printed.size(), c.lines.size()) << ::testing::PrintToString(printed);
    for (std::size_t i = 0; i < printed.size(); ++i)
      EXPECT_THAT(printed[i], StartsWith(c.lines[i]));
    EXPECT_TRUE(fs::is_empty(dest.path())) << "the destination was written to";
  }
}

// Every entry below `folder` with its kind, its bytes and its time: what a dry run must not touch.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries{
      {".", std::to_string(fs::last_write_time(folder).time_since_epoch().count())}};
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string facts = entry.is_symlink()     ? "link to " + fs::read_symlink(entry).string()
                        : entry.is_directory() ? "folder "
                                               : "file " + readFile(entry.path()) + " ";
    if (!entry.is_symlink())
      facts += std::to_string(fs::last_write_time(entry).time_since_epoch().count());
    entries[fs::relative(entry.path(), folder).string()] = facts;
  }
  return entries;
}

// quillfen --dry-run over a local tree and over FTP, with a mail recipient set: what a run would
// fetch, link from yesterday's backup (b.txt is the same there, to the second), skip and prune
// (KeepDaily=2 keeps today's and yesterday's; DaysTillExpiration=30 deletes the folder of 31 days
// ago). A source that cannot be listed or settings that allow no run end it with a run's exit
// code (a missing Config.ini is told as --check tells it). The destination stays byte for byte as
// it was, Config.ini is neither written nor opened, and no mail, no RETR, no lock goes out.
TEST_F(CheckE2eTest, DryRunSaysWhatARunWouldDoAndChangesNothing) {
  const std::string config = "configuration " + (home.path() / "Config.ini").string();
  const std::string yesterday = datedFolderName(1);
  for (const int daysAgo : {1, 3, 29, 31})
    fs::create_directory(dest.path() / datedFolderName(daysAgo));
  dest.write("photos/" + datedFolderName(40) + "/x", "not a backup");
  for (const TempDir* copy : {&nested, &dest}) {
    const fs::path file = copy->write(copy == &dest ? yesterday + "/b.txt" : "b.txt", "b");
    fs::last_write_time(file, fs::last_write_time(remote.path() / "b.txt"));
  }
  fs::create_directory_symlink(nested.path() / "sub", nested.path() / "link");
  fs::create_directory(nested.path() / "empty");
  const auto deleted = [&](int daysAgo) {
    return "delete " + dest.str() + "/" + datedFolderName(daysAgo);
  };
  const std::string destination =
      "DestinationFolder=" + dest.str() + "\nLinkUnchanged=yes\n" + mailKeys(sink.port());
  const ModeCase cases[] = {
      {"local tree, KeepDaily",
       "NetworkPath=" + nested.str() + "\nIncludeSubfolders=yes\nKeepDaily=2\n" + destination,
       0,
       {config + ": ok", "link b.txt", "fetch sub/c.txt", "skip link to folder: link", deleted(3),
        deleted(29), deleted(31),
        "dry run: 1 to fetch, 1 to link from " + dest.str() + "/" + yesterday +
            ", 1 skipped, 3 folders to delete; nothing was changed"}},
      {"FTP, DaysTillExpiration",
       ftpKeys("ftp-pw") + destination + "DaysTillExpiration=30\n",
       0,
       {config + ": ok", "fetch a.txt", "link b.txt", deleted(31),
        "dry run: 1 to fetch, 1 to link from " + dest.str() + "/" + yesterday +
            ", 0 skipped, 1 folders to delete; nothing was changed"}},
      {"empty local source",
       "NetworkPath=" + nested.str() + "/empty\n" + destination,
       0,
       {config + ": ok", "delete nothing: the backup would be incomplete",
        "dry run: 0 to fetch, 0 to link, 0 skipped, 0 folders to delete; nothing was changed"}},
      {"refused FTP login",
       ftpKeys("not-the-ftp-pw") + destination,
       1,
       {config + ": ok",
        "source FTP " + ftp.address() + ": listing failed: 530 Authentication failed."}},
      {"refused Keep",
       ftpKeys("ftp-pw") + destination + "KeepWeekly=-1\n",
       2,
       {config + ": KeepWeekly must be a whole number of 0 or more; it is '-1'."}},
  };
  const auto before = snapshot(dest.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const auto [exitCode, printed] = runMode(c.keys, "--dry-run");
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_THAT(printed, UnorderedElementsAreArray(c.lines));  // in any order
    EXPECT_EQ(snapshot(dest.path()), before);
  }
}

}  // namespace
}  // namespace quillfen::test
