#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/date.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

// The built executable, copied into `folder` so that it finds its Config.ini there, started in
// console mode with its standard streams on pipes (none of them a terminal).
std::unique_ptr<ChildProcess> startProgram(const fs::path& folder,
                                           const std::vector<std::string>& arguments = {}) {
  const fs::path executable = folder / "quillfen";
  fs::copy_file(QUILLFEN_EXECUTABLE, executable, fs::copy_options::skip_existing);
  setenv("QUILLFEN_UI", "console", 1);  // inherited by the program
  std::vector<std::string> argv{executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto program = std::make_unique<ChildProcess>(argv, true);
  program->closeInput();
  return program;
}

struct ProgramResult {
  int exitCode = -1;  // -1 when killed at the deadline or by a signal
  std::string out, err;
};

ProgramResult runProgram(const fs::path& folder, const std::vector<std::string>& arguments = {}) {
  const auto program = startProgram(folder, arguments);
  const int exitCode = program->wait(std::chrono::seconds(90));
  return {exitCode, program->output(), program->errors()};
}

std::string hostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

}  // namespace

// The name of the dated backup folder of `daysAgo` days before today, by the local clock.
std::string datedFolderName(int daysAgo) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return formatYyyymmdd(
      addDays(Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, -daysAgo));
}

namespace {

// The settings file `file` for a run from `sourceKeys` into `destination`, expiring after 30
// days and mailing to two recipients through the SMTP server on `mailPort`.
void writeRunConfig(const fs::path& file, const std::string& sourceKeys,
                    const fs::path& destination, int mailPort) {
  std::ofstream(file)
      << "[Quillfen]\n"
      << sourceKeys << "DestinationFolder=" << destination.string()
      << "\nDaysTillExpiration=30\nMailServer=127.0.0.1\nMailPort=" << mailPort
      << "\nMailFrom=Quillfen <quillfen@example.com>\n"
         "MailTo=ops@example.com;backup@example.com\nMailSubject=Quillfen Backup Report\n";
}

// The first start without a settings file writes the template, root's only (0600), and ends
// without a run, as do the switches and an argument the program does not know. A file named with
// -c stands for Config.ini in every mode, a relative name taken from the working folder; then
// Config.ini beside the program is never made. The messages' texts and the settings' own exit
// codes have unit tests.
TEST(ConfigurationE2eTest, FirstStartSwitchesAndTheSettingsFileNamedWithC) {
  TempDir home, work, source, dest;
  source.write("a.txt", "a");
  SmtpSink sink;
  const fs::path config = home.path() / "Config.ini", job = work.path() / "jobs" / "web.ini";
  fs::create_directories(job.parent_path());
  const std::string edit = "edit the configuration file";
  const struct {
    std::vector<std::string> arguments;
    fs::path file;  // the settings file of the case
    bool present;   // the file is there before the start
    int exitCode;
    std::string said;  // on standard output or error; nothing for the one run
  } cases[] = {
      {{}, config, false, 2, "Please enter the correct configuration data"},
      {{"/config"}, config, true, 0, edit},
      {{"--help"}, config, true, 0, "Exit codes"},
      {{""}, config, true, 2, "unknown argument ''"},
      {{"-c", "jobs/web.ini"}, job, false, 2, "Please enter the correct configuration data"},
      {{"/config", "--config", job.string()}, job, true, 0, edit + " " + job.string()},
      {{"-c", job.string(), "--check"}, job, true, 0, "configuration " + job.string() + ": ok"},
      {{"--config", "jobs/web.ini"}, job, true, 0, ""},
  };
  const fs::path workingFolder = fs::current_path();
  fs::current_path(work.path());
  for (const auto& c : cases) {
    fs::remove(config);
    fs::remove(job);
    if (c.present)
      writeRunConfig(c.file, "NetworkPath=" + source.str() + "\n", dest.path(), sink.port());
    const ProgramResult result = runProgram(home.path(), c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.said << result.err;
    // A start that allows no run says why on standard error, where cron and the journal look.
    EXPECT_THAT(c.exitCode == 2 ? result.err : result.out + result.err, HasSubstr(c.said));
    EXPECT_THAT(readFile(c.file), HasSubstr("\nDestinationFolder=")) << c.said;
    if (!c.present) {
      EXPECT_EQ(fs::status(c.file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(fs::exists(config), c.file == config) << c.said;
    EXPECT_EQ(fs::exists(dest.path() / datedFolderName(0)), c.said.empty()) << c.said;
  }
  fs::current_path(workingFolder);
  EXPECT_EQ(readFile(dest.path() / datedFolderName(0) / "a.txt"), "a");
}

// A source behind a loopback FTP server or in a local folder, a destination with backups of 29,
// 30, 50 and 51 days ago, and the program beside its Config.ini.
class RunE2eTest : public ::testing::Test {
 protected:
  RunE2eTest() {
    for (int days : {29, 30, 50, 51}) fs::create_directories(dest.path() / datedFolderName(days));
  }
  bool kept(int daysAgo) const { return fs::exists(dest.path() / datedFolderName(daysAgo)); }
  bool prunedTheExpired() const { return kept(29) && !kept(30) && !kept(50) && kept(51); }
  fs::path today() const { return dest.path() / datedFolderName(0); }
  // Until the first download has begun (the program has a file open in the folder that becomes
  // today's), then a little longer.
  void waitUntilDownloading(ChildProcess& program) const {
    const fs::path staging = dest.path() / ".quillfen-staging";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (program.running() && std::chrono::steady_clock::now() < deadline &&
           !program.hasFileOpenBelow(staging)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  void configureFtp(const FtpServer& server) {
    const std::string keys = "FtpIPAddress=" + server.address() + "\nFtpUserName=backup\n";
    writeRunConfig(home.path() / "Config.ini", keys + "FtpPassword=secret\n", dest.path(),
                   sink.port());
  }

  TempDir remote, dest, home;
  FtpServer ftp{remote.path(), "backup", "secret"};
  SmtpSink sink;
};

TEST_F(RunE2eTest, FtpRunFetchesPrunesAndMailsAndARunBesideAnotherIsRefused) {
  remote.write("notes.txt", std::string(5000, 'n'));
  remote.write("with blanks.txt", "blank\r\nname\n");
  remote.write("\xC3\xBCnicode.bin", std::string(1048576, '\x01'));
  remote.write("sub/inner.txt", "not fetched");
  configureFtp(ftp);

  const ProgramResult result = runProgram(home.path());

  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(ftp.logins(), 1);
  for (const char* name : {"notes.txt", "with blanks.txt", "\xC3\xBCnicode.bin"}) {
    EXPECT_EQ(readFile(today() / name), readFile(remote.path() / name)) << name;
  }
  EXPECT_TRUE(prunedTheExpired());
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);  // one a recipient
  // The subfolder is neither fetched nor counted: three files. The report's layout has unit tests.
  EXPECT_THAT(messages[0].body, HasSubstr("\n3 files downloaded to '" + today().string() + "':\n"));

  // Another job (-c) started while this one downloads into the same destination ends at once,
  // touching nothing, and mails why, naming itself and the host.
  remote.write("slow.bin", std::string(8 << 20, 's'));
  const FtpServer slow(remote.path(), "backup", "secret", FtpServerOptions::trickling(64 << 10));
  configureFtp(slow);
  const auto first = startProgram(home.path());
  waitUntilDownloading(*first);
  writeRunConfig(home.path() / "other.ini", "NetworkPath=" + remote.str() + "\n", dest.path(),
                 sink.port());
  const ProgramResult second =
      runProgram(home.path(), {"-c", (home.path() / "other.ini").string()});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_THAT(second.err, HasSubstr("Error 37000: Another Quillfen run (process"));
  const std::string job = "other.ini on " + hostName();
  EXPECT_EQ(sink.messages().at(3).subject, "FAILED: Quillfen Backup Report (" + job + ")");
  EXPECT_THAT(sink.messages().at(3).body,
              AllOf(HasSubstr("\nJob: " + job + "\n"), HasSubstr("Another Quillfen run (process")));
  EXPECT_TRUE(first->running());
  EXPECT_EQ(readFile(today() / "notes.txt"), readFile(remote.path() / "notes.txt"));

  // Killed outright (SIGKILL, the OOM killer) in the middle of its download, the rerun leaves the
  // day's complete backup as it was; the next run replaces it and clears the killed one's
  // staging away.
  first->signal(SIGKILL);
  first->wait(std::chrono::seconds(10));
  EXPECT_EQ(readFile(today() / "notes.txt"), readFile(remote.path() / "notes.txt"));
  EXPECT_FALSE(fs::exists(today() / "slow.bin"));
  fs::remove(remote.path() / "slow.bin");
  remote.write("b.txt", "next run");
  configureFtp(ftp);
  ASSERT_EQ(runProgram(home.path()).exitCode, 0);
  EXPECT_EQ(readFile(today() / "b.txt"), "next run");
  for (const auto& entry : fs::directory_iterator(dest.path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".quillfen-")) << entry.path();
}

// A link to a folder on a server that lists with LIST only (vsftpd) is neither fetched as a file
// nor entered: the report names it, and the run is clean and prunes the expired days.
TEST_F(RunE2eTest, ALinkToAFolderOnAListOnlyServerIsSkippedAndTheRunPrunes) {
  remote.write("notes.txt", "notes");
  remote.write("sub/inner.txt", "inner");
  fs::create_directory_symlink("sub", remote.path() / "photos");
  fs::permissions(remote.path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);  // vsftpd lists only what anyone may read
  const TestCertificate certificate;
  const VsftpdServer vsftpd(remote.path(), certificate, false);
  writeRunConfig(home.path() / "Config.ini",
                 "FtpIPAddress=ftpes://" + vsftpd.address() + "\nFtpTrust=" +
                     certificate.certificate().string() + "\nIncludeSubfolders=yes\n",
                 dest.path(), sink.port());

  const ProgramResult result = runProgram(home.path());

  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(readFile(today() / "sub/inner.txt"), "inner");
  EXPECT_FALSE(fs::exists(today() / "photos"));
  EXPECT_TRUE(prunedTheExpired());
  EXPECT_THAT(sink.messages().at(0).body, HasSubstr("\nSkipped link to folder: photos\n"));
}

// Ctrl-C, SIGTERM (systemctl stop) and a double Ctrl-C in the middle of a download that would
// take minutes stop it at once: nothing of it is kept and the old backups stay. A cancelled run
// mails its report (two signals sent at once may arrive as one).
TEST_F(RunE2eTest, SignalsDuringASlowDownloadStopItAtOnceKeepingNothingOfIt) {
  remote.write("slow.bin", std::string(8 << 20, 's'));
  const FtpServer slow(remote.path(), "backup", "secret", FtpServerOptions::trickling(64 << 10));
  configureFtp(slow);
  const struct {
    std::vector<int> signals;
    const char* said;
  } cases[] = {{{SIGINT}, "Quillfen: the run was cancelled\n"},
               {{SIGTERM}, "Quillfen: the run was cancelled by SIGTERM\n"},
               {{SIGINT, SIGINT}, ""}};
  for (const auto& c : cases) {
    const auto program = startProgram(home.path());
    waitUntilDownloading(*program);
    const auto signalled = std::chrono::steady_clock::now();
    for (const int number : c.signals) program->signal(number);
    EXPECT_EQ(program->wait(std::chrono::seconds(90)), 3) << program->errors();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
    EXPECT_TRUE(fs::is_empty(today())) << c.signals.size();
    EXPECT_THAT(program->errors(), HasSubstr(c.said));
  }
  EXPECT_TRUE(kept(30) && kept(50));
  const auto messages = sink.messages();
  EXPECT_GE(messages.size(), 4u);
  EXPECT_THAT(messages, ::testing::Each(::testing::Field(&SinkMessage::subject,
                                                         "CANCELLED: Quillfen Backup Report")));
}

// A local source in the real executable on a terminal: the report, for a reader there, arrives
// on standard output; a misspelt key is named on standard error and stops nothing. A name with
// an LF reaches the terminal and the mail as "?", whatever line it would forge; the file keeps
// its name.
TEST_F(RunE2eTest, LocalRunOnATerminalReportsThereWithControlCharactersShownAsQuestionMarks) {
  remote.write("a\nrun ended: exit code 0", "forged");
  writeRunConfig(home.path() / "Config.ini",
                 "NetworkPath=" + remote.str() + "/\nIncludeSubFolder=yes\n", dest.path(),
                 sink.port());
  startProgram(home.path(), {"--version"})->wait(std::chrono::seconds(30));  // copies it there
  const fs::path errors = home.path() / "errors";
  const std::string command = (home.path() / "quillfen").string() + " 2>'" + errors.string() + "'";
  ChildProcess terminal({"/usr/bin/script", "-qec", command, "/dev/null"});

  EXPECT_EQ(terminal.wait(std::chrono::seconds(90)), 0);
  EXPECT_THAT(terminal.output(), HasSubstr("\na?run ended: exit code 0  ("));
  EXPECT_THAT(readFile(errors),
              HasSubstr("Unknown key: IncludeSubFolder (did you mean IncludeSubfolders?)"));
  EXPECT_EQ(readFile(today() / "a\nrun ended: exit code 0"), "forged");
  EXPECT_THAT(sink.messages().at(0).body, HasSubstr("\na?run ended: exit code 0  ("));
}

}  // namespace
}  // namespace quillfen::test
