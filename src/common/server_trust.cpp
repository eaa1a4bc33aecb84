#include "common/server_trust.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "common/error.h"
#include "common/text.h"

namespace quillfen {

namespace {

constexpr std::string_view kPinPrefix = "sha256//";
constexpr std::string_view kFingerprintPrefix = "SHA256:";
// The base64 of a 32-byte digest: 43 characters and one "=".
constexpr std::size_t kPinDigestLength = 44;

bool isBase64Character(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '+' || c == '/';
}

// The last character before the padding carries 2 unused bits, which must be zero.
bool isSha256Base64(std::string_view digest) {
  if (digest.size() != kPinDigestLength || digest.back() != '=') return false;
  const std::string_view data = digest.substr(0, kPinDigestLength - 1);
  if (!std::all_of(data.begin(), data.end(), isBase64Character)) return false;
  return std::string_view("AEIMQUYcgkosw048").find(data.back()) != std::string_view::npos;
}

// The pins joined by ";" without the blanks beside them, as libcurl reads the list (it takes
// " sha256//..." for no pin at all); nothing when one of them is malformed.
std::optional<std::string> pinList(std::string_view pins) {
  std::string list;
  for (const std::string_view part : partsOf(pins, ';')) {
    const std::string_view pin = trimmed(part);
    if (pin.substr(0, kPinPrefix.size()) != kPinPrefix ||
        !isSha256Base64(pin.substr(kPinPrefix.size()))) {
      return std::nullopt;
    }
    if (!list.empty()) list += ';';
    list += pin;
  }
  return list;
}

}  // namespace

ServerTrust tlsTrustOf(std::string_view key, std::string_view value, int number) {
  const std::string_view text = trimmed(value);
  if (text.empty()) return {};
  if (text.substr(0, kPinPrefix.size()) != kPinPrefix) {
    return {ServerTrust::Kind::File, std::string(text)};
  }
  std::optional<std::string> pins = pinList(text);
  if (!pins) {
    throw Error(number, std::string(key) + " '" + std::string(text) +
                            "': a pin is sha256// followed by the 44-character base64 of a "
                            "SHA-256 digest (several joined by ;)");
  }
  return {ServerTrust::Kind::Pins, std::move(*pins)};
}

ServerTrust sshTrustOf(std::string_view value) {
  if (value.empty()) return {};
  const auto kind =
      value.starts_with(kFingerprintPrefix) ? ServerTrust::Kind::Pins : ServerTrust::Kind::File;
  return {kind, std::string(value)};
}

}  // namespace quillfen
