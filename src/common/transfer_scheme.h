#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// The protocols an FTP source address can name, by the scheme in front of its server.
enum class TransferScheme {
  Ftp,             // "ftp://" or no scheme: plain FTP
  FtpExplicitTls,  // "ftpes://": FTP that must switch to TLS (AUTH TLS) before the login
  FtpImplicitTls,  // "ftps://": FTP inside TLS from the first byte
  Sftp,            // "sftp://": SFTP over SSH
};

// The scheme an address begins with ("scheme://", any case, blanks around the address
// ignored); Ftp when it names none, nothing when it names one of no protocol above.
std::optional<TransferScheme> transferSchemeOf(std::string_view address);

// Whether an address holds a "@": a login written into it ("user:password@host"). Where the
// password ends cannot be told (it may hold "/" or ":"), so any "@" counts.
bool holdsLogin(std::string_view address);

// The address as every text of the program shows it: when it holds a login, everything before
// its last "@" is left out (a known scheme in front stays), so no part of a password is ever
// shown; control characters become "?".
std::string addressWithoutLogin(std::string_view address);

// Whether the scheme is FTP over TLS, either kind.
inline bool isFtpOverTls(TransferScheme scheme) {
  return scheme == TransferScheme::FtpExplicitTls || scheme == TransferScheme::FtpImplicitTls;
}

}  // namespace quillfen
