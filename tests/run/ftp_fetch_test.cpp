#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "run/download_files.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::FakeEnvironment;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr const char* kHeader = "QUILLFEN BACKUP ACTIVITY - 10/5/2003 2:15:03 AM\n\n";

// A server in a box: hands out a fixed listing, records every request, and ends the requests
// named in `failing` in error (after one round of the wait, as a real request would).
class ScriptedControl final : public TransferControl {
 public:
  ScriptedControl(EventPump& pump, std::string listing, std::set<std::string> failing)
      : pump_(pump), listing_(std::move(listing)), failing_(std::move(failing)) {}

  std::vector<std::string> requests;  // "URL|operation"
  std::vector<std::string> writes;    // properties written, in order

  void Execute(const std::string& URL, const ExecuteArguments& arguments) override {
    const std::string operation = arguments.empty() ? "" : arguments.front().value_or("");
    requests.push_back(URL + "|" + operation);
    const bool listing = operation == "DIR";
    const bool fails = failing_.count(listing ? "DIR" : remoteName(operation)) > 0;
    chunkOffset_ = 0;
    delivered_ = listing && !fails ? listing_ : "";
    code_ = fails ? 550 : 226;
    info_ = fails ? "550 No such file or directory." : "226 Transfer complete.";
    pending_ = fails ? 11 : 12;
  }
  bool StillExecuting() override {
    if (pending_ < 0) return false;
    const std::int16_t state = pending_;
    pending_ = -1;
    pump_.post([this, state] {
      if (listener_) listener_(state);
    });
    return true;
  }
  TransferData GetChunk(std::int32_t size, std::int32_t) override {
    const std::string piece = delivered_.substr(chunkOffset_, static_cast<std::size_t>(size));
    chunkOffset_ += piece.size();
    return piece;
  }
  std::int32_t ResponseCode() override { return code_; }
  std::string ResponseInfo() override { return info_; }
  std::string URL() override { return url_; }
  void URL(const std::string& vData) override { writes.push_back("URL " + (url_ = vData)); }
  void UserName(const std::string& vData) override { writes.push_back("UserName " + vData); }
  void Password(const std::string& vData) override { writes.push_back("Password " + vData); }
  void SubscribeStateChanged(StateListener listener) override { listener_ = std::move(listener); }

  TransferData OpenURL(const std::string&, std::int16_t) override { return std::string(); }
  std::string GetHeader(const std::optional<std::string>&) override { return {}; }
  void Cancel() override {}
  std::int32_t AccessType() override { return 1; }
  void AccessType(std::int32_t) override {}
  std::int32_t Protocol() override { return 2; }
  void Protocol(std::int32_t) override {}
  std::int16_t RemotePort() override { return 21; }
  void RemotePort(std::int16_t) override {}
  std::int32_t RequestTimeout() override { return 0; }
  void RequestTimeout(std::int32_t) override {}
  std::string UserName() override { return {}; }
  std::string Password() override { return {}; }
  std::string RemoteHost() override { return {}; }
  void RemoteHost(const std::string&) override {}
  std::string Proxy() override { return {}; }
  void Proxy(const std::string&) override {}
  std::int32_t hInternet() override { return 0; }
  std::string Document() override { return {}; }
  void Document(const std::string&) override {}

 private:
  static std::string remoteName(const std::string& get) {
    const auto open = get.find('"');
    return get.substr(open + 1, get.find('"', open + 1) - open - 1);
  }

  EventPump& pump_;
  std::string listing_;
  std::set<std::string> failing_;
  std::string delivered_;
  std::size_t chunkOffset_ = 0;
  std::int32_t code_ = 0;
  std::string info_;
  std::int16_t pending_ = -1;
  std::string url_;
  StateListener listener_;
};

class FtpFetchTest : public ::testing::Test {
 protected:
  FtpFetchTest() : env_("/opt/quillfen") {
    run_.Settings.FtpIPAddress = "ftp.example.org/backups";
    run_.Settings.FtpUserName = "backup";
    run_.Settings.FtpPassword = "pass word";
    run_.ActivityReport = "left over from an earlier run\n";
  }

  void fetch(const std::string& listing, std::set<std::string> failing = {}) {
    env_.createControl = [&, listing, failing] {
      auto control = std::make_unique<ScriptedControl>(env_.events, listing, failing);
      control_ = control.get();
      return control;
    };
    inet_ = std::make_unique<Inet>(env_.frmMain, env_.events);  // keeps control_ alive
    DownloadFromFtp(run_, env_.services, *inet_, "/backup/20031005");
  }

  // The remote names of the GET requests, in order.
  std::vector<std::string> fetchedNames() const {
    std::vector<std::string> names;
    const std::string prefix = "ftp.example.org/backups|GET \"";
    for (const std::string& request : control_->requests) {
      if (request.rfind(prefix, 0) == 0) {
        names.push_back(
            request.substr(prefix.size(), request.find('"', prefix.size()) - prefix.size()));
      }
    }
    return names;
  }

  FakeEnvironment env_;
  RunModule run_;
  ScriptedControl* control_ = nullptr;
  std::unique_ptr<Inet> inet_;
};

struct SelectionCase {
  const char* title;
  std::string listing;
  std::vector<std::string> fetched;
  std::string linesAfterCount;
};

class FtpSelectionTest : public FtpFetchTest,
                         public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(FtpSelectionTest, FetchesEveryRealNameOnceAndNothingElse) {
  const SelectionCase& c = GetParam();
  fetch(c.listing);
  EXPECT_EQ(fetchedNames(), c.fetched);
  EXPECT_EQ(run_.FileList, c.fetched);
  EXPECT_EQ(run_.ActivityReport, kHeader + ("Downloading " + std::to_string(c.fetched.size()) +
                                            " files...\n\n" + c.linesAfterCount));
  EXPECT_EQ(env_.window.max, c.fetched.empty() ? 1.0f : static_cast<float>(c.fetched.size()));
  EXPECT_FALSE(run_.TodaysBackupIncomplete);
}

INSTANTIATE_TEST_SUITE_P(
    Listings, FtpSelectionTest,
    ::testing::Values(
        SelectionCase{"WorkedExample", "a.txt\r\nsub/\r\nb.log\r\n\r\n", {"a.txt", "b.log"}, ""},
        SelectionCase{"OnlyFolders", "sub/\r\nother/\r\n", {}, ""},
        SelectionCase{"Empty", "", {}, ""},
        SelectionCase{"TrailingCrLf", "a.txt\r\nb.log\r\n", {"a.txt", "b.log"}, ""},
        SelectionCase{"EmptyLineBetweenNames", "a.txt\r\n\r\nb.log", {"a.txt", "b.log"}, ""},
        SelectionCase{"BareCarriageReturns", "a.txt\rb.log\r", {"a.txt", "b.log"}, ""},
        SelectionCase{"Blanks",
                      " lead.txt\r\nin side.doc\r\ntrail. \r\n",
                      {" lead.txt", "in side.doc", "trail. "},
                      ""},
        SelectionCase{"UnsafeNames",
                      "..\r\n.\r\n../up.txt\r\nsub/inner.txt\r\nback\\slash.txt\r\n"
                      "bell\x07tab\t.txt\r\ngood.txt\r\n\x1b[2J\r\n",
                      {"good.txt"},
                      "Skipped unsafe remote name: ..\n"
                      "Skipped unsafe remote name: .\n"
                      "Skipped unsafe remote name: ../up.txt\n"
                      "Skipped unsafe remote name: sub/inner.txt\n"
                      "Skipped unsafe remote name: back\\slash.txt\n"
                      "Skipped unsafe remote name: bell?tab?.txt\n"
                      "Skipped unsafe remote name: ?[2J\n"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(FtpFetchTest, WritesTheSettingsThenListsAndFetchesIntoTodaysFolder) {
  std::string listing;
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) {  // longer than one 256-character piece
    names.push_back("file number " + std::to_string(i) + ".dat");
    listing += names.back() + "\r\n";
  }
  fetch(listing);
  EXPECT_THAT(control_->writes,
              ElementsAre("URL ftp.example.org/backups", "UserName backup", "Password pass word"));
  EXPECT_EQ(control_->requests.front(), "ftp.example.org/backups|DIR");
  EXPECT_EQ(control_->requests[1],
            "ftp.example.org/backups|GET \"file number 0.dat\" "
            "\"/backup/20031005/file number 0.dat\"");
  EXPECT_EQ(fetchedNames(), names);
  std::vector<float> expectedValues;
  for (int i = 1; i <= 60; ++i) expectedValues.push_back(static_cast<float>(i));
  EXPECT_THAT(env_.window.values, ElementsAreArray(expectedValues));
}

TEST_F(FtpFetchTest, FailedListingIsReportedAndMarksTheBackupIncomplete) {
  fetch("a.txt\r\n", {"DIR"});
  EXPECT_TRUE(fetchedNames().empty());
  EXPECT_EQ(run_.ActivityReport,
            std::string(kHeader) +
                "Downloading 0 files...\n\nListing failed: 550 No such file or directory.\n");
  EXPECT_TRUE(run_.TodaysBackupIncomplete);
}

TEST_F(FtpFetchTest, FailedFilesAreReportedAndTheOthersStillFetched) {
  fetch("a.txt\r\nb.log\r\nc.dat\r\n", {"b.log"});
  EXPECT_THAT(fetchedNames(), ElementsAre("a.txt", "b.log", "c.dat"));
  EXPECT_EQ(run_.ActivityReport,
            std::string(kHeader) +
                "Downloading 3 files...\n\n"
                "Failed to download: b.log (550 No such file or directory.)\n");
  EXPECT_TRUE(run_.TodaysBackupIncomplete);
}

TEST_F(FtpFetchTest, CancelIsHonouredBeforeTheNextFile) {
  env_.events.onProcess = [this] {
    if (env_.window.values.size() == 1) env_.window.clickCancel();
  };
  fetch("a.txt\r\nb.log\r\nc.dat\r\n");
  EXPECT_THAT(fetchedNames(), ElementsAre("a.txt"));
  EXPECT_THAT(env_.window.values, ElementsAre(1.0f));
  EXPECT_THAT(run_.ActivityReport, HasSubstr("Downloading 3 files...\n\n"));
}

// The branch against a real server, through the real control.
class FtpFetchAgainstServerTest : public ::testing::Test {
 protected:
  FtpFetchAgainstServerTest() : env_("/opt/quillfen") {
    env_.createControl = [this] { return std::make_unique<CurlTransferControl>(env_.events); };
    run_.Settings.FtpUserName = "backup";
    run_.Settings.FtpPassword = "pa ss;word";
  }

  void fetchFrom(const test::FtpServer& server) {
    run_.Settings.FtpIPAddress = server.address() + "/outbox";
    Inet inet(env_.frmMain, env_.events);
    DownloadFromFtp(run_, env_.services, inet, today_.str());
  }

  test::TempDir remote_;
  test::TempDir today_;
  FakeEnvironment env_;
  RunModule run_;
};

TEST_F(FtpFetchAgainstServerTest, TodaysFolderMatchesTheRemoteFolder) {
  remote_.write("outbox/ledger 2024.xlsx", std::string(200000, '\x17'));
  remote_.write("outbox/Übersicht.txt", "ä\r\nb\n");
  remote_.write("outbox/empty.txt", "");
  remote_.write("outbox/archive/skipped.txt", "not fetched");
  test::FtpServer server(remote_.path(), "backup", "pa ss;word");

  fetchFrom(server);

  std::set<std::string> fetched;
  for (const auto& entry : fs::directory_iterator(today_.path())) {
    fetched.insert(entry.path().filename().string());
    EXPECT_EQ(test::readFile(entry.path()),
              test::readFile(remote_.path() / "outbox" / entry.path().filename()));
  }
  EXPECT_EQ(fetched, (std::set<std::string>{"ledger 2024.xlsx", "Übersicht.txt", "empty.txt"}));
  EXPECT_EQ(run_.ActivityReport, std::string(kHeader) + "Downloading 3 files...\n\n");
  EXPECT_FALSE(run_.TodaysBackupIncomplete);
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(FtpFetchAgainstServerTest, RefusedLoginGivesAReportThatSaysSo) {
  remote_.write("outbox/a.txt", "a");
  test::FtpServer server(remote_.path(), "backup", "another password");
  fetchFrom(server);
  EXPECT_TRUE(fs::is_empty(today_.path()));
  EXPECT_THAT(run_.ActivityReport, HasSubstr("Downloading 0 files...\n\nListing failed: 530"));
  EXPECT_TRUE(run_.TodaysBackupIncomplete);
}

}  // namespace
}  // namespace quillfen
