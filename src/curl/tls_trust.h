#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace quillfen {

// Whom a TLS client trusts, as one setting names it. The caller passes the setting's name
// (its key) so that every message names what the user wrote.
struct TlsTrust {
  enum class Kind {
    SystemStore,   // an empty value: the system's certificate store, host name checked
    CaFile,        // a readable PEM file: its certificates alone are trusted, host name checked
    PublicKeyPin,  // "sha256//<base64>" (several joined by ";"): the server's public key must
                   // match one of them; the chain and the host name are not looked at, so a
                   // self-signed certificate can be trusted by its pin alone
  };
  Kind kind = Kind::SystemStore;
  std::string value;  // the file's path, or the pins joined by ";" without blanks
};

// Reads `value` of the setting `key`. Raises Error(number, ...) naming the key and the value
// for a file that cannot be read or holds no PEM certificate, and for a malformed pin.
TlsTrust readTlsTrust(std::string_view key, std::string_view value, int number);

// The pin of the certificate a server presented, noted during the handshake so that a failed
// verification can tell the user what to trust on purpose. Empty until a certificate arrived.
struct PresentedKey {
  std::string pin;  // "sha256//<base64 of the SHA-256 of its SubjectPublicKeyInfo>"
};

// Sets `easy` up to verify its servers as `trust` says, and to note the key of every
// certificate presented in `presented`, which must outlive the transfer. Raises
// Error(number, ...) when libcurl refuses a setting.
void applyTlsTrust(CURL* easy, const TlsTrust& trust, PresentedKey& presented, int number);

// True for the libcurl results that mean the server's certificate or key was not trusted.
bool isUntrustedServer(CURLcode code);

// "The server's certificate is not trusted (<detail>); the key it presented has the pin
// sha256//...: set <key> to that pin to trust it", without the pin part when none was noted.
std::string untrustedServerText(std::string_view key, const PresentedKey& presented,
                                std::string_view detail);

}  // namespace quillfen
