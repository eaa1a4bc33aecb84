#include "run/main_sequence.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <new>

#include "common/exit_code.h"
#include "filestore/posix_file_system.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;

// Runs from a source folder of one file into a real destination folder.
class MainSequenceTest : public ::testing::Test {
 protected:
  MainSequenceTest() {
    source.write("a.txt", "a");
    writeConfig("DestinationFolder=" + dest.str() + "/\nMailTo=\n");
    env.createControl = [this] { return std::make_unique<test::FakeTransferControl>(env.events); };
    env.services.createFileSystem = [] { return std::make_unique<PosixFileSystem>(); };
  }

  void writeConfig(const std::string& keys) {
    exeFolder.write("Config.ini", "[Quillfen]\nNetworkPath=" + source.str() + "\n" + keys);
  }
  int runMain() { return Main(run, env.services, ""); }
  std::string inDest(const std::string& name) const { return dest.str() + "/" + name; }

  // The log entries that start with one of `prefixes`, in order, joined by " | ".
  std::string entries(const std::vector<std::string>& prefixes) const {
    std::string kept;
    for (const auto& entry : env.log) {
      for (const auto& prefix : prefixes) {
        if (entry.rfind(prefix, 0) == 0) kept += (kept.empty() ? "" : " | ") + entry;
      }
    }
    return kept;
  }

  test::TempDir exeFolder, source, dest;
  test::FakeEnvironment env{exeFolder.str()};
  RunModule run;
};

TEST_F(MainSequenceTest, WalksTheStagesInOrderAndCompletes) {
  EXPECT_EQ(runMain(), kExitCompleted);
  EXPECT_EQ(entries({"load", "status"}),
            "load | status Creating folders... | status Downloading files... | status Gathering "
            "info... | status Deleting expired... | status Sending notification... | status "
            "Complete...");
  EXPECT_TRUE(fs::is_directory(inDest("20031005")));
}

// A Cancel click is handled at the first event pass of the stage named; the next stage's check
// stops the run. A click during the start pause lands in the folder stage, which still runs.
TEST_F(MainSequenceTest, CancelSkipsTheStagesAfterTheNextCheck) {
  const std::string stages[] = {"Creating folders...", "Downloading files...", "Gathering info...",
                                "Deleting expired..."};
  for (std::size_t clicked = 0; clicked < std::size(stages); ++clicked) {
    std::string statuses;
    for (std::size_t i = 0; i <= clicked; ++i) statuses += "status " + stages[i] + " | ";
    env.log.clear();
    dest.write("20031005/earlier run.txt", "replaced");
    env.events.onProcess = [&] {
      if (env.window.cancel == 0 && env.window.status == stages[clicked]) env.window.clickCancel();
    };
    EXPECT_EQ(runMain(), kExitCancelled) << stages[clicked];
    EXPECT_EQ(entries({"status"}), statuses + "status Aborting... | status Complete...");
    EXPECT_FALSE(fs::exists(inDest("20031005/earlier run.txt"))) << stages[clicked];
  }
}

TEST_F(MainSequenceTest, SameDayRerunPassingMidnightKeepsTheDateItStartedWith) {
  env.clock.set({{2003, 10, 5}, 23, 59, 59});
  // The date is read after the start pause; midnight passes during the first stage pause.
  env.sleeper.onSleep = [&](int ms) {
    if (ms == 500) env.clock.set({{2003, 10, 6}, 0, 0, 30});
  };
  writeConfig("DestinationFolder=" + dest.str() + "\nDaysTillExpiration=1\n");
  dest.write("20031004/expired.txt", "x");
  runMain();
  EXPECT_FALSE(fs::exists(inDest("20031004")));
  EXPECT_TRUE(fs::is_directory(inDest("20031005")));
  EXPECT_FALSE(fs::exists(inDest("20031006")));
}

// Runs that end early: refused settings before any window, errors reported once.
TEST_F(MainSequenceTest, EndsEarlyWithTheExitCodeOfWhatStoppedIt) {
  const struct {
    std::string keys;
    int exitCode;
    std::string shown;  // window, status and error entries
    std::exception_ptr fileSystemFailure = nullptr;
  } cases[] = {
      {"", kExitConfiguration, ""},
      {"DestinationFolder=" + dest.str() + "\nMailPort=x\n", kExitError,
       "error [Quillfen] Error 13: MailPort is not a whole number: 'x'"},
      {"DestinationFolder=" + inDest("gone") + "\n", kExitError,
       "load | status Creating folders... | error [Quillfen] Error 76: Cannot create folder '" +
           inDest("gone/20031005") + "': No such file or directory"},
      {"DestinationFolder=" + dest.str() + "\n", kExitError,
       "load | error [Quillfen] Error 7: Out of memory", std::make_exception_ptr(std::bad_alloc())},
  };
  for (const auto& c : cases) {
    env.log.clear();
    writeConfig(c.keys);
    env.services.createFileSystem = [&c]() -> std::unique_ptr<FileSystem> {
      if (c.fileSystemFailure) std::rethrow_exception(c.fileSystemFailure);
      return std::make_unique<PosixFileSystem>();
    };
    EXPECT_EQ(runMain(), c.exitCode) << c.keys;
    EXPECT_EQ(entries({"load", "status", "error"}), c.shown) << c.keys;
  }
}

}  // namespace
}  // namespace quillfen
