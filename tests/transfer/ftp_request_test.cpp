#include "transfer/ftp_request.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace quillfen::test {
namespace {

template <typename Parse>
void expectRefused(Parse parse, int number, std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    try {
      parse(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), number) << text;
    }
  }
}

TEST(FtpAddress, EveryFormBecomesTheDirectorysEncodedCurlUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {"192.168.1.5", "ftp://192.168.1.5:2121/"},
      {" files.example.org:21 ", "ftp://files.example.org:21/"},
      {"host/dir/sub", "ftp://host:2121/dir/sub/"},
      {"host:990/dir/", "ftp://host:990/dir/"},
      {"FTP://host:21/My Files/2024 ü", "ftp://host:21/My%20Files/2024%20%C3%BC/"},
      {"ftp://host//srv/data", "ftp://host:2121/%2Fsrv/data/"},
      {"[::1]:2100/d", "ftp://[::1]:2100/d/"},
      {"host/100%#?", "ftp://host:2121/100%25%23%3F/"}};
  for (const auto& [url, curl] : cases) EXPECT_EQ(curlUrl(parseFtpAddress(url, 2121)), curl);
  EXPECT_EQ(curlUrl({"host", 21, "in box"}, "a b#1.txt"), "ftp://host:21/in%20box/a%20b%231.txt");
  EXPECT_EQ(curlUrl({"host", 21, ""}, "sub/x"), "ftp://host:21/sub/x");
  expectRefused([](const char* url) { parseFtpAddress(url, 21); }, errc::kTransferBadUrl,
                {"", "  ", "http://host/", "host:0", "host:65536", "host:21x",
                 "host:", "user:pw@host", ":21/dir", "[::1"});
}

std::string described(const FtpOperation& operation) {
  const bool list = operation.kind == FtpOperation::Kind::List;
  return (list ? "DIR|" : "GET|") + operation.remote + "|" + operation.local;
}

TEST(FtpOperation, ReadsTheQuotedOrBareNamesAndRefusesTheRest) {
  const std::pair<const char*, const char*> cases[] = {
      {"DIR", "DIR||"},
      {"dir \"sub dir\"", "DIR|sub dir|"},
      {"GET \"my file .doc\" \"/b/my file .doc\"", "GET|my file .doc|/b/my file .doc"},
      {"get plain.txt /tmp/plain.txt", "GET|plain.txt|/tmp/plain.txt"},
      {"GET \"only.txt\"", "GET|only.txt|only.txt"},
      {"GET \"say \"hi\".txt\" \"/b/say \"hi\".txt\"", "GET|say \"hi\".txt|/b/say \"hi\".txt"},
      // A name holding quote-blank-quote itself: the split that ends in the name wins.
      {"GET \"x\" \"y\" \"/b/x\" \"y\"", "GET|x\" \"y|/b/x\" \"y"},
      {"GET \"a b\" local", "GET|a b|local"}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(described(parseFtpOperation(text)), expected);
  expectRefused([](const char* text) { parseFtpOperation(text); }, errc::kTransferBadOperation,
                {"", "PUT \"a\" \"b\"", "DIRX", "DIR a b", "GET", "GET \"\" \"b\"", "GET a b c",
                 "GET \"unterminated b", "GET \"x\" \"y\" \"z\"", "DELETE a"});
}

}  // namespace
}  // namespace quillfen::test
