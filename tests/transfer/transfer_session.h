#pragma once

// What the transfer tests over a loopback server share: an Inet on the libcurl control, its
// listing and downloads, and a sample tree to fetch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "support/temp_dir.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"
#include "transfer/main_form.h"
#include "ui/console_event_pump.h"

namespace quillfen::test {

constexpr const char* kUser = "backup";
constexpr const char* kPassword = "s3cret:@/ \"x";
inline const auto kCompleted = ::testing::EndsWith("icResponseCompleted\r\n");
inline const auto kFailed = ::testing::EndsWith("icError\r\n");

// Names with blanks and beyond ASCII, an empty folder, and `files` more files, under "my top".
inline std::set<std::string> sampleTree(const TempDir& remote, int files) {
  std::set<std::string> names = {"with blanks .doc", "Grüße – 日本.txt", "sub dir/"};
  for (int i = 0; i < files; ++i) names.insert("file " + std::to_string(i) + ".bin");
  for (const std::string& name : names) {
    if (name.ends_with('/'))
      std::filesystem::create_directories(remote.path() / utf8Path("my top/" + name));
    else
      remote.write("my top/" + name, name + std::string(name.size() * 99, 'a'));
  }
  return names;
}

class TransferSession : public ::testing::Test {
 protected:
  // Short bounds, so that a server that hangs fails a test quickly.
  explicit TransferSession(TransferTimeouts bounds = {std::chrono::seconds(10),
                                                      std::chrono::seconds(10),
                                                      std::chrono::seconds(10)})
      : timeouts(bounds) {}

  Inet& connect(const std::string& url, const std::string& password = kPassword) {
    inet_.emplace(frmMain_, pump_);  // the one before goes first
    inet_->URL(url);
    inet_->UserName(kUser);
    inet_->Password(password);
    return *inet_;
  }
  // The listing as text; its entries are kept for the downloads after it.
  std::string list() {
    inet_->Execute(inet_->URL(), "DIR");
    listed_ = inet_->Listing();
    std::string listing, piece;
    while (!(piece = std::get<std::string>(inet_->GetChunk(256))).empty()) listing += piece;
    return listing;
  }
  // A download of `remote` with what the last listing said about it, as a run fetches it.
  void get(const std::string& remote, const std::filesystem::path& local) {
    FtpOperation operation =
        parseFtpOperation("GET " + quotedName(remote) + " " + quotedName(utf8Name(local)));
    for (const RemoteEntry& entry : listed_)
      if (entry.name == remote) operation.listed = entry;
    inet_->Execute(inet_->URL(), operation);
  }
  // Lists the sample tree's top folder as `names` and fetches every file of it, each equal to
  // the server's copy.
  void listAndFetchAll(const std::set<std::string>& names) {
    std::set<std::string> listed;
    std::istringstream lines(list());
    for (std::string line; std::getline(lines, line);)
      listed.insert(line.substr(0, line.size() - 1));
    ASSERT_EQ(listed, names) << inet_->ResponseInfo();
    for (const std::string& name : names) {
      if (name.ends_with('/')) continue;
      get(name, local_.path() / utf8Path(name));
      ASSERT_EQ(readFile(local_.path() / utf8Path(name)),
                readFile(remote_.path() / utf8Path("my top/" + name)))
          << inet_->ResponseInfo();
    }
  }

  TransferTimeouts timeouts;
  TempDir remote_, local_;
  ConsoleEventPump pump_;
  MainForm frmMain_{[this] { return std::make_unique<CurlTransferControl>(pump_, timeouts); }};
  std::optional<Inet> inet_;
  std::vector<RemoteEntry> listed_;
};

}  // namespace quillfen::test
