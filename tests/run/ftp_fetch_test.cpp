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

using ::testing::ElementsAre;
using Names = std::vector<std::string>;

constexpr const char* kHeader = "QUILLFEN BACKUP ACTIVITY - 10/5/2003 2:15:03 AM\n\n";

// The FTP branch against a control that answers like a server: the listing for DIR, an empty
// download for GET; the requests naming an entry of `failing` (a file or "DIR") end in error.
class FtpFetchTest : public ::testing::Test {
 protected:
  FtpFetchTest() {
    run.Settings.FtpIPAddress = "ftp.example.org/backups";
    run.ActivityReport = "left over from an earlier run\n";
    env.createControl = [this] {
      auto control = std::make_unique<test::FakeTransferControl>(env.events);
      control->onExecute = [this](const std::string& operation) { serve(operation); };
      control_ = control.get();
      return control;
    };
    inet.emplace(env.frmMain, env.events);
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
    dirListing = std::move(listing);
    failing = std::move(failures);
    DownloadFromFtp(run, env.services, *inet, "/backup/20031005");
  }

  test::FakeEnvironment env{"/opt/quillfen"};
  RunModule run;
  std::string dirListing;
  std::set<std::string> failing;
  Names operations, fetched;  // every request; the remote names of the GET requests
  test::FakeTransferControl* control_ = nullptr;
  std::optional<Inet> inet;
};

struct FetchCase {
  const char* title;
  std::string listing;
  Names fetched;
  std::string linesAfterCount;
  std::set<std::string> failing = {};
};

FetchCase longListing() {  // longer than one 256-character piece
  FetchCase c{"LongListing", "", {}, ""};
  for (int i = 0; i < 60; ++i)
    c.listing += c.fetched.emplace_back("f " + std::to_string(i)) + "\r\n";
  return c;
}

class FtpFetchCaseTest : public FtpFetchTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(FtpFetchCaseTest, FetchesEveryRealNameOnceAndReportsWhatFailed) {
  const FetchCase& c = GetParam();
  fetch(c.listing, c.failing);
  EXPECT_EQ(fetched, c.fetched);
  EXPECT_EQ(run.FileList, c.fetched);
  EXPECT_EQ(run.ActivityReport, kHeader + ("Downloading " + std::to_string(c.fetched.size()) +
                                           " files...\n\n" + c.linesAfterCount));
  EXPECT_EQ(env.window.max, c.fetched.empty() ? 1.0f : static_cast<float>(c.fetched.size()));
  std::vector<float> counted;
  for (std::size_t i = 1; i <= c.fetched.size(); ++i) counted.push_back(static_cast<float>(i));
  EXPECT_EQ(env.window.values, counted);
  EXPECT_EQ(run.TodaysBackupIncomplete, !c.failing.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Listings, FtpFetchCaseTest,
    ::testing::Values(
        FetchCase{"WorkedExample", "a.txt\r\nsub/\r\nb.log\r\n\r\n", {"a.txt", "b.log"}, ""},
        FetchCase{"OnlyFolders", "sub/\r\nother/\r\n", {}, ""},
        FetchCase{"EmptyLineAndBareCr", "a.txt\r\n\r\nb.log\rc", {"a.txt", "b.log", "c"}, ""},
        FetchCase{"Blanks",
                  " lead.txt\r\nin side.doc\r\ntrail. \r\n",
                  {" lead.txt", "in side.doc", "trail. "},
                  ""},
        longListing(),
        FetchCase{
            "UnsafeNames",
            "..\r\n.\r\nsub/inner.txt\r\nback\\slash.txt\r\nbell\x07tab\t.txt\r\ngood.txt\r\n",
            {"good.txt"},
            "Skipped unsafe remote name: ..\n"
            "Skipped unsafe remote name: .\n"
            "Skipped unsafe remote name: sub/inner.txt\n"
            "Skipped unsafe remote name: back\\slash.txt\n"
            "Skipped unsafe remote name: bell?tab?.txt\n"},
        FetchCase{"FailedListing",
                  "a.txt\r\n",
                  {},
                  "Listing failed: 550 No such file or directory.\n",
                  {"DIR"}},
        FetchCase{"FailedFileTheOthersStillFetched",
                  "a.txt\r\nb.log\r\nc.dat\r\n",
                  {"a.txt", "b.log", "c.dat"},
                  "Failed to download: b.log (550 No such file or directory.)\n",
                  {"b.log"}}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(FtpFetchTest, CancelIsHonouredBeforeTheNextFile) {
  env.events.onProcess = [this] {
    if (env.window.values.size() == 1) env.window.clickCancel();
  };
  fetch("a file.txt\r\nb.log\r\nc.dat\r\n");
  EXPECT_THAT(operations, ElementsAre("DIR", "GET \"a file.txt\" \"/backup/20031005/a file.txt\""));
  EXPECT_THAT(env.window.values, ElementsAre(1.0f));
  EXPECT_EQ(run.ActivityReport, kHeader + std::string("Downloading 3 files...\n\n"));
}

}  // namespace
}  // namespace quillfen
