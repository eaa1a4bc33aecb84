#include "transfer/curl_transfer_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "common/error.h"
#include "process/event_pump.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/inet.h"
#include "transfer/main_form.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Runs posted notifications in order, as the front end's pump does.
class QueuePump final : public EventPump {
 public:
  void processEvents() override {
    std::deque<std::function<void()>> ready;
    ready.swap(queue_);
    for (auto& task : ready) task();
  }
  void post(std::function<void()> task) override { queue_.push_back(std::move(task)); }

 private:
  std::deque<std::function<void()>> queue_;
};

constexpr const char* kUser = "backup";
constexpr const char* kPassword = "s3cret:@/ \"x";

std::string lastLine(const std::string& eventList) {
  const auto end = eventList.rfind("\r\n");
  if (end == std::string::npos) return {};
  const auto start = eventList.rfind("\r\n", end - 1);
  return eventList.substr(start == std::string::npos ? 0 : start + 2,
                          end - (start == std::string::npos ? 0 : start + 2));
}

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
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

class CurlTransferControlTest : public ::testing::Test {
 protected:
  // Short bounds, so that a server that hangs fails the test quickly.
  TransferTimeouts timeouts{std::chrono::seconds(10), std::chrono::seconds(10),
                            std::chrono::seconds(10)};

  Inet& connect(const FtpServer& server, const std::string& path = {},
                const std::string& password = kPassword) {
    inet_ = std::make_unique<Inet>(frmMain_, pump_);
    inet_->URL(server.address() + path);
    inet_->UserName(kUser);
    inet_->Password(password);
    return *inet_;
  }

  std::string list(Inet& inet) {
    inet.Execute(inet.URL(), "DIR");
    std::string listing;
    for (;;) {
      const std::string piece = std::get<std::string>(inet.GetChunk(256, 0));
      if (piece.empty()) return listing;
      EXPECT_LE(piece.size(), 256u);
      listing += piece;
    }
  }

  void get(Inet& inet, const std::string& remote, const fs::path& local) {
    inet.Execute(inet.URL(), "GET \"" + remote + "\" \"" + local.string() + "\"");
  }

  TempDir remote_;
  TempDir local_;
  QueuePump pump_;
  MainForm frmMain_{[this] { return std::make_unique<CurlTransferControl>(pump_, timeouts); }};
  std::unique_ptr<Inet> inet_;
};

TEST_F(CurlTransferControlTest, ListsFilesAndFoldersWithBlanksAndNonAsciiNames) {
  remote_.write("plain.txt", "a");
  remote_.write("with blanks .doc", "b");
  remote_.write("Grüße – 日本.txt", "c");
  remote_.write("sub dir/inner.txt", "d");
  fs::create_directory(remote_.path() / "empty");
  const std::set<std::string> expected = {"plain.txt", "with blanks .doc", "Grüße – 日本.txt",
                                          "sub dir/", "empty/"};
  for (bool mlsd : {true, false}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    FtpServerOptions options;
    options.offerMlsd = mlsd;
    FtpServer server(remote_.path(), kUser, kPassword, options);
    Inet& inet = connect(server);

    EXPECT_EQ(linesOf(list(inet)), expected);
    EXPECT_EQ(inet.EventList(),
              "icResolvingHost\r\nicHostResolved\r\nicConnecting\r\nicConnected\r\n"
              "icRequesting\r\nicRequestSent\r\nicReceivingResponse\r\nicResponseReceived\r\n"
              "icResponseCompleted\r\n");
    EXPECT_EQ(inet.ResponseCode(), 226);
    EXPECT_EQ(server.connections(), 1);
    inet_.reset();
  }
}

TEST_F(CurlTransferControlTest, ListsTheFolderNamedInTheAddress) {
  remote_.write("sub dir/deeper/inner file.txt", "d");
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server, "/sub dir/deeper");
  EXPECT_EQ(list(inet), "inner file.txt\r\n");
}

TEST_F(CurlTransferControlTest, ManyFilesOverOneControlConnection) {
  constexpr int kFiles = 320;
  for (int i = 0; i < kFiles; ++i) {
    remote_.write("file " + std::to_string(i) + ".bin",
                  std::string(100 + i * 37, char('a' + i % 26)));
  }
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  EXPECT_EQ(linesOf(list(inet)).size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "file " + std::to_string(i) + ".bin";
    get(inet, name, local_.path() / name);
    ASSERT_EQ(lastLine(inet.EventList()), "icResponseCompleted")
        << name << ": " << inet.ResponseInfo();
    ASSERT_EQ(readFile(local_.path() / name), readFile(remote_.path() / name)) << name;
  }
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(server.logins(), 1);
}

TEST_F(CurlTransferControlTest, RefusedLoginEndsInError) {
  remote_.write("a.txt", "a");
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server, {}, "wrong");
  EXPECT_EQ(list(inet), "");
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_EQ(inet.ResponseCode(), 530);
  EXPECT_THAT(inet.ResponseInfo(), HasSubstr("530"));
}

TEST_F(CurlTransferControlTest, MissingFolderEndsInError) {
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server, "/no such folder");
  EXPECT_EQ(list(inet), "");
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_EQ(inet.ResponseCode(), 550);
}

TEST_F(CurlTransferControlTest, MissingFileLeavesTheLocalFileAlone) {
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  const fs::path local = local_.write("gone.txt", "yesterday's copy");
  get(inet, "gone.txt", local);
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_EQ(inet.ResponseCode(), 550);
  EXPECT_EQ(readFile(local), "yesterday's copy");
  EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 1);
}

TEST_F(CurlTransferControlTest, TransferBrokenOffLeavesNothingBehind) {
  remote_.write("broken.bin", std::string(1 << 20, 'x'));
  remote_.write("fine.bin", "fine");
  FtpServerOptions options;
  options.failingFile = "broken.bin";
  FtpServer server(remote_.path(), kUser, kPassword, options);
  Inet& inet = connect(server);

  get(inet, "broken.bin", local_.path() / "broken.bin");
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_TRUE(fs::is_empty(local_.path()));

  const fs::path existing = local_.write("broken.bin", "older copy");
  get(inet, "broken.bin", existing);
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_EQ(readFile(existing), "older copy");

  get(inet, "fine.bin", local_.path() / "fine.bin");  // the control is still usable
  EXPECT_EQ(lastLine(inet.EventList()), "icResponseCompleted") << inet.ResponseInfo();
  EXPECT_EQ(readFile(local_.path() / "fine.bin"), "fine");
  EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 2);
}

TEST_F(CurlTransferControlTest, LargeFileIsStreamedWithFlatMemory) {
  constexpr std::uintmax_t kSize = 100u << 20;
  {
    std::ofstream big(remote_.path() / "big.bin", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 % 251);
    for (std::uintmax_t written = 0; written < kSize; written += block.size()) big << block;
  }
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  const long peakBefore = peakResidentKilobytes();

  get(inet, "big.bin", local_.path() / "big.bin");

  EXPECT_EQ(lastLine(inet.EventList()), "icResponseCompleted") << inet.ResponseInfo();
  EXPECT_EQ(fs::file_size(local_.path() / "big.bin"), kSize);
  EXPECT_LT(peakResidentKilobytes() - peakBefore, 16 * 1024) << "kB of peak memory growth";
  std::ifstream copy(local_.path() / "big.bin", std::ios::binary);
  copy.seekg(kSize - 4096);
  std::string tail(4096, '\0');
  copy.read(tail.data(), 4096);
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const std::size_t offset = (kSize - 4096 + i) % (1 << 20);
    ASSERT_EQ(tail[i], static_cast<char>(offset * 31 % 251)) << "at " << i;
  }
}

TEST_F(CurlTransferControlTest, ServerThatNeverAnswersEndsInErrorWithinTheBounds) {
  timeouts = {std::chrono::seconds(2), std::chrono::seconds(1), std::chrono::seconds(1)};
  FtpServerOptions options;
  options.silent = true;
  FtpServer server(remote_.path(), kUser, kPassword, options);
  Inet& inet = connect(server);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(list(inet), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_THAT(inet.ResponseInfo(), HasSubstr("imeout"));
}

TEST_F(CurlTransferControlTest, CancelAbortsTheRunningDownload) {
  remote_.write("big.bin", std::string(64 << 20, 'b'));
  remote_.write("small.txt", "small");
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  inet.OnStateChanged([&inet](std::int16_t state) {
    if (state == transfer_state::kReceivingResponse) inet.Cancel();
  });
  get(inet, "big.bin", local_.path() / "big.bin");
  EXPECT_EQ(lastLine(inet.EventList()), "icError");
  EXPECT_TRUE(fs::is_empty(local_.path()));

  inet.OnStateChanged(nullptr);
  get(inet, "small.txt", local_.path() / "small.txt");
  EXPECT_EQ(lastLine(inet.EventList()), "icResponseCompleted") << inet.ResponseInfo();
  EXPECT_EQ(readFile(local_.path() / "small.txt"), "small");
}

TEST_F(CurlTransferControlTest, OpenUrlReturnsAFileOrAListingAtOnce) {
  remote_.write("docs/read me.txt", "hello");
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  EXPECT_EQ(std::get<std::string>(inet.OpenURL(server.address() + "/docs/read me.txt")), "hello");
  EXPECT_EQ(std::get<std::vector<unsigned char>>(inet.OpenURL(server.address() + "/docs/", 1)),
            (std::vector<unsigned char>{'r', 'e', 'a', 'd', ' ', 'm', 'e', '.', 't', 'x', 't', '\r',
                                        '\n'}));
  EXPECT_THROW(inet.OpenURL(server.address() + "/docs/missing.txt"), Error);
}

TEST_F(CurlTransferControlTest, AnAddressWithoutPortUsesRemotePort) {
  remote_.write("a.txt", "a");
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  inet.URL("127.0.0.1");
  // RemotePort holds 16 signed bits: ports above 32767 are written as their negative twins.
  inet.RemotePort(static_cast<std::int16_t>(server.port()));
  EXPECT_EQ(list(inet), "a.txt\r\n");
}

TEST_F(CurlTransferControlTest, OperationsThatCannotRunAreRefused) {
  FtpServer server(remote_.path(), kUser, kPassword);
  Inet& inet = connect(server);
  for (const char* operation : {"PUT \"a\" \"b\"", "GET \"a\" \"b\" \"c\"", "GET \"\" \"b\""}) {
    try {
      inet.Execute(inet.URL(), operation);
      ADD_FAILURE() << operation << " was accepted";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kTransferBadOperation) << operation;
    }
  }
  try {
    inet.Execute("http://example.invalid/", "DIR");
    ADD_FAILURE() << "an http address was accepted";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kTransferBadUrl);
  }
}

}  // namespace
}  // namespace quillfen::test
