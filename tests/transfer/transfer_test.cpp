// The transfer subsystem without a network: the address and operation parsers, the listing
// parsers, and Inet over a fake control.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "support/fakes.h"
#include "transfer/ftp_listing.h"
#include "transfer/ftp_request.h"
#include "transfer/inet.h"

namespace quillfen::test {
namespace {

using ::testing::ElementsAre;

auto refusedAs(int number) {
  return ::testing::Throws<Error>(::testing::Property(&Error::number, number));
}

TEST(FtpAddress, EveryFormBecomesTheDirectorysEncodedCurlUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {" files.example.org:21 ", "ftp://files.example.org:21/"},
      {"FTP://host:21/My Files/2024 ü", "ftp://host:21/My%20Files/2024%20%C3%BC/"},
      {"ftp://host//srv/data", "ftp://host:2121/%2Fsrv/data/"},
      {"[::1]:2100/d", "ftp://[::1]:2100/d/"},
      {"host/100%#?", "ftp://host:2121/100%25%23%3F/"}};
  for (const auto& [url, curl] : cases) EXPECT_EQ(curlUrl(parseFtpAddress(url, 2121)), curl);
  EXPECT_EQ(curlUrl({"host", 21, "in box"}, "a b#1.txt"), "ftp://host:21/in%20box/a%20b%231.txt");
  for (const char* url : {"", "http://host/", "host:0", "host:65536", "host:21x",
                          "host:", "user:pw@host", ":21/dir", "[::1"})
    EXPECT_THAT([url] { parseFtpAddress(url, 21); }, refusedAs(errc::kTransferBadUrl)) << url;
}

TEST(FtpOperation, ReadsTheQuotedOrBareNamesAndRefusesTheRest) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"DIR", "", ""},
      {"GET \"my file .doc\" \"/b/my file .doc\"", "my file .doc", "/b/my file .doc"},
      {"GET \"say \"hi\".txt\" \"/b/say \"hi\".txt\"", "say \"hi\".txt", "/b/say \"hi\".txt"},
      // A name holding quote-blank-quote itself: the split that ends in the name wins.
      {"GET \"x\" \"y\" \"/b/x\" \"y\"", "x\" \"y", "/b/x\" \"y"},
      {"get \"a b\" local", "a b", "local"}};
  for (const auto& [text, remote, local] : cases) {
    const FtpOperation operation = parseFtpOperation(text);
    EXPECT_EQ(operation.kind == FtpOperation::Kind::List, *local == '\0') << text;
    EXPECT_EQ(operation.remote + "|" + operation.local, std::string(remote) + "|" + local);
  }
  for (const char* text : {"", "PUT \"a\" \"b\"", "DIRX", "DIR a b", "GET", "GET \"\" \"b\"",
                           "GET a b c", "GET \"unterminated b", "GET \"x\" \"y\" \"z\""})
    EXPECT_THAT([text] { parseFtpOperation(text); }, refusedAs(errc::kTransferBadOperation))
        << text;
}

const auto file = [](const char* name) { return RemoteEntry{name, false}; };
const auto folder = [](const char* name) { return RemoteEntry{name, true}; };

TEST(FtpListing, MlsdAndListRepliesOfSeveralServerStylesGiveFilesAndFolders) {
  const std::string text =
      "type=cdir;perm=el;unique=803g2; .\r\n"
      "Type=Dir;Modify=20240110080000; Sub Folder\r\n"
      "modify=20240101000000;perm=adfr;size=5;type=file;unique=FD01U2;UNIX.group=0; a;b c\r\n"
      "type=OS.unix=slink:/srv/target;size=9; link to target\r\n"
      "type=file;size=3; Grüße.txt\n"
      "\r\n"
      "garbage-without-a-blank\r\n";
  EXPECT_THAT(parseMlsdListing(text), ElementsAre(folder("Sub Folder"), file("a;b c"),
                                                  file("link to target"), file("Grüße.txt")));
  const std::string unixForm =
      "total 24\r\n"
      "drwxr-xr-x    2 ftp      ftp          4096 Jan 15 10:30 .\r\n"
      "-rw-r--r--    1 1000     1000           12 Dec 31  2023 old  spaced name.txt\r\n"
      "drwxr-xr-x    2 ftp      ftp          4096 Feb  3 09:05 photos 2024\r\n"
      "lrwxrwxrwx    1 ftp      ftp            10 Mar  1 12:00 current -> backup.tar\r\n"
      "-rw-r--r--    1 owner           33 Apr 30 23:59 no group.txt\r\n"
      "crw-rw-rw-    1 root     root     1,   3 Jan  1  2024 null\r\n";
  EXPECT_THAT(parseListListing(unixForm),
              ElementsAre(file("old  spaced name.txt"), folder("photos 2024"), file("current"),
                          file("no group.txt")));
  const std::string dosForm =
      "01-15-24  10:30AM       <DIR>          Sub Folder\r\n"
      "12-31-2023  11:59PM            1,048,576 big file.bin\r\n"
      "01-15-24  10:30                     17 24h clock.txt\r\n"
      "not a listing line\r\n";
  EXPECT_THAT(parseListListing(dosForm),
              ElementsAre(folder("Sub Folder"), file("big file.bin"), file("24h clock.txt")));
}

class InetTest : public ::testing::Test {
 protected:
  InetTest() {
    env_.createControl = [this] {
      auto control = std::make_unique<FakeTransferControl>(env_.events);
      control_ = control.get();
      return control;
    };
    inet_.emplace(env_.frmMain, env_.events);
  }

  FakeEnvironment env_{"/opt/quillfen"};
  FakeTransferControl* control_ = nullptr;
  std::optional<Inet> inet_;
};

TEST_F(InetTest, ExecutePassesTheFilledArgumentsWithAMarkerForEachGapBeforeOne) {
  const auto o = std::nullopt;
  const ExecuteArguments passed[] = {{},      {o, o, "H"},     {o, "D"},     {o, "D", "H"},
                                     {"DIR"}, {"DIR", o, "H"}, {"DIR", "D"}, {"DIR", "D", "H"}};
  for (int given = 0; given < 8; ++given) {  // bits: operation, data, headers
    inet_->Execute("h", given & 4 ? "DIR" : "", given & 2 ? "D" : "", given & 1 ? "H" : "");
    EXPECT_EQ(control_->arguments, passed[given]) << given;
  }
}

// Execute empties the log, then waits while every state is logged by name, unknown numbers
// included, before it is announced unchanged.
TEST_F(InetTest, ExecuteLogsEveryStateByNameInOrderBeforeAnnouncingIt) {
  control_->states = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1};
  std::istringstream names(
      "icNone icResolvingHost icHostResolved icConnecting icConnected icRequesting icRequestSent "
      "icReceivingResponse icResponseReceived icDisconnecting icDisconnected icError "
      "icResponseCompleted icUnknown icUnknown");
  std::vector<std::string> expected, logged;
  std::vector<std::int16_t> announced;
  for (std::string log, name; names >> name;) expected.push_back(log += name + "\r\n");
  control_->notify(5);  // a line from before the request
  env_.events.processEvents();
  inet_->OnStateChanged([&](std::int16_t state) {
    announced.push_back(state);
    logged.push_back(inet_->EventList());
  });
  const std::deque<std::int16_t> states = control_->states;
  inet_->Execute("host", "DIR");
  EXPECT_EQ(announced, std::vector(states.begin(), states.end()));
  EXPECT_EQ(logged, expected);
}

}  // namespace
}  // namespace quillfen::test
