#include "run/main_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "common/error.h"
#include "run/exit_code.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/idle_transfer_control.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using test::CallLog;

// A transfer control that is never asked to do anything: these runs use a network source.
std::unique_ptr<TransferControl> makeIdleTransferControl() {
  return std::make_unique<test::IdleTransferControl>();
}

// An in-memory file store that logs what the run does to folders.
class RecordingFileSystem final : public FileSystem {
 public:
  RecordingFileSystem(CallLog& log, std::set<std::string>& folders) : log_(log), folders_(folders) {}
  bool folderExists(const std::string& path) override { return folders_.count(path) > 0; }
  bool fileExists(const std::string&) override { return false; }
  void createFolder(const std::string& path) override {
    if (failCreate) throw Error(errc::kPathNotFound, "Path not found: " + path);
    log_.push_back("create " + path);
    folders_.insert(path);
  }
  void deleteFile(const std::string&, bool) override {}
  void deleteFolder(const std::string& path, bool) override {
    log_.push_back("delete " + path);
    folders_.erase(path);
  }
  void copyFile(const std::string&, const std::string&, bool) override {}
  std::vector<FileEntry> folderFiles(const std::string&) override { return {}; }
  std::uint64_t folderSize(const std::string&) override { return 0; }
  DriveInfo getDrive(const std::string&) override { return {"/", 1024}; }
  void searchPlainFiles(const std::string&,
                        const std::function<bool(const std::string&)>&) override {}
  bool failCreate = false;

 private:
  CallLog& log_;
  std::set<std::string>& folders_;
};

class MainSequenceTest : public ::testing::Test {
 protected:
  MainSequenceTest() {
    writeConfig("NetworkPath=/srv/source\nDestinationFolder=/backup/\nMailTo=\n");
    env.createControl = [] { return makeIdleTransferControl(); };
    env.services.createFileSystem = [this] {
      auto fs = std::make_unique<RecordingFileSystem>(env.log, folders);
      fs->failCreate = failCreate;
      return fs;
    };
  }

  void writeConfig(const std::string& keys) { exeFolder.write("Config.ini", "[Quillfen]\n" + keys); }

  int runMain(const std::string& commandLine = "") { return Main(run, env.services, commandLine); }

  // The log without the entries the window and pump write, for stage-level assertions.
  std::vector<std::string> entriesStartingWith(const std::vector<std::string>& prefixes) const {
    std::vector<std::string> kept;
    for (const auto& entry : env.log) {
      for (const auto& prefix : prefixes) {
        if (entry.rfind(prefix, 0) == 0) {
          kept.push_back(entry);
          break;
        }
      }
    }
    return kept;
  }

  test::TempDir exeFolder;
  test::FakeEnvironment env{exeFolder.str()};
  RunModule run;
  std::set<std::string> folders{"/backup"};
  bool failCreate = false;
};

TEST_F(MainSequenceTest, WalksTheFiveStagesWithTheirTextsPausesAndEventPasses) {
  EXPECT_EQ(runMain(), kExitCompleted);
  EXPECT_THAT(env.log,
              ElementsAre("load", "min 1", "max 100", "show", "events", "sleep 2000",
                          "status Creating folders...", "sleep 500", "events",
                          "create /backup/20031005",  //
                          "status Downloading files...", "bar shown", "sleep 500", "events",
                          "max 1",  // no source files: the bar's range is 1..1
                          "status Gathering info...", "sleep 500", "events",
                          "status Deleting expired...", "sleep 500", "events",
                          "status Sending notification...", "sleep 500", "events",
                          "status Complete...", "events", "sleep 1000", "hide", "unload"));
}

TEST_F(MainSequenceTest, SameDayRerunDeletesTheEarlierFolderFirst) {
  folders.insert("/backup/20031005");
  runMain();
  EXPECT_THAT(entriesStartingWith({"create", "delete"}),
              ElementsAre("delete /backup/20031005", "create /backup/20031005"));
}

TEST_F(MainSequenceTest, CancelDuringTheStartPauseStillRecreatesTodaysFolderThenStops) {
  // The click lands during the 2 s pause and is handled at the folder stage's event pass.
  bool clicked = false;
  env.sleeper.onSleep = [&](int ms) { clicked = clicked || ms == 2000; };
  env.events.onProcess = [&] {
    if (clicked && env.window.cancel == 0 && env.window.status == "Creating folders...") {
      env.window.clickCancel();
    }
  };
  EXPECT_EQ(runMain(), kExitCancelled);
  EXPECT_THAT(entriesStartingWith({"status", "create", "bar"}),
              ElementsAre("status Creating folders...", "status Aborting...",
                          "create /backup/20031005", "status Complete..."));
  EXPECT_FALSE(env.window.barVisible);
}

TEST_F(MainSequenceTest, CancelSeenAtAnyLaterCheckSkipsTheRemainingStages) {
  struct Case {
    const char* clickDuring;
    const char* lastStage;
  };
  for (const Case& c : {Case{"Downloading files...", "status Downloading files..."},
                        Case{"Gathering info...", "status Gathering info..."},
                        Case{"Deleting expired...", "status Deleting expired..."}}) {
    test::FakeEnvironment local{exeFolder.str()};
    local.createControl = env.createControl;
    local.services.createFileSystem = env.services.createFileSystem;
    local.events.onProcess = [&] {
      if (local.window.status == c.clickDuring) local.window.clickCancel();
    };
    RunModule localRun;
    EXPECT_EQ(Main(localRun, local.services, ""), kExitCancelled) << c.clickDuring;
    const auto& log = local.log;
    const auto last = std::find(log.begin(), log.end(), c.lastStage);
    ASSERT_NE(last, log.end()) << c.clickDuring;
    std::vector<std::string> statuses;
    for (auto it = last + 1; it != log.end(); ++it) {
      if (it->rfind("status ", 0) == 0) statuses.push_back(*it);
    }
    EXPECT_THAT(statuses, ElementsAre("status Aborting...", "status Complete..."))
        << c.clickDuring;
  }
}

TEST_F(MainSequenceTest, TheRunDateIsReadOnceEvenWhenTheRunPassesMidnight) {
  env.clock.set({{2003, 10, 5}, 23, 59, 59});
  // The date is read after the start pause; midnight passes during the first stage pause.
  env.sleeper.onSleep = [&](int ms) {
    if (ms == 500) env.clock.set({{2003, 10, 6}, 0, 0, 30});
  };
  writeConfig("NetworkPath=/srv/source\nDestinationFolder=/backup\nDaysTillExpiration=1\n");
  folders.insert("/backup/20031004");  // one day before the run date: expired
  folders.insert("/backup/20031005");  // the run's own folder (same-day rerun)
  runMain();
  EXPECT_THAT(entriesStartingWith({"create", "delete"}),
              ElementsAre("delete /backup/20031005", "create /backup/20031005",
                          "delete /backup/20031004"));
}

TEST_F(MainSequenceTest, ConfigurationRefusalsEndBeforeAnyWindowWithTheirExitCodes) {
  EXPECT_EQ(runMain("/config"), kExitCompleted);
  writeConfig("DestinationFolder=/backup\n");
  EXPECT_EQ(runMain(), kExitConfiguration);
  EXPECT_THAT(entriesStartingWith({"load", "show", "create"}), ElementsAre());
}

TEST_F(MainSequenceTest, AnErrorIsReportedOnceAndEndsTheRunWithoutFinishing) {
  failCreate = true;
  EXPECT_EQ(runMain(), kExitError);
  EXPECT_THAT(entriesStartingWith({"error", "status"}),
              ElementsAre("status Creating folders...",
                          "error [Quillfen] Error 76: Path not found: /backup/20031005"));
}

TEST_F(MainSequenceTest, ABadNumberInTheSettingsIsAnErrorBeforeAnyWindow) {
  writeConfig("NetworkPath=/srv\nDestinationFolder=/backup\nMailPort=twenty-five\n");
  EXPECT_EQ(runMain(), kExitError);
  EXPECT_THAT(entriesStartingWith({"error", "load"}),
              ElementsAre(HasSubstr("MailPort")));
}

}  // namespace
}  // namespace quillfen
