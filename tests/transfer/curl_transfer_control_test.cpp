#include "transfer/curl_transfer_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/inet.h"
#include "transfer/main_form.h"
#include "ui/console_event_pump.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr const char* kUser = "backup";
constexpr const char* kPassword = "s3cret:@/ \"x";
const auto kCompleted = EndsWith("icResponseCompleted\r\n");
const auto kFailed = EndsWith("icError\r\n");

class CurlTransferControlTest : public ::testing::Test {
 protected:
  void connect(const FtpServer& server, const std::string& path = {},
               const std::string& password = kPassword) {
    inet_.reset();
    inet_.emplace(frmMain_, pump_);
    inet_->URL(server.address() + path);
    inet_->UserName(kUser);
    inet_->Password(password);
  }
  std::string list() {
    inet_->Execute(inet_->URL(), "DIR");
    std::string listing, piece;
    while (!(piece = std::get<std::string>(inet_->GetChunk(256))).empty()) listing += piece;
    return listing;
  }
  void get(const std::string& remote, const fs::path& local) {
    inet_->Execute(inet_->URL(), "GET \"" + remote + "\" \"" + local.string() + "\"");
  }

  // Short bounds, so that a server that hangs fails the test quickly.
  TransferTimeouts timeouts{std::chrono::seconds(10), std::chrono::seconds(10),
                            std::chrono::seconds(10)};
  TempDir remote_, local_;
  ConsoleEventPump pump_;
  MainForm frmMain_{[this] { return std::make_unique<CurlTransferControl>(pump_, timeouts); }};
  std::optional<Inet> inet_;
};

// A hundred files well within 20 s: a stall of a fifth of a second or more between transfers on
// the one control connection fails it.
TEST_F(CurlTransferControlTest, ListsByMlsdOrListAndFetchesEveryFileOverOneControlConnection) {
  std::set<std::string> expected = {"with blanks .doc", "Grüße – 日本.txt", "sub dir/", "empty/"};
  for (int i = 0; i < 100; ++i) expected.insert("file " + std::to_string(i) + ".bin");
  for (const std::string& name : expected) {
    if (name.ends_with('/'))
      fs::create_directories(remote_.path() / "my top" / name);
    else
      remote_.write("my top/" + name, name + std::string(name.size() * 99, 'a'));
  }
  for (bool mlsd : {true, false}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    FtpServer server(remote_.path(), kUser, kPassword, {.offerMlsd = mlsd, .failingFile = {}});
    connect(server, "/my top");
    std::set<std::string> listed;
    std::istringstream lines(list());
    for (std::string line; std::getline(lines, line);)
      listed.insert(line.substr(0, line.size() - 1));
    EXPECT_EQ(listed, expected);
    EXPECT_THAT(inet_->EventList(), kCompleted);
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& name : listed) {
      if (name.ends_with('/')) continue;
      get(name, local_.path() / name);
      ASSERT_THAT(inet_->EventList(), kCompleted) << name << ": " << inet_->ResponseInfo();
      ASSERT_EQ(readFile(local_.path() / name), readFile(remote_.path() / "my top" / name));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.logins(), 1);
  }
}

// A server that accepts the connection and never answers must not hang an unattended run.
TEST_F(CurlTransferControlTest, RefusedLoginMissingFolderAndSilentServerEndInErrorWithTheReply) {
  timeouts = {std::chrono::seconds(2), std::chrono::seconds(1), std::chrono::seconds(1)};
  const FtpServerOptions silent{.offerMlsd = true, .failingFile = {}, .silent = true};
  const std::tuple<FtpServerOptions, const char*, const char*, int, const char*> cases[] = {
      {{}, "", "wrong", 530, "530 "},
      {{}, "/no such folder", kPassword, 550, "550 "},
      {silent, "", kPassword, 28, "imeout"}};  // libcurl's time-out, as there was no reply
  for (const auto& [options, path, password, code, info] : cases) {
    FtpServer server(remote_.path(), kUser, kPassword, options);
    connect(server, path, password);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(list(), "") << info;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << info;
    EXPECT_THAT(inet_->EventList(), kFailed) << info;
    EXPECT_EQ(inet_->ResponseCode(), code) << info;
    EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(info));
  }
}

// Downloads go to a temporary file that replaces the local one only on success: a broken,
// missing or cancelled download leaves nothing behind and an older copy as it was.
TEST_F(CurlTransferControlTest, OnlyACompleteDownloadReplacesTheCopyAndAFailedOneLeavesNothing) {
  remote_.write("big.bin", std::string(4 << 20, 'b'));
  remote_.write("broken.bin", std::string(1 << 20, 'x'));
  FtpServer server(remote_.path(), kUser, kPassword, {.failingFile = "broken.bin"});
  connect(server);
  const fs::path copy = local_.path() / "big.bin";
  get("big.bin", copy);
  EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
  EXPECT_EQ(readFile(copy), readFile(remote_.path() / "big.bin"));
  const auto stamp = fs::last_write_time(copy) - std::chrono::hours(24);
  fs::last_write_time(copy, stamp);
  for (const std::string remote : {"broken.bin", "missing.bin"}) {  // the first breaks off midway
    for (const fs::path& to : {copy, local_.path() / remote}) {
      get(remote, to);
      EXPECT_THAT(inet_->EventList(), kFailed) << to;
    }
  }
  EXPECT_EQ(inet_->ResponseCode(), 550);
  inet_->OnStateChanged([this](std::int16_t state) {
    if (state == transfer_state::kReceivingResponse) inet_->Cancel();
  });
  get("big.bin", copy);
  EXPECT_THAT(inet_->EventList(), kFailed);
  EXPECT_EQ(fs::last_write_time(copy), stamp) << "the older copy was replaced";
  EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace quillfen::test
