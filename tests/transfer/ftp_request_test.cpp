#include "transfer/ftp_request.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace quillfen::test {
namespace {

struct AddressCase {
  std::string url;
  std::string host;
  std::uint16_t port;
  std::string directory;
  std::string curl;  // the directory's libcurl URL
};

class FtpAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(FtpAddressTest, ReadsEveryAddressForm) {
  const AddressCase& c = GetParam();
  const FtpAddress address = parseFtpAddress(c.url, 2121);
  EXPECT_EQ(address.host, c.host);
  EXPECT_EQ(address.port, c.port);
  EXPECT_EQ(address.directory, c.directory);
  EXPECT_EQ(curlUrl(address), c.curl);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, FtpAddressTest,
    ::testing::Values(
        AddressCase{"192.168.1.5", "192.168.1.5", 2121, "", "ftp://192.168.1.5:2121/"},
        AddressCase{" files.example.org:21 ", "files.example.org", 21, "",
                    "ftp://files.example.org:21/"},
        AddressCase{"host/dir/sub", "host", 2121, "dir/sub", "ftp://host:2121/dir/sub/"},
        AddressCase{"host:990/dir/", "host", 990, "dir", "ftp://host:990/dir/"},
        AddressCase{"FTP://host:21/My Files/2024 ü", "host", 21, "My Files/2024 ü",
                    "ftp://host:21/My%20Files/2024%20%C3%BC/"},
        AddressCase{"ftp://host//srv/data", "host", 2121, "/srv/data",
                    "ftp://host:2121/%2Fsrv/data/"},
        AddressCase{"[::1]:2100/d", "::1", 2100, "d", "ftp://[::1]:2100/d/"},
        AddressCase{"host/100%#?", "host", 2121, "100%#?", "ftp://host:2121/100%25%23%3F/"}));

TEST(FtpAddressErrors, RefusesAddressesThatNameNoFtpServer) {
  for (const char* url : {"", "  ", "http://host/", "host:0", "host:65536", "host:21x",
                          "host:", "user:pw@host", ":21/dir", "[::1"}) {
    try {
      parseFtpAddress(url, 21);
      ADD_FAILURE() << "accepted '" << url << "'";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kTransferBadUrl) << url;
    }
  }
}

TEST(FtpCurlUrl, EncodesTheFileNameAfterTheDirectory) {
  const FtpAddress address{"host", 21, "in box"};
  EXPECT_EQ(curlUrl(address, "a b#1.txt"), "ftp://host:21/in%20box/a%20b%231.txt");
  EXPECT_EQ(curlUrl({"host", 21, ""}, "sub/x"), "ftp://host:21/sub/x");
}

struct OperationCase {
  std::string text;
  FtpOperation::Kind kind;
  std::string remote;
  std::string local;
};

class FtpOperationTest : public ::testing::TestWithParam<OperationCase> {};

TEST_P(FtpOperationTest, ReadsTheNamesOfTheOperation) {
  const OperationCase& c = GetParam();
  const FtpOperation operation = parseFtpOperation(c.text);
  EXPECT_EQ(operation.kind, c.kind);
  EXPECT_EQ(operation.remote, c.remote);
  EXPECT_EQ(operation.local, c.local);
}

constexpr auto kList = FtpOperation::Kind::List;
constexpr auto kGet = FtpOperation::Kind::Get;
INSTANTIATE_TEST_SUITE_P(
    Forms, FtpOperationTest,
    ::testing::Values(
        OperationCase{"DIR", kList, "", ""}, OperationCase{"dir \"sub dir\"", kList, "sub dir", ""},
        OperationCase{"GET \"a.txt\" \"/b/20240115/a.txt\"", kGet, "a.txt", "/b/20240115/a.txt"},
        OperationCase{"GET \"my file .doc\" \"/b/my file .doc\"", kGet, "my file .doc",
                      "/b/my file .doc"},
        OperationCase{"get plain.txt /tmp/plain.txt", kGet, "plain.txt", "/tmp/plain.txt"},
        OperationCase{"GET \"only.txt\"", kGet, "only.txt", "only.txt"},
        OperationCase{"GET \"say \"hi\".txt\" \"/b/say \"hi\".txt\"", kGet, "say \"hi\".txt",
                      "/b/say \"hi\".txt"},
        // A name holding quote-blank-quote itself: the split that ends in the name wins.
        OperationCase{"GET \"x\" \"y\" \"/b/x\" \"y\"", kGet, "x\" \"y", "/b/x\" \"y"},
        OperationCase{"GET \"a b\" local", kGet, "a b", "local"}));

TEST(FtpOperationErrors, RefusesOperationsThatCannotBeRun) {
  for (const char* text :
       {"", "PUT \"a\" \"b\"", "DIRX", "DIR a b", "GET", "GET \"\" \"b\"", "GET a b c",
        "GET \"unterminated b", "GET \"x\" \"y\" \"z\"", "DELETE a"}) {
    try {
      parseFtpOperation(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kTransferBadOperation) << text;
    }
  }
}

}  // namespace
}  // namespace quillfen::test
