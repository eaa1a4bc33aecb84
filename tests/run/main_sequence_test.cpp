#include "run/main_sequence.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "common/error.h"
#include "common/exit_code.h"
#include "filestore/posix_file_system.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "transfer/ftp_listing.h"
#include "transfer/inet.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// Runs from a source folder of one file into a real destination folder; the FTP branch against a
// control that answers like a server: the listing for DIR, an empty download for GET, and an
// error for the requests naming an entry of `failing` (a file or "DIR").
class RunTest : public ::testing::Test {
 protected:
  RunTest() {
    source.write("a.txt", "a");
    exeFolder.write("Config.ini", "[Quillfen]\nNetworkPath=" + source.str() +
                                      "\nDestinationFolder=" + dest.str() + "/\nMailTo=\n");
    env.services.createFileSystem = [] { return std::make_unique<PosixFileSystem>(); };
    env.createControl = [this] {
      auto control = std::make_unique<test::FakeTransferControl>(env.events);
      control->onExecute = [this, c = control.get()](const FtpOperation& operation) {
        const bool listing = operation.kind == FtpOperation::Kind::List;
        if (!listing) fetched.push_back(operation.remote);
        const bool fails = failing.count(listing ? "DIR" : fetched.back()) > 0;
        c->listing = listing && !fails ? dirListing : std::vector<RemoteEntry>();
        c->code = fails ? 550 : 226;
        c->info = fails ? "550 Missing." : "226 Transfer complete.";
        // A request announces itself once logged in; a slow one then receives for a while.
        c->states = {transfer_state::kRequesting};
        if (!listing && slow.count(fetched.back()) > 0)
          c->states.insert(c->states.end(), 5, transfer_state::kReceivingResponse);
        c->states.push_back(fails ? transfer_state::kError : transfer_state::kResponseCompleted);
      };
      return control;
    };
  }

  void fetch(std::vector<RemoteEntry> listing, std::set<std::string> failures = {},
             int connections = 1, std::set<std::string> slowFiles = {}) {
    fetched.clear();
    run = RunModule();
    run.Settings.FtpConnections = connections;
    slow = std::move(slowFiles);
    run.Settings.FtpIPAddress = "ftp.example.org/backups";
    run.ActivityReport = "left over from an earlier run\n";
    dirListing = std::move(listing);
    failing = std::move(failures);
    Inet inet(env.frmMain, env.events);
    DownloadFromFtp(run, env.services, inet, "/backup/20031005");
  }

  test::TempDir exeFolder, source, dest;
  test::FakeEnvironment env{exeFolder.str()};
  RunModule run;
  std::vector<RemoteEntry> dirListing;
  std::set<std::string> failing, slow;
  Names fetched;  // the remote names of the GET requests
};

// A Cancel click is handled at the event pass of the stage named: that stage does not begin,
// nor does any later one; in particular nothing is pruned after a cancel. An earlier backup of
// today is replaced only by a complete fetch (a cancel after it, or no cancel at all).
TEST_F(RunTest, WalksTheStagesInOrderAndACancelStopsTheRunBeforeTheStageItCameIn) {
  const std::string stages[] = {"Creating folders...", "Downloading files...", "Gathering info...",
                                "Deleting expired...", "Sending notification..."};
  const fs::path today = dest.path() / "20031005";
  for (std::size_t clicked = 0; clicked < std::size(stages); ++clicked) {
    SCOPED_TRACE(stages[clicked]);
    const bool cancels = clicked + 1 < std::size(stages);
    const bool fetched = clicked > 1;
    Names expected{"load"};
    for (std::size_t i = 0; i <= clicked; ++i) expected.push_back("status " + stages[i]);
    if (cancels) expected.push_back("status Aborting...");
    expected.push_back("status Complete...");
    env.log.clear();
    fs::remove_all(today);
    dest.write("20031005/earlier run.txt", "kept");
    dest.write("20021005/expired.txt", "365 days old");
    env.events.onProcess = [&] {
      if (cancels && env.window.cancel == 0 && env.window.status == stages[clicked])
        env.window.clickCancel();
    };
    EXPECT_EQ(Main(run, env.services, ""), cancels ? kExitCancelled : kExitCompleted);
    EXPECT_EQ(env.log, expected);
    EXPECT_EQ(fs::exists(today / "earlier run.txt"), !fetched);
    EXPECT_EQ(fs::exists(today / "a.txt"), fetched);
    EXPECT_EQ(fs::exists(dest.path() / "20021005"), cancels);
    EXPECT_FALSE(fs::exists(dest.path() / ".quillfen-staging"));
  }
}

TEST_F(RunTest, FtpFetchesEveryRealNameOnceAndReportsWhatWasSkippedOrFailed) {
  struct Case {
    const char* title;
    std::vector<RemoteEntry> listing;
    Names fetched;
    std::string linesAfterCount;
    std::set<std::string> failing = {};
    int connections = 1;
    std::set<std::string> slow = {};
  };
  // Folders skipped, blanks stay part of the name.
  Case plain{"plain",
             {{" lead.txt"}, {"sub", true}, {"trail. "}, {"c"}},
             {" lead.txt", "trail. ", "c"},
             ""};
  for (int i = 0; i < 60; ++i)
    plain.listing.push_back({plain.fetched.emplace_back("f " + std::to_string(i))});
  std::string unsafeLines;
  for (const std::string& shown : Names{"..", "sub/inner.txt", "bell?.txt", "evil?name.txt",
                                        "line?feed", "nul?.txt", std::string(1025, 'n')})
    unsafeLines += "Skipped unsafe remote name: " + shown + "\n";
  // clang-format off
  const Case cases[] = {
      plain,
      {"unsafe names", {{".."}, {"sub/inner.txt"}, {"bell\x07.txt"}, {"evil\rname.txt"},
        {"line\nfeed"}, {std::string("nul\0.txt", 8)}, {std::string(1025, 'n')},
        {std::string(255, 'k')}}, {std::string(255, 'k')}, unsafeLines},
      {"failed listing", {{"a.txt"}}, {}, "Listing failed: 550 Missing.\n", {"DIR"}},
      // An empty folder on the server is no backup.
      {"empty listing", {}, {}, "Source is empty: nothing was backed up.\n"},
      // Over two connections "a" fails last, after "b" failed and "c" arrived over the other.
      {"failures in the listing's order", {{"a"}, {"b"}, {"c"}}, {"a", "b", "c"},
       "Failed to download: a (550 Missing.)\nFailed to download: b (550 Missing.)\n",
       {"a", "b"}, 2, {"a"}}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    fetch(c.listing, c.failing, c.connections, c.slow);
    EXPECT_EQ(fetched, c.fetched);
    EXPECT_EQ(run.ActivityReport,
              "QUILLFEN BACKUP ACTIVITY - 10/5/2003 2:15:03 AM\n\nDownloading " +
                  std::to_string(c.fetched.size()) + " files...\n\n" + c.linesAfterCount);
    EXPECT_EQ(run.TodaysBackupIncomplete, c.fetched.empty() || !c.failing.empty());
  }
}

// The network branch copies the plain files of the source (links followed) over today's copies,
// each under its exact name: blanks at either end and a leading dot are part of it.
TEST_F(RunTest, NetworkFetchCopiesThePlainFilesOverTodaysKeepingTheirTimes) {
  const char* names[] = {" padded.txt ", "padded.txt", ".env"};
  for (const char* name : names) source.write(name, name);
  run.Settings.NetworkPath = "  " + source.str() + " ";
  const fs::path db = source.write("with blanks.mdb", "new contents");
  const timespec when[2] = {{1000000000, 0}, {1065320103, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, db.c_str(), when, 0), 0);
  ::chmod(dest.write("with blanks.mdb", "old").c_str(), 0400);
  fs::create_symlink(db, source.path() / "link.mdb");
  source.write("sub/inner.txt", "inner");
  DownloadFromNetworkPath(run, env.services, dest.str());
  EXPECT_EQ(std::distance(fs::directory_iterator(dest.path()), {}), 6);  // and a.txt
  for (const char* name : names) EXPECT_EQ(test::readFile(dest.path() / name), name);
  EXPECT_EQ(test::readFile(dest.path() / "with blanks.mdb"), "new contents");
  EXPECT_EQ(fs::last_write_time(dest.path() / "with blanks.mdb"), fs::last_write_time(db));
}

// A destination the file system refuses as read-only: under the packaged service the error says
// where the service's write permission is set; elsewhere the system's wording stands alone.
TEST_F(RunTest, AReadOnlyDestinationUnderThePackagedServiceNamesReadWritePaths) {
  struct ReadOnlyDestination final : PosixFileSystem {
    void createFolder(const std::string& path) override {
      throw errorFromErrno(EROFS, "Cannot create folder", path, true);
    }
  };
  env.services.createFileSystem = [] { return std::make_unique<ReadOnlyDestination>(); };
  for (const bool underUnit : {true, false}) {
    env.process.underPackagedUnit = underUnit;
    env.log.clear();
    RunModule run;
    EXPECT_EQ(Main(run, env.services, ""), kExitError);
    ASSERT_FALSE(env.log.empty());
    EXPECT_THAT(env.log.back(), ::testing::HasSubstr("Read-only file system")) << underUnit;
    EXPECT_EQ(env.log.back().find("ReadWritePaths=" + dest.str()) != std::string::npos, underUnit);
  }
}

}  // namespace
}  // namespace quillfen
