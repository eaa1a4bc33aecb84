// The reading of TLS trust settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "common/error.h"
#include "curl/tls_trust.h"
#include "support/raises.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace quillfen {
namespace {

constexpr int kNumber = 12345;
constexpr const char* kPinA = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
constexpr const char* kPinB = "sha256//YhKJKSzoTt2b5FP18fvpHo7fJYqQCjAa3HWY3tvRMwE=";

// Each value is taken as its kind (nothing: refused, naming the key and value and why) and its
// value as taken, where it is not the value given.
TEST(ReadTlsTrust, TakesWhatItCanUseAndNamesKeyAndValueOtherwise) {
  const test::TempDir files;
  const test::TestCertificate certificate;
  using Kind = ServerTrust::Kind;
  const std::string pins = std::string(kPinA) + ";" + kPinB;
  const std::tuple<std::string, std::optional<Kind>, std::string> cases[] = {
      {"", Kind::SystemStore, ""},
      {pins, Kind::Pins, ""},
      // libcurl would take " sha256//..." for no pin: the list matched nothing.
      {std::string(kPinA) + " ;\t " + kPinB, Kind::Pins, pins},
      {certificate.certificate().string(), Kind::File, ""},
      {"sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuF=", std::nullopt, "a pin is sha256//"},
      {files.write("plain.txt", "no certificate here\n").string(), std::nullopt,
       "holds no PEM certificate"}};
  for (const auto& [value, kind, text] : cases) {
    if (kind) {
      const ServerTrust trust = readTlsTrust("SomeTrust", " " + value + " ", kNumber);
      EXPECT_EQ(trust.kind, *kind) << value;
      EXPECT_EQ(trust.value, text.empty() ? value : text);
      continue;
    }
    EXPECT_THAT([&] { readTlsTrust("SomeTrust", value, kNumber); },
                ::testing::AllOf(test::raises(kNumber, "SomeTrust '" + value + "'"),
                                 test::raises(kNumber, text)));
  }
}

}  // namespace
}  // namespace quillfen
