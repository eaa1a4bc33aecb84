#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "run/download_files.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "transfer/inet.h"

namespace quillfen {
namespace {

using Names = std::vector<std::string>;

constexpr const char* kHeader = "QUILLFEN BACKUP ACTIVITY - 10/5/2003 2:15:03 AM\n\n";

// The FTP branch against a control that answers like a server: the listing for DIR, an empty
// download for GET; the requests naming an entry of `failing` (a file or "DIR") end in error.
class FtpFetchTest : public ::testing::Test {
 protected:
  FtpFetchTest() {
    env.createControl = [this] {
      auto control = std::make_unique<test::FakeTransferControl>(env.events);
      control->onExecute = [this](const std::string& operation) { serve(operation); };
      control_ = control.get();
      return control;
    };
  }

  void serve(const std::string& operation) {
    operations.push_back(operation);
    const bool listing = operation == "DIR";
    if (!listing) fetched.push_back(operation.substr(5, operation.find('"', 5) - 5));
    const bool fails = failing.count(listing ? operation : fetched.back()) > 0;
    control_->data = listing && !fails ? dirListing : "";
    control_->code = fails ? 550 : 226;
    control_->info = fails ? "550 No such file or directory." : "226 Transfer complete.";
    control_->states = {fails ? transfer_state::kError : transfer_state::kResponseCompleted};
  }

  void fetch(std::string listing, std::set<std::string> failures = {}) {
    operations.clear();
    fetched.clear();
    env.window.values.clear();
    run = RunModule();
    run.Settings.FtpIPAddress = "ftp.example.org/backups";
    run.ActivityReport = "left over from an earlier run\n";
    dirListing = std::move(listing);
    failing = std::move(failures);
    Inet inet(env.frmMain, env.events);
    DownloadFromFtp(run, env.services, inet, "/backup/20031005");
  }

  test::FakeEnvironment env{"/opt/quillfen"};
  RunModule run;
  std::string dirListing;
  std::set<std::string> failing;
  Names operations, fetched;  // every request; the remote names of the GET requests
  test::FakeTransferControl* control_ = nullptr;
};

TEST_F(FtpFetchTest, FetchesEveryRealNameOnceAndReportsWhatWasSkippedOrFailed) {
  struct Case {
    const char* title;
    std::string listing;
    Names fetched;
    std::string linesAfterCount;
    std::set<std::string> failing = {};
  };
  // Folders and empty lines skipped, a bare CR ends a line as well, blanks stay part of the
  // name, and the listing is longer than one 256-character piece.
  Case plain{"plain", " lead.txt\r\nsub/\r\n\r\ntrail. \rc\r\n", {" lead.txt", "trail. ", "c"}, ""};
  for (int i = 0; i < 60; ++i)
    plain.listing += plain.fetched.emplace_back("f " + std::to_string(i)) + "\r\n";
  const Case cases[] = {
      plain,
      {"unsafe names",
       "..\r\n.\r\nsub/inner.txt\r\nback\\slash.txt\r\nbell\x07tab\t.txt\r\ngood.txt\r\n",
       {"good.txt"},
       "Skipped unsafe remote name: ..\nSkipped unsafe remote name: .\n"
       "Skipped unsafe remote name: sub/inner.txt\nSkipped unsafe remote name: back\\slash.txt\n"
       "Skipped unsafe remote name: bell?tab?.txt\n"},
      {"failed listing",
       "a.txt\r\n",
       {},
       "Listing failed: 550 No such file or directory.\n",
       {"DIR"}},
      {"failed file",
       "a.txt\r\nb.log\r\nc.dat\r\n",
       {"a.txt", "b.log", "c.dat"},
       "Failed to download: b.log (550 No such file or directory.)\n",
       {"b.log"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    fetch(c.listing, c.failing);
    EXPECT_EQ(fetched, c.fetched);
    EXPECT_EQ(run.FileList, c.fetched);
    EXPECT_EQ(run.ActivityReport, kHeader + ("Downloading " + std::to_string(c.fetched.size()) +
                                             " files...\n\n" + c.linesAfterCount));
    EXPECT_EQ(env.window.max, c.fetched.empty() ? 1.0f : static_cast<float>(c.fetched.size()));
    EXPECT_EQ(env.window.values.size(), c.fetched.size());
    EXPECT_EQ(run.TodaysBackupIncomplete, !c.failing.empty());
  }
}

TEST_F(FtpFetchTest, CancelIsHonouredBeforeTheNextFile) {
  env.events.onProcess = [this] {
    if (env.window.values.size() == 1) env.window.clickCancel();
  };
  fetch("a file.txt\r\nb.log\r\nc.dat\r\n");
  EXPECT_THAT(operations,
              ::testing::ElementsAre("DIR", "GET \"a file.txt\" \"/backup/20031005/a file.txt\""));
}

}  // namespace
}  // namespace quillfen
