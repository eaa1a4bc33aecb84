// The reading of TLS trust settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/error.h"
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
  std::string value;                   // "<cert>" and "<text>" stand for files the test makes
  std::optional<TlsTrust::Kind> kind;  // nothing: the value is refused
  const char* refusal = "";
  std::string taken = {};  // the value as taken, where it is not the value given
};

void PrintTo(const TrustCase& c, std::ostream* out) {
  *out << c.name;
}

class ReadTlsTrust : public ::testing::TestWithParam<TrustCase> {
 protected:
  std::string resolved(const std::string& value) const {
    if (value == "<cert>") return certificate_.certificate().string();
    if (value == "<text>") return files_.write("plain.txt", "no certificate here\n").string();
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
    EXPECT_EQ(trust.value, c.taken.empty() ? value : c.taken);
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
        TrustCase{"TwoPins", std::string(kPinA) + ";" + kPinB, TlsTrust::Kind::PublicKeyPin},
        // libcurl would take " sha256//..." for no pin: the list matched nothing.
        TrustCase{"PinsWithBlanksBesideTheSemicolon", std::string(kPinA) + " ;\t " + kPinB,
                  TlsTrust::Kind::PublicKeyPin, "", std::string(kPinA) + ";" + kPinB},
        TrustCase{"PemFile", "<cert>", TlsTrust::Kind::CaFile},
        TrustCase{"PinTooShort", "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuF=",
                  std::nullopt, "a pin is sha256//"},
        TrustCase{"NotPem", "<text>", std::nullopt, "holds no PEM certificate"}),
    [](const ::testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen
