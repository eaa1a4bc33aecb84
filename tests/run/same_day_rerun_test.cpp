// A second run on the same day, from a local folder and from a loopback FTP server, through the
// whole run: today's backup is replaced only by a better one, and nothing of the staging is left.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "common/exit_code.h"
#include "filestore/posix_file_system.h"
#include "run/main_sequence.h"
#include "run/run_module.h"
#include "run/services.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "support/user_at_the_pump.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Names = std::set<std::string>;

// What happens to the second run of the day.
enum class Second { Completes, LoginRefused, FileFails, Cancelled, AfterAKilledRun };

// A source file that can never be fetched: the server breaks its download off; a local link to
// a pseudo file whose reading fails.
constexpr const char* kFailing = "x.bin";

struct RerunCase {
  const char* name;
  bool firstIncomplete;  // the first run meets the failing file
  Second second;
  int exitCode;   // a refused local source is an error (1) rather than a failed listing
  bool replaced;  // today's folder ends up holding the second run's files, not the first's
};

class SameDayRerun : public ::testing::TestWithParam<std::tuple<bool, RerunCase>> {
 protected:
  SameDayRerun() {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) source.write(name, name);
  }
  bool ftp() const { return std::get<0>(GetParam()); }
  fs::path today() const { return dest.path() / "20031005"; }
  fs::path staging() const { return dest.path() / ".quillfen-staging"; }

  void configure(const std::string& password, const std::string& folder) {
    std::string source = "NetworkPath=" + folder + "\n";
    if (ftp()) {
      if (!server)
        server.emplace(this->source.path(), "backup", "secret",
                       test::FtpServerOptions{.failingFile = kFailing});
      source = "FtpIPAddress=" + server->address() +
               "\nFtpUserName=backup\nFtpPassword=" + password + "\n";
    }
    std::ofstream(exeFolder.path() / "Config.ini")
        << "[Quillfen]\n"
        << source << "DestinationFolder=" << dest.str() << "\nMailTo=\n";
  }

  // One run; with `cancelMidway` Cancel is clicked once a file arrived in the staging folder.
  int runOnce(bool cancelMidway = false) {
    pump.onProcess = [&] {
      if (!cancelMidway || env.window.cancel != 0 || !fs::exists(staging())) return;
      for (const auto& entry : fs::directory_iterator(staging()))
        if (!entry.path().filename().string().starts_with(".")) return env.window.clickCancel();
    };
    run = RunModule();
    env.window.cancel = 0;
    return Main(run, services, "");
  }

  void addFailingFile() {
    if (ftp()) {
      source.write(kFailing, std::string(256 << 10, 'x'));
    } else {
      fs::create_symlink("/proc/self/mem", source.path() / kFailing);
    }
  }

  static Names filesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    names.erase(kFailing);
    return names;
  }

  test::TempDir source, dest, exeFolder;
  test::FakeEnvironment env{exeFolder.str()};
  test::UserAtThePump pump;
  MainForm frmMain{[this] { return std::make_unique<CurlTransferControl>(pump); }};
  Services services = env.servicesOver(pump, frmMain);
  std::optional<test::FtpServer> server;
  RunModule run;
};

TEST_P(SameDayRerun, LeavesTodaysFolderHoldingTheBetterBackupAndNoStaging) {
  const RerunCase& c = std::get<1>(GetParam());
  configure("secret", source.str());
  if (c.firstIncomplete) addFailingFile();
  const int first = runOnce();
  ASSERT_EQ(first, c.firstIncomplete ? kExitIncomplete : kExitCompleted) << run.ActivityReport;
  const Names firstRun = filesIn(today());
  source.write("d.txt", "new since the first run");
  if (!c.firstIncomplete) fs::remove(source.path() / "a.txt");

  if (c.second == Second::LoginRefused) configure("wrong", source.str() + "/missing");
  if (c.second == Second::FileFails && !c.firstIncomplete) addFailingFile();
  if (c.second == Second::AfterAKilledRun) {
    dest.write(".quillfen-staging/half a file", "as a killed run leaves it");
    dest.write(".quillfen-replaced-20031005/older.txt", "set aside by a killed swap");
  }
  const bool refusedLocal = c.second == Second::LoginRefused && !ftp();
  EXPECT_EQ(runOnce(c.second == Second::Cancelled), refusedLocal ? kExitError : c.exitCode)
      << run.ActivityReport;

  EXPECT_EQ(filesIn(today()), c.replaced ? filesIn(source.path()) : firstRun) << run.ActivityReport;
  EXPECT_EQ(run.ActivityReport.find("Kept the earlier backup of today: " + today().string()) !=
                std::string::npos,
            !c.replaced)
      << run.ActivityReport;
  EXPECT_THAT(run.ActivityReport, ::testing::Not(HasSubstr(".quillfen")));
  EXPECT_FALSE(fs::exists(staging()));
  EXPECT_FALSE(fs::exists(dest.path() / ".quillfen-replaced-20031005"));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SameDayRerun,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Values(RerunCase{"CompleteReplacesComplete", false,
                                                   Second::Completes, kExitCompleted, true},
                                         RerunCase{"RefusedSourceKeepsComplete", false,
                                                   Second::LoginRefused, kExitIncomplete, false},
                                         RerunCase{"OneFailedFileKeepsComplete", false,
                                                   Second::FileFails, kExitIncomplete, false},
                                         RerunCase{"CancelMidwayKeepsComplete", false,
                                                   Second::Cancelled, kExitCancelled, false},
                                         RerunCase{"KilledRunLeftoversAreClearedAway", false,
                                                   Second::AfterAKilledRun, kExitCompleted, true},
                                         RerunCase{"IncompleteIsReplacedByOneNoSmaller", true,
                                                   Second::FileFails, kExitIncomplete, true})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) ? "Ftp" : "Local") + std::get<1>(info.param).name;
    });

}  // namespace
}  // namespace quillfen
