#include "run/main_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "common/error.h"
#include "run/exit_code.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/scripted_transfer_control.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

using ::testing::ElementsAre;
using Log = std::vector<std::string>;

// An in-memory file store that logs what the run does to folders; the source has no files.
class RecordingFileSystem final : public FileSystem {
 public:
  RecordingFileSystem(Log& log, std::set<std::string>& folders) : log_(log), folders_(folders) {}
  bool folderExists(const std::string& path) override { return folders_.count(path) > 0; }
  bool fileExists(const std::string&) override { return false; }
  void createFolder(const std::string& path) override {
    if (!folderExists(path.substr(0, path.rfind('/')))) {
      throw Error(errc::kPathNotFound, "Path not found: " + path);
    }
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

 private:
  Log& log_;
  std::set<std::string>& folders_;
};

class MainSequenceTest : public ::testing::Test {
 protected:
  MainSequenceTest() {
    writeConfig("NetworkPath=/srv/source\nDestinationFolder=/backup/\nMailTo=\n");
    env.createControl = [this] {
      return std::make_unique<test::ScriptedTransferControl>(env.events);
    };
    env.services.createFileSystem = [this] {
      return std::make_unique<RecordingFileSystem>(env.log, folders);
    };
  }

  void writeConfig(const std::string& keys) {
    exeFolder.write("Config.ini", "[Quillfen]\n" + keys);
  }
  int runMain(const std::string& commandLine = "") { return Main(run, env.services, commandLine); }

  // The log entries that start with one of `prefixes`, in order, joined by " | ".
  std::string entries(const Log& prefixes) const {
    std::string kept;
    for (const auto& entry : env.log) {
      for (const auto& prefix : prefixes) {
        if (entry.rfind(prefix, 0) == 0) kept += (kept.empty() ? "" : " | ") + entry;
      }
    }
    return kept;
  }

  test::TempDir exeFolder;
  test::FakeEnvironment env{exeFolder.str()};
  RunModule run;
  std::set<std::string> folders{"/backup"};
};

TEST_F(MainSequenceTest, WalksTheFiveStagesWithTheirTextsPausesAndEventPasses) {
  EXPECT_EQ(runMain(), kExitCompleted);
  EXPECT_THAT(
      env.log,
      ElementsAre("load", "min 1", "max 100", "show", "events", "sleep 2000",
                  "status Creating folders...", "sleep 500", "events",
                  "create /backup/20031005",  //
                  "status Downloading files...", "bar shown", "sleep 500", "events",
                  "max 1",  // no source files: the bar's range is 1..1
                  "status Gathering info...", "sleep 500", "events", "status Deleting expired...",
                  "sleep 500", "events", "status Sending notification...", "sleep 500", "events",
                  "status Complete...", "events", "sleep 1000", "hide", "unload"));
}

// A Cancel click is handled at the first event pass of the stage named; the next stage's check
// stops the run. A click during the start pause lands in the folder stage, which still runs.
TEST_F(MainSequenceTest, CancelSkipsTheStagesAfterTheNextCheck) {
  const struct {
    const char* clickDuring;
    const char* statusesAndFolders;
  } cases[] = {
      {"Creating folders...",
       "status Creating folders... | status Aborting... | create /backup/20031005 | "
       "status Complete..."},
      {"Downloading files...",
       "status Creating folders... | create /backup/20031005 | status Downloading files... | "
       "bar shown | status Aborting... | status Complete..."},
      {"Deleting expired...",
       "status Creating folders... | create /backup/20031005 | status Downloading files... | "
       "bar shown | status Gathering info... | status Deleting expired... | status Aborting... | "
       "status Complete..."},
  };
  for (const auto& c : cases) {
    env.log.clear();
    env.events.onProcess = [&] {
      if (env.window.cancel == 0 && env.window.status == c.clickDuring) env.window.clickCancel();
    };
    EXPECT_EQ(runMain(), kExitCancelled) << c.clickDuring;
    EXPECT_EQ(entries({"status", "create", "bar"}), c.statusesAndFolders);
  }
}

TEST_F(MainSequenceTest, SameDayRerunPassingMidnightKeepsTheDateItStartedWith) {
  env.clock.set({{2003, 10, 5}, 23, 59, 59});
  // The date is read after the start pause; midnight passes during the first stage pause.
  env.sleeper.onSleep = [&](int ms) {
    if (ms == 500) env.clock.set({{2003, 10, 6}, 0, 0, 30});
  };
  writeConfig("NetworkPath=/srv/source\nDestinationFolder=/backup\nDaysTillExpiration=1\n");
  folders.insert({"/backup/20031004", "/backup/20031005"});  // expired; the run's own
  runMain();
  EXPECT_EQ(entries({"create", "delete"}),
            "delete /backup/20031005 | create /backup/20031005 | delete /backup/20031004");
}

// Runs that end early: refused settings before any window, errors reported once.
TEST_F(MainSequenceTest, EndsEarlyWithTheExitCodeOfWhatStoppedIt) {
  const struct {
    const char* commandLine;
    const char* keys;
    int exitCode;
    const char* shown;  // window, status and error entries
  } cases[] = {
      {"/config", "NetworkPath=/srv\nDestinationFolder=/backup\n", kExitCompleted, ""},
      {"", "DestinationFolder=/backup\n", kExitConfiguration, ""},
      {"", "NetworkPath=/srv\nDestinationFolder=/backup\nMailPort=twenty-five\n", kExitError,
       "error [Quillfen] Error 13: MailPort is not a whole number: 'twenty-five'"},
      {"", "NetworkPath=/srv\nDestinationFolder=/nowhere\n", kExitError,
       "load | status Creating folders... | "
       "error [Quillfen] Error 76: Path not found: /nowhere/20031005"},
  };
  for (const auto& c : cases) {
    env.log.clear();
    writeConfig(c.keys);
    EXPECT_EQ(runMain(c.commandLine), c.exitCode) << c.keys;
    EXPECT_EQ(entries({"load", "status", "error"}), c.shown) << c.keys;
  }
}

}  // namespace
}  // namespace quillfen
