#include "transfer/curl_transfer_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "common/error.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/inet.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr const char* kUser = "backup";
constexpr const char* kPassword = "s3cret:@/ \"x";
const auto kCompleted = EndsWith("icResponseCompleted\r\n");
const auto kFailed = EndsWith("icError\r\n");

std::set<std::string> linesOf(const std::string& listing) {
  std::set<std::string> lines;
  std::size_t start = 0;
  for (auto end = listing.find("\r\n"); end != std::string::npos;
       end = listing.find("\r\n", start)) {
    lines.insert(listing.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, listing.size()) << "every line ends in CR LF";
  return lines;
}

long peakResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

class CurlTransferControlTest : public ::testing::Test {
 protected:
  Inet& connect(const FtpServer& server, const std::string& path = {},
                const std::string& password = kPassword) {
    inet_.reset();
    inet_.emplace(frmMain_, pump_);
    inet_->URL(server.address() + path);
    inet_->UserName(kUser);
    inet_->Password(password);
    return *inet_;
  }
  std::string list() {
    inet_->Execute(inet_->URL(), "DIR");
    std::string listing;
    for (std::string piece; !(piece = std::get<std::string>(inet_->GetChunk(256))).empty();) {
      EXPECT_LE(piece.size(), 256u);
      listing += piece;
    }
    return listing;
  }
  void get(const std::string& remote, const fs::path& local) {
    inet_->Execute(inet_->URL(), "GET \"" + remote + "\" \"" + local.string() + "\"");
  }

  // Short bounds, so that a server that hangs fails the test quickly.
  TransferTimeouts timeouts{std::chrono::seconds(10), std::chrono::seconds(10),
                            std::chrono::seconds(10)};
  TempDir remote_, local_;
  CallLog log_;
  FakeEventPump pump_{log_};
  MainForm frmMain_{[this] { return std::make_unique<CurlTransferControl>(pump_, timeouts); }};
  std::optional<Inet> inet_;
};

TEST_F(CurlTransferControlTest, ListsTheAddressedFolderByMlsdOrListWithEveryKindOfName) {
  for (const char* name : {"plain.txt", "with blanks .doc", "Grüße – 日本.txt", "sub dir/a.txt"}) {
    remote_.write(std::string("my top/") + name, "x");
  }
  fs::create_directory(remote_.path() / "my top" / "empty");
  for (bool mlsd : {true, false}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    FtpServer server(remote_.path(), kUser, kPassword, {.offerMlsd = mlsd, .failingFile = {}});
    connect(server, "/my top");
    if (!mlsd) {  // without a port in the address RemotePort applies, in 16 signed bits
      inet_->URL("127.0.0.1/my top");
      inet_->RemotePort(static_cast<std::int16_t>(server.port()));
    }
    EXPECT_EQ(linesOf(list()), (std::set<std::string>{"plain.txt", "with blanks .doc",
                                                      "Grüße – 日本.txt", "sub dir/", "empty/"}));
    EXPECT_EQ(inet_->EventList(),
              "icResolvingHost\r\nicHostResolved\r\nicConnecting\r\nicConnected\r\n"
              "icRequesting\r\nicRequestSent\r\nicReceivingResponse\r\nicResponseReceived\r\n"
              "icResponseCompleted\r\n");
    EXPECT_EQ(inet_->ResponseCode(), 226);
    EXPECT_EQ(server.connections(), 1);
  }
}

TEST_F(CurlTransferControlTest, RefusedLoginAndMissingFolderEndInErrorWithTheReply) {
  remote_.write("a.txt", "a");
  FtpServer server(remote_.path(), kUser, kPassword);
  const std::tuple<const char*, const char*, int> cases[] = {{"", "wrong", 530},
                                                             {"/no such folder", kPassword, 550}};
  for (const auto& [path, password, code] : cases) {
    connect(server, path, password);
    EXPECT_EQ(list(), "") << code;
    EXPECT_THAT(inet_->EventList(), kFailed);
    EXPECT_EQ(inet_->ResponseCode(), code);
    EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(std::to_string(code)));
  }
}

TEST_F(CurlTransferControlTest, ManyFilesOverOneControlConnection) {
  constexpr int kFiles = 320;
  for (int i = 0; i < kFiles; ++i) {
    remote_.write("file " + std::to_string(i) + ".bin", std::string(100 + i * 37, 'a' + i % 26));
  }
  FtpServer server(remote_.path(), kUser, kPassword);
  connect(server);
  EXPECT_EQ(linesOf(list()).size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "file " + std::to_string(i) + ".bin";
    get(name, local_.path() / name);
    ASSERT_THAT(inet_->EventList(), kCompleted) << name << ": " << inet_->ResponseInfo();
    ASSERT_EQ(readFile(local_.path() / name), readFile(remote_.path() / name)) << name;
  }
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(server.logins(), 1);
}

TEST_F(CurlTransferControlTest, FailedDownloadsLeaveNothingBehindAndKeepAnOlderCopy) {
  remote_.write("broken.bin", std::string(1 << 20, 'x'));
  remote_.write("fine.bin", "fine");
  FtpServer server(remote_.path(), kUser, kPassword, {.failingFile = "broken.bin"});
  connect(server);
  get("broken.bin", local_.path() / "broken.bin");  // breaks off mid-transfer
  EXPECT_THAT(inet_->EventList(), kFailed);
  EXPECT_TRUE(fs::is_empty(local_.path()));

  const fs::path older = local_.write("broken.bin", "older copy");
  for (const char* remote : {"broken.bin", "missing.bin"}) {
    get(remote, older);
    EXPECT_THAT(inet_->EventList(), kFailed) << remote;
    EXPECT_EQ(readFile(older), "older copy") << remote;
  }
  EXPECT_EQ(inet_->ResponseCode(), 550);
  EXPECT_THROW(get("", local_.path() / "x"), Error);

  get("fine.bin", local_.path() / "fine.bin");  // the control is still usable
  EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
  EXPECT_EQ(readFile(local_.path() / "fine.bin"), "fine");
  EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 2);
}

TEST_F(CurlTransferControlTest, LargeFileIsStreamedWithFlatMemory) {
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 % 251);
  {
    std::ofstream big(remote_.path() / "big.bin", std::ios::binary);
    for (int i = 0; i < 100; ++i) big << block;
  }
  FtpServer server(remote_.path(), kUser, kPassword);
  connect(server);
  const long peakBefore = peakResidentKilobytes();
  get("big.bin", local_.path() / "big.bin");
  EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
  EXPECT_LT(peakResidentKilobytes() - peakBefore, 16 * 1024) << "kB of peak memory growth";
  EXPECT_EQ(fs::file_size(local_.path() / "big.bin"), 100u << 20);
  std::ifstream copy(local_.path() / "big.bin", std::ios::binary);
  copy.seekg(99 << 20);
  std::string lastBlock(block.size(), '\0');
  copy.read(lastBlock.data(), static_cast<std::streamsize>(lastBlock.size()));
  EXPECT_TRUE(lastBlock == block) << "the last MiB differs";
}

TEST_F(CurlTransferControlTest, ServerThatNeverAnswersEndsInErrorWithinTheBounds) {
  timeouts = {std::chrono::seconds(2), std::chrono::seconds(1), std::chrono::seconds(1)};
  FtpServer server(remote_.path(), kUser, kPassword,
                   {.offerMlsd = true, .failingFile = {}, .failAfterBytes = 0, .silent = true});
  connect(server);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(list(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_THAT(inet_->EventList(), kFailed);
  EXPECT_THAT(inet_->ResponseInfo(), HasSubstr("imeout"));
}

TEST_F(CurlTransferControlTest, CancelAbortsTheRunningDownload) {
  remote_.write("big.bin", std::string(64 << 20, 'b'));
  remote_.write("small.txt", "small");
  FtpServer server(remote_.path(), kUser, kPassword);
  connect(server);
  inet_->OnStateChanged([this](std::int16_t state) {
    if (state == transfer_state::kReceivingResponse) inet_->Cancel();
  });
  get("big.bin", local_.path() / "big.bin");
  EXPECT_THAT(inet_->EventList(), kFailed);
  EXPECT_TRUE(fs::is_empty(local_.path()));
  inet_->OnStateChanged(nullptr);
  get("small.txt", local_.path() / "small.txt");
  EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
}

TEST_F(CurlTransferControlTest, OpenUrlReturnsAFileOrAListingAtOnce) {
  remote_.write("docs/read me.txt", "hello");
  FtpServer server(remote_.path(), kUser, kPassword);
  connect(server);
  const std::string docs = server.address() + "/docs/";
  EXPECT_EQ(std::get<std::string>(inet_->OpenURL(docs + "read me.txt")), "hello");
  const std::string listing = "read me.txt\r\n";
  EXPECT_EQ(std::get<std::vector<unsigned char>>(inet_->OpenURL(docs, 1)),
            std::vector<unsigned char>(listing.begin(), listing.end()));
  EXPECT_THROW(inet_->OpenURL(docs + "missing.txt"), Error);
}

}  // namespace
}  // namespace quillfen::test
