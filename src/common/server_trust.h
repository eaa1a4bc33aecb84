#pragma once

#include <string>
#include <string_view>

namespace quillfen {

// Whom a client trusts, as FtpTrust or MailTrust names it: read once when the settings load,
// then handed to the TLS or SSH layer that applies it.
struct ServerTrust {
  enum class Kind {
    SystemStore,  // an empty value. TLS: the system's certificate store, host name checked.
                  // SSH: the running user's known_hosts with the system's.
    File,         // TLS: a PEM file whose certificates alone are trusted, host name checked.
                  // SSH: a known_hosts file.
    Pins,         // TLS: "sha256//<base64>" pins joined by ";": the server's public key must
                  // match one, chain and host name are not looked at (a self-signed
                  // certificate is trusted by its pin alone). SSH: one "SHA256:<base64>"
                  // host key fingerprint.
  };
  Kind kind = Kind::SystemStore;
  std::string value;  // the file's path, or the pins (TLS: joined by ";" without blanks)

  bool operator==(const ServerTrust&) const = default;
};

// The TLS trust `value` of the setting `key` names, blanks around it ignored. Raises
// Error(number, ...) naming the key and the value for a malformed pin. Whether a file holds
// certificates is not looked at here (curl/tls_trust.h reads it).
ServerTrust tlsTrustOf(std::string_view key, std::string_view value, int number);

// The SSH trust `value` names: a "SHA256:" fingerprint, a known_hosts file, or the user's
// known_hosts when empty. The fingerprint's form is not checked here.
ServerTrust sshTrustOf(std::string_view value);

}  // namespace quillfen
