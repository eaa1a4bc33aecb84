// The translation of libcurl's result codes into the program's errors, and the reading of TLS
// trust settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "common/error.h"
#include "curl/curl_error.h"
#include "curl/tls_trust.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace quillfen {
namespace {

using test::TempDir;
using test::TestCertificate;
using ::testing::HasSubstr;

constexpr int kNumber = 12345;
constexpr const char* kPinA = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
constexpr const char* kPinB = "sha256//YhKJKSzoTt2b5FP18fvpHo7fJYqQCjAa3HWY3tvRMwE=";

struct TrustCase {
  const char* name;
  std::string value;  // "<cert>", "<text>" and "<folder>" stand for files the test makes
  std::optional<TlsTrust::Kind> kind;  // nothing: the value is refused
  const char* refusal = "";
};

void PrintTo(const TrustCase& c, std::ostream* out) {
  *out << c.name;
}

class ReadTlsTrust : public ::testing::TestWithParam<TrustCase> {
 protected:
  std::string resolved(const std::string& value) const {
    if (value == "<cert>") return certificate_.certificate().string();
    if (value == "<text>") return files_.write("plain.txt", "no certificate here\n").string();
    if (value == "<folder>") return files_.str();
    return value;
  }

  TempDir files_;
  TestCertificate certificate_;
};

TEST_P(ReadTlsTrust, TakesWhatItCanUseAndNamesKeyAndValueOtherwise) {
  const TrustCase& c = GetParam();
  const std::string value = resolved(c.value);
  if (c.kind) {
    const TlsTrust trust = readTlsTrust("SomeTrust", " " + value + " ", kNumber);
    EXPECT_EQ(trust.kind, *c.kind);
    EXPECT_EQ(trust.value, value);
    return;
  }
  try {
    readTlsTrust("SomeTrust", value, kNumber);
    ADD_FAILURE() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kNumber);
    EXPECT_THAT(error.description(), HasSubstr("SomeTrust '" + value + "'"));
    EXPECT_THAT(error.description(), HasSubstr(c.refusal));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadTlsTrust,
    ::testing::Values(
        TrustCase{"Empty", "", TlsTrust::Kind::SystemStore},
        TrustCase{"Pin", kPinA, TlsTrust::Kind::PublicKeyPin},
        TrustCase{"TwoPins", std::string(kPinA) + ";" + kPinB, TlsTrust::Kind::PublicKeyPin},
        TrustCase{"PemFile", "<cert>", TlsTrust::Kind::CaFile},
        TrustCase{"PinTooShort", "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuF=",
                  std::nullopt, "a pin is sha256//"},
        TrustCase{"PinNotBase64", "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hS*FU=",
                  std::nullopt, "a pin is sha256//"},
        TrustCase{"MissingFile", "/nonexistent/ca.pem", std::nullopt, "cannot be read"},
        TrustCase{"NotPem", "<text>", std::nullopt, "holds no PEM certificate"},
        TrustCase{"Folder", "<folder>", std::nullopt, "not a regular file"}),
    [](const ::testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });

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
