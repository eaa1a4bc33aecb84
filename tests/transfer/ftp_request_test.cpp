#include "transfer/ftp_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/error.h"

namespace quillfen::test {
namespace {

auto refusedAs(int number) {
  return ::testing::Throws<Error>(::testing::Property(&Error::number, number));
}

TEST(FtpAddress, EveryFormBecomesTheDirectorysEncodedCurlUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {" files.example.org:21 ", "ftp://files.example.org:21/"},
      {"host/dir/sub", "ftp://host:2121/dir/sub/"},
      {"FTP://host:21/My Files/2024 ü", "ftp://host:21/My%20Files/2024%20%C3%BC/"},
      {"ftp://host//srv/data", "ftp://host:2121/%2Fsrv/data/"},
      {"[::1]:2100/d", "ftp://[::1]:2100/d/"},
      {"host/100%#?", "ftp://host:2121/100%25%23%3F/"}};
  for (const auto& [url, curl] : cases) EXPECT_EQ(curlUrl(parseFtpAddress(url, 2121)), curl);
  EXPECT_EQ(curlUrl({"host", 21, "in box"}, "a b#1.txt"), "ftp://host:21/in%20box/a%20b%231.txt");
  EXPECT_EQ(curlUrl({"host", 21, ""}, "sub/x"), "ftp://host:21/sub/x");
  for (const char* url : {"", "http://host/", "host:0", "host:65536", "host:21x",
                          "host:", "user:pw@host", ":21/dir", "[::1"})
    EXPECT_THAT([url] { parseFtpAddress(url, 21); }, refusedAs(errc::kTransferBadUrl)) << url;
}

TEST(FtpOperation, ReadsTheQuotedOrBareNamesAndRefusesTheRest) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"DIR", "", ""},
      {"dir \"sub dir\"", "sub dir", ""},
      {"GET \"my file .doc\" \"/b/my file .doc\"", "my file .doc", "/b/my file .doc"},
      {"GET \"only.txt\"", "only.txt", "only.txt"},
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

}  // namespace
}  // namespace quillfen::test
