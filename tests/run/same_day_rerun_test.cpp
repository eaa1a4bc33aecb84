// A second run on the same day through the whole run: today's backup is replaced only by a
// better one, and nothing of the staging is left, whether the files come from a local folder or
// a loopback FTP server that refuses a login or fails a file for real.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <set>

#include "common/exit_code.h"
#include "filestore/file_system.h"
#include "run/main_sequence.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "support/test_platform.h"
#include "transfer/curl_transfer_control.h"
#include "ui/console_event_pump.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Names = std::set<std::string>;

// What happens to the second run of the day (over FTP, SourceMissing is a refused login).
enum class Second { Completes, SourceMissing, FileFails, Cancelled, AfterAKilledRun };

// A source file that can never be fetched: locally a link to a pseudo file whose reading fails;
// over FTP a file the server breaks off after 64 KiB.
constexpr const char* kFailing = "x.bin";

struct RerunCase {
  const char* name;
  bool firstIncomplete;  // the first run meets the failing file
  Second second;
  int exitCode;
  bool replaced;  // today's folder ends up holding the second run's files, not the first's
  bool overFtp = false;
};
void PrintTo(const RerunCase& c, std::ostream* out) {
  *out << c.name;
}

class SameDayRerun : public ::testing::TestWithParam<RerunCase> {
 protected:
  SameDayRerun() {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) source.write(name, name);
    env.services.createFileSystem = makeHostFileSystem;
    env.createControl = [this] { return std::make_unique<test::FakeTransferControl>(env.events); };
    if (GetParam().overFtp)
      ftp.emplace(source.path(), "backup", "secret",
                  test::FtpServerOptions{.offerMlsd = true, .failingFile = kFailing});
  }
  fs::path today() const { return dest.path() / "20031005"; }
  fs::path staging() const { return dest.path() / ".quillfen-staging"; }

  void configure(bool refused = false) {
    const std::string sourceKeys =
        ftp ? "FtpIPAddress=" + ftp->address() +
                  "\nFtpUserName=backup\nFtpPassword=" + (refused ? "wrong" : "secret")
            : "NetworkPath=" + source.str() + (refused ? "/missing" : "");
    exeFolder.write("Config.ini", "[Quillfen]\n" + sourceKeys +
                                      "\nDestinationFolder=" + dest.str() + "\nMailTo=\n");
  }

  // One run; with `cancelMidway` Cancel is clicked once a file arrived in the staging folder.
  int runOnce(bool cancelMidway = false) {
    env.events.onProcess = [&] {
      if (!cancelMidway || env.window.cancel != 0 || !fs::exists(staging())) return;
      for (const auto& entry : fs::directory_iterator(staging()))
        if (!entry.path().filename().string().starts_with(".")) return env.window.clickCancel();
    };
    run = RunModule();
    env.window.cancel = 0;
    return Main(run, ftp ? ftpServices : env.services, "");
  }

  void addFailingFile() {
    if (ftp)
      source.write(kFailing, std::string(100000, 'x'));
    else
      fs::create_symlink(test::kUnreadableFile, source.path() / kFailing);
  }

  static Names filesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.insert(test::utf8Name(entry.path().filename()));
    names.erase(kFailing);
    return names;
  }

  test::TempDir source, dest, exeFolder;
  test::FakeEnvironment env{exeFolder.str()};
  RunModule run;
  std::optional<test::FtpServer> ftp;
  ConsoleEventPump pump;
  MainForm ftpForm{[this] { return std::make_unique<CurlTransferControl>(pump); }};
  Services ftpServices = env.servicesOver(pump, ftpForm);
};

TEST_P(SameDayRerun, LeavesTodaysFolderHoldingTheBetterBackupAndNoStaging) {
  const RerunCase& c = GetParam();
  if (!ftp && (c.firstIncomplete || c.second == Second::FileFails) && !*test::kUnreadableFile)
    GTEST_SKIP() << "this system has no file whose every read fails";
  configure();
  if (c.firstIncomplete) addFailingFile();
  const int first = runOnce();
  ASSERT_EQ(first, c.firstIncomplete ? kExitIncomplete : kExitCompleted) << run.ActivityReport;
  const Names firstRun = filesIn(today());
  source.write("d.txt", "new since the first run");
  if (!c.firstIncomplete) fs::remove(source.path() / "a.txt");

  if (c.second == Second::SourceMissing) configure(true);
  if (c.second == Second::FileFails && !c.firstIncomplete) addFailingFile();
  if (c.second == Second::AfterAKilledRun) {
    dest.write(".quillfen-staging/half a file", "as a killed run leaves it");
    dest.write(".quillfen-replaced-20031005/older.txt", "set aside by a killed swap");
  }
  EXPECT_EQ(runOnce(c.second == Second::Cancelled), c.exitCode) << run.ActivityReport;

  EXPECT_EQ(filesIn(today()), c.replaced ? filesIn(source.path()) : firstRun) << run.ActivityReport;
  EXPECT_EQ(run.ActivityReport.find("Kept the earlier backup of today: " + today().string()) !=
                std::string::npos,
            !c.replaced)
      << run.ActivityReport;
  EXPECT_THAT(run.ActivityReport, ::testing::Not(HasSubstr(".quillfen")));
  // The file that failed costs itself only: the others were fetched after it.
  const std::string failed = c.overFtp ? "Failed to download: " : "Failed to copy: ";
  EXPECT_EQ(run.ActivityReport.find(failed + kFailing + " (") != std::string::npos,
            c.second == Second::FileFails)
      << run.ActivityReport;
  EXPECT_FALSE(fs::exists(staging()));
  EXPECT_FALSE(fs::exists(dest.path() / ".quillfen-replaced-20031005"));
}

constexpr RerunCase kRerunCases[] = {
    {"CompleteReplacesComplete", false, Second::Completes, kExitCompleted, true},
    {"MissingSourceKeepsComplete", false, Second::SourceMissing, kExitError, false},
    {"OneFailedFileKeepsComplete", false, Second::FileFails, kExitIncomplete, false},
    {"CancelMidwayKeepsComplete", false, Second::Cancelled, kExitCancelled, false},
    {"KilledRunLeftoversAreClearedAway", false, Second::AfterAKilledRun, kExitCompleted, true},
    {"IncompleteIsReplacedByOneNoSmaller", true, Second::FileFails, kExitIncomplete, true},
};

INSTANTIATE_TEST_SUITE_P(Local, SameDayRerun, ::testing::ValuesIn(kRerunCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A cancel over FTP is the signal tests' of the real program.
constexpr RerunCase kFtpRerunCases[] = {
    {"CompleteReplacesComplete", false, Second::Completes, kExitCompleted, true, true},
    {"RefusedLoginKeepsComplete", false, Second::SourceMissing, kExitIncomplete, false, true},
    {"OneFailedFileKeepsComplete", false, Second::FileFails, kExitIncomplete, false, true},
};

INSTANTIATE_TEST_SUITE_P(Ftp, SameDayRerun, ::testing::ValuesIn(kFtpRerunCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen
