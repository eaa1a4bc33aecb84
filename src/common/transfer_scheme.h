#pragma once

#include <cstdint>
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

// Where the source's requests go: the protocol, the server and the remote directory, relative to
// the login directory (for SFTP the home folder; a leading "/" makes it absolute). Read once from
// the address's text when the settings load.
struct FtpAddress {
  TransferScheme scheme = TransferScheme::Ftp;
  std::string host;  // a name or address; IPv6 addresses without brackets
  std::uint16_t port = 21;
  std::string directory;  // "" for the login directory, otherwise "dir/sub" without end "/"
  std::string shown;      // the text it was read from, as addressWithoutLogin shows it
};

// Reads "host", "host:port", "host/dir/sub", "host:port/dir" or "scheme://host[:port]/dir" with
// the scheme ftp, ftpes, ftps or sftp (IPv6 hosts in brackets); "host//dir" names the absolute
// path "/dir". Without a port in the text, `ftpPort` applies to ftp and ftpes, 990 to ftps and
// 22 to sftp. Error(kTransferBadUrl) for an empty host, another scheme, a "@" anywhere in the
// address (a login) or a port that is not 1-65535.
FtpAddress parseFtpAddress(const std::string& url, std::uint16_t ftpPort = 21);

// Whether the scheme is FTP over TLS, either kind.
inline bool isFtpOverTls(TransferScheme scheme) {
  return scheme == TransferScheme::FtpExplicitTls || scheme == TransferScheme::FtpImplicitTls;
}

}  // namespace quillfen
