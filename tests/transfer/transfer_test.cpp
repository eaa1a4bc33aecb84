// The transfer subsystem: the address, operation and listing parsers, and the libcurl control
// against a loopback FTP server.
#include <ctime>
#include <tuple>

#include "common/error.h"
#include "support/ftp_server.h"
#include "support/raises.h"
#include "support/temporary_file_kinds.h"
#include "transfer/ftp_listing.h"
#include "transfer/ftp_request.h"
#include "transfer/transfer_session.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(FtpAddress, EveryFormBecomesTheDirectorysEncodedCurlUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {" files.example.org:21 ", "ftp://files.example.org:21/"},
      {"FTP://host:21/My Files/2024 ü", "ftp://host:21/My%20Files/2024%20%C3%BC/"},
      {"ftp://host//srv/data", "ftp://host:2121/%2Fsrv/data/"},
      {"[::1]:2100/d", "ftp://[::1]:2100/d/"},
      {"host/100%#?", "ftp://host:2121/100%25%23%3F/"},
      {"ftps://host/d", "ftps://host:990/d/"},
      {"sftp://host", "sftp://host:22/~/"},
      {"sftp://host//srv/data", "sftp://host:22/srv/data/"}};
  for (const auto& [url, curl] : cases) EXPECT_EQ(curlUrl(parseFtpAddress(url, 2121)), curl);
  EXPECT_EQ(curlUrl({TransferScheme::Ftp, "host", 21, "in box", "host/in box"}, "a b#1.txt"),
            "ftp://host:21/in%20box/a%20b%231.txt");
  // A refusal never shows the password an address carries.
  const auto refusedWithoutPassword = ::testing::Throws<Error>(
      ::testing::AllOf(::testing::Property(&Error::number, errc::kTransferBadUrl),
                       ::testing::Property(&Error::description, ::testing::Not(HasSubstr("pw")))));
  for (const char* url :
       {"", "http://host/", "host:65536", "user:pw@host", "[::1", "me:pw@host:99x/a@b"})
    EXPECT_THAT([url] { parseFtpAddress(url, 21); }, refusedWithoutPassword) << url;
}

// Names with every printable character, quotes and backslashes included, come back as
// quotedName wrote them; a bare backslash stays.
TEST(FtpOperation, ReadsTheQuotedOrBareNamesAndRefusesTheRest) {
  std::string printable;
  for (char c = ' '; c <= '~'; ++c) printable += c;
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"DIR", "", ""},
      {"GET \"my file .doc\" \"/b/my file .doc\"", "my file .doc", "/b/my file .doc"},
      {"DIR \"My \\\"Best\\\" Photos\"", "My \"Best\" Photos", ""},
      {"GET \"a\\b\\\\c\" d", "a\\b\\c", "d"},
      {"get \"a b\" local", "a b", "local"},
      {"GET " + quotedName(printable) + " " + quotedName("/b/" + printable), printable,
       "/b/" + printable}};
  for (const auto& [text, remote, local] : cases) {
    const FtpOperation operation = parseFtpOperation(text);
    EXPECT_EQ(operation.kind == FtpOperation::Kind::List, local.empty()) << text;
    EXPECT_TRUE(operation.remote == remote && operation.local == local) << text;
  }
  for (const char* text : {"", "PUT \"a\" \"b\"", "DIRX", "DIR a b", "GET", "GET \"\" \"b\"",
                           "GET a b c", "GET \"unterminated b", "GET \"x\" \"y\" \"z\"",
                           "DIR \"My \"Best\" Photos\"", "GET \"open\\\" b"})
    EXPECT_THAT([text] { parseFtpOperation(text); }, raises(errc::kTransferBadOperation)) << text;
}

// Sizes and times as a download is checked and dated by them (now: 2026-12-07 12:00:00 UTC).
TEST(FtpListing, GivesSizesAndUtcTimesOfFilesWhereTheListingHasThem) {
  constexpr std::time_t kNow = 1796644800;
  // MLSD or LIST, the line, the size and time read
  const std::tuple<bool, const char*, std::optional<std::uint64_t>, std::optional<std::time_t>>
      cases[] = {
          {true, "type=file;size=123;modify=20261207101112; a", 123, 1796638272},
          {true, "type=file;size=0;modify=20261207101112.345; fraction dropped", 0, 1796638272},
          {true, "type=file;modify=20261399000000;size=x1; nonsense facts", {}, {}},
          {false, "-rw-r--r-- 1 u g 4096 Dec  7 10:11 today", 4096, 1796638260},
          {false, "-rw-r--r-- 1 u g 5 Dec  8 11:00 tomorrow by a server clock ahead", 5,
           1796727600},
          {false, "-rw-r--r-- 1 u g 6 Dec 20 11:00 future means last year", 6, 1766228400},
          {false, "-rw-r--r-- 1 u g 7 Mar  4  2023 another year", 7, 1677888000},
          {false, "lrwxrwxrwx 1 u g 8 Dec  7 10:11 link -> elsewhere", {}, {}},
          {false, "12-07-26  10:11PM    42 dos afternoon", 42, 1796681460}};
  for (const auto& [mlsd, line, size, modified] : cases) {
    const auto entries = mlsd ? parseMlsdListing(line) : parseListListing(line, kNow);
    ASSERT_EQ(entries.size(), 1U) << line;
    EXPECT_EQ(entries[0].size, size) << line;
    EXPECT_EQ(entries[0].modified, modified) << line;
  }
}

// A name holding a line feed and then a line of the listing's own form stays one entry: FTP
// entries end in CR LF, SFTP entries in the NUL the control puts after each. A server that ends
// its lines in LF alone still has a LF within a name read as part of it where it can be told.
TEST(FtpListing, ANameHoldingALineOfTheListingsFormMakesUpNoEntry) {
  using namespace std::string_literals;
  enum Form { Mlsd, List, Sftp };
  const std::tuple<Form, std::string, std::vector<std::string>> cases[] = {
      {Mlsd,
       "type=file;size=1; a\r\ntype=file;size=2; hide\ntype=file;size=3; decoy\r\n",
       {"a", "hide\ntype=file;size=3; decoy"}},
      {List,
       "-rw-r--r-- 1 u g 2 Dec  7 10:11 hide\n-rw-r--r-- 1 u g 3 Dec  7 10:11 decoy\r\n",
       {"hide\n-rw-r--r-- 1 u g 3 Dec  7 10:11 decoy"}},
      {Sftp,
       "-rw-r--r-- 1 u g 2 Dec  7 10:11 hide\n-rw-r--r-- 1 u g 3 Dec  7 10:11 decoy\0"
       "lrwxrwxrwx 1 u g 1 Dec  7 10:11 link -> x\0"s,
       {"hide\n-rw-r--r-- 1 u g 3 Dec  7 10:11 decoy", "link"}},
      {Mlsd, "type=file;size=1; a\nb\ntype=dir; c\n", {"a\nb", "c"}}};
  for (const auto& [form, text, names] : cases) {
    const auto entries = form == Mlsd   ? parseMlsdListing(text)
                         : form == List ? parseListListing(text, 1796644800)
                                        : parseSftpListing(text, 1796644800);
    std::vector<std::string> parsed;
    for (const RemoteEntry& entry : entries) parsed.push_back(entry.name);
    EXPECT_EQ(parsed, names) << text;
  }
}

using CurlTransferControlTest = TransferSession;

std::time_t modified(const fs::path& file) {
  std::error_code missing;
  const auto time = fs::last_write_time(file, missing);
  return missing ? 0
                 : std::chrono::system_clock::to_time_t(fs::file_time_type::clock::to_sys(time));
}

// After the listing, nothing but the data connection and RETR per file, and one TYPE before the
// first: no SIZE, no CWD, no TYPE again.
void expectOnlyEpsvAndRetrPerFile(std::vector<std::string> commands, std::size_t files) {
  const auto listed = std::find_if(commands.rbegin(), commands.rend(),
                                   [](const std::string& c) { return c == "MLSD" || c == "LIST"; });
  commands.erase(commands.begin(), listed.base());
  EXPECT_EQ(std::erase(commands, "TYPE"), 1U);
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < files; ++i) expected.insert(expected.end(), {"EPSV", "RETR"});
  EXPECT_EQ(commands, expected);
}

// A hundred files well within 20 s: a stall of a fifth of a second or more between transfers on
// the one control connection fails it.
TEST_F(CurlTransferControlTest, ListsByMlsdOrListAndFetchesEveryFileOverOneControlConnection) {
  const std::set<std::string> expected = sampleTree(remote_, 100);
  constexpr std::time_t kOld = 1677906367;  // 2023-03-04 05:06:07 UTC
  const std::time_t recent = std::time(nullptr) / 60 * 60 - 7200 + 37;
  setModified(remote_.path() / "my top/with blanks .doc", kOld);
  setModified(remote_.path() / utf8Path("my top/Grüße – 日本.txt"), recent);
  for (bool mlsd : {true, false}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    FtpServer server(remote_.path(), kUser, kPassword, {.offerMlsd = mlsd, .failingFile = {}});
    connect(server.address() + "/my top");
    const auto started = std::chrono::steady_clock::now();
    listAndFetchAll(expected);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.logins(), 1);
    expectOnlyEpsvAndRetrPerFile(server.commands(), expected.size() - 1);
    // MLSD's times are exact; LIST's are to the minute, or to the day for a file of another year.
    EXPECT_EQ(modified(local_.path() / "with blanks .doc"), mlsd ? kOld : kOld - 18367);
    EXPECT_EQ(modified(local_.path() / utf8Path("Grüße – 日本.txt")), mlsd ? recent : recent - 37);
  }
}

// A server that accepts the connection and never answers, sends a listing or a file without end
// or drips a file must not hang an unattended run (here: a listing over 4 KiB, a file under
// 1 MiB/s, more than the listing said).
TEST_F(CurlTransferControlTest, RefusedLoginMissingFolderAndSilentOrFloodingServerEndInError) {
  timeouts = {std::chrono::seconds(2), std::chrono::seconds(1), std::chrono::seconds(1), 1 << 20,
              4096};
  for (int i = 0; i < 100; ++i)
    remote_.write("big/" + std::string(60, 'n') + std::to_string(i), "");
  remote_.write("slow.bin", std::string(1 << 20, 's'));
  remote_.write("grown.bin", std::string(1000, 'g'));
  const FtpServerOptions silent{.offerMlsd = true, .failingFile = {}, .silent = true};
  const FtpServerOptions endless{.failingFile = {}, .endlessFile = "grown.bin"};
  const std::tuple<FtpServerOptions, const char*, const char*, const char*, int, const char*>
      cases[] = {{{}, "", "wrong", "", 530, "530 "},
                 {silent, "", kPassword, "", 28, "imeout"},  // libcurl's, as there was no reply
                 {{}, "/big", kPassword, "", 23, "listing too large"},
                 {FtpServerOptions::trickling(64 << 10), "", kPassword, "slow.bin", 28, "too slow"},
                 {endless, "", kPassword, "grown.bin", 23, "listed 1000 bytes, received more"}};
  for (const auto& [options, path, password, fetched, code, info] : cases) {
    FtpServer server(remote_.path(), kUser, kPassword, options);
    connect(server.address() + path, password);
    const auto started = std::chrono::steady_clock::now();
    if (*fetched != '\0') {
      list();  // gives the size
      get(fetched, local_.path() / fetched);
    } else
      EXPECT_EQ(list(), "") << info;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << info;
    EXPECT_THAT(inet_->EventList(), kFailed) << info;
    EXPECT_EQ(inet_->ResponseCode(), code) << info;
    EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(info));
  }
}

// The session with unnamed temporary files, or with hidden-named ones as file systems without
// them get.
class DownloadTest : public TransferSession, public ::testing::WithParamInterface<bool> {
 protected:
  const TemporaryFileKind kind{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Kinds, DownloadTest, kTemporaryFileKinds, temporaryFileKindName);

// Downloads go to a temporary file that replaces the local one only on success: a broken,
// missing or cancelled download leaves nothing behind and an older copy as it was.
TEST_P(DownloadTest, OnlyACompleteDownloadReplacesTheCopyAndAFailedOneLeavesNothing) {
  remote_.write("big.bin", std::string(4 << 20, 'b'));
  remote_.write("broken.bin", std::string(1 << 20, 'x'));
  remote_.write("short.bin", std::string(1000, 's'));
  FtpServer server(remote_.path(), kUser, kPassword,
                   {.failingFile = "broken.bin", .shortFile = "short.bin"});
  connect(server.address());
  list();  // gives the sizes a download must bring
  const fs::path copy = local_.path() / "big.bin";
  get("big.bin", copy);
  EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
  const auto stamp = fs::last_write_time(copy) - std::chrono::hours(24);
  fs::last_write_time(copy, stamp);
  get("short.bin", local_.path() / "short.bin");  // the server sends half and says it is done
  EXPECT_EQ(inet_->ResponseInfo(), "size mismatch: listed 1000 bytes, received 500");
  for (const std::string remote : {"broken.bin", "missing.bin"}) {  // the first breaks off midway
    for (const fs::path& to : {copy, local_.path() / remote}) {
      get(remote, to);
      EXPECT_THAT(inet_->EventList(), kFailed) << to;
    }
  }
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
