#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

#include "common/server_trust.h"

namespace quillfen {

// Reads `value` of the setting `key` (tlsTrustOf) and checks the file it names
// (checkTlsTrust).
ServerTrust readTlsTrust(std::string_view key, std::string_view value, int number);

// For a trust file: raises Error(number, ...) naming the key and the path when the file
// cannot be read or holds no PEM certificate. Nothing to check for the other kinds.
void checkTlsTrust(std::string_view key, const ServerTrust& trust, int number);

// The pin of the certificate a server presented, noted during the handshake so that a failed
// verification can tell the user what to trust on purpose. Empty until a certificate arrived.
struct PresentedKey {
  std::string pin;  // "sha256//<base64 of the SHA-256 of its SubjectPublicKeyInfo>"
};

// Sets `easy` up to verify its servers as `trust` says, and to note the key of every
// certificate presented in `presented`, which must outlive the transfer. Raises
// Error(number, ...) when libcurl refuses a setting.
void applyTlsTrust(CURL* easy, const ServerTrust& trust, PresentedKey& presented, int number);

// True for the libcurl results that mean the server's certificate or key was not trusted.
bool isUntrustedServer(CURLcode code);

// "The server's certificate is not trusted (<detail>); the key it presented has the pin
// sha256//...: set <key> to that pin to trust it", without the pin part when none was noted.
std::string untrustedServerText(std::string_view key, const PresentedKey& presented,
                                std::string_view detail);

}  // namespace quillfen
