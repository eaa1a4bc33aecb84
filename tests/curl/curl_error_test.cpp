#include "curl/curl_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/error.h"

namespace quillfen {
namespace {

using ::testing::HasSubstr;

TEST(CurlError, LibcurlsTextIsItsErrorBufferWhenFilled) {
  EXPECT_EQ(curlFailureText("FTP", CURLE_COULDNT_CONNECT, "Failed to connect to port 21"),
            "FTP: Failed to connect to port 21");
  EXPECT_EQ(curlFailureText("FTP", CURLE_COULDNT_CONNECT, ""), "FTP: Couldn't connect to server");
}

// Codes an exchange on loopback hardly produces are checked here; the delivery tests see the
// others end to end.
struct MailCase {
  const char* name;
  CURLcode code;
  int number;
};

// ctest lists the case by its name, not by its bytes.
void PrintTo(const MailCase& c, std::ostream* out) {
  *out << c.name;
}

class MailErrorNumber : public ::testing::TestWithParam<MailCase> {};

TEST_P(MailErrorNumber, MapsTheCodeIntoTheMailTransportRange) {
  const MailCase& c = GetParam();
  EXPECT_EQ(mailErrorNumber(c.code), c.number);
  const Error error = mailTransportError(c.code, "mail.example.test:25", "what libcurl said");
  EXPECT_EQ(error.number(), c.number);
  EXPECT_THAT(error.description(), HasSubstr(" (mail.example.test:25): what libcurl said"));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, MailErrorNumber,
    ::testing::Values(MailCase{"UnknownHost", CURLE_COULDNT_RESOLVE_HOST, errc::kMailHostNotFound},
                      MailCase{"ClosedWithoutReply", CURLE_GOT_NOTHING, errc::kMailConnectionLost},
                      MailCase{"OutOfMemory", CURLE_OUT_OF_MEMORY, errc::kMailTransportOther}),
    [](const ::testing::TestParamInfo<MailCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen
