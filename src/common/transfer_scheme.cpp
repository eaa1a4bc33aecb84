#include "common/transfer_scheme.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "common/error.h"
#include "common/text.h"

namespace quillfen {

namespace {

Error badUrl(const std::string& url, const std::string& why) {
  return Error(errc::kTransferBadUrl,
               "Cannot use the FTP address '" + addressWithoutLogin(url) + "': " + why);
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// Splits the authority part into host and port text; the port text is empty when not given.
void splitAuthority(const std::string& url, std::string_view authority, std::string& host,
                    std::string_view& port) {
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) throw badUrl(url, "the IPv6 address lacks its \"]\"");
    host = authority.substr(1, close - 1);
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') throw badUrl(url, "text after the IPv6 address");
    if (!rest.empty()) port = rest.substr(1);
    if (!rest.empty() && port.empty()) throw badUrl(url, "the port is missing after \":\"");
    return;
  }
  const auto colon = authority.find(':');
  if (colon == std::string_view::npos || authority.find(':', colon + 1) != std::string_view::npos) {
    host = authority;  // no port, or a bare IPv6 address
    return;
  }
  host = authority.substr(0, colon);
  port = authority.substr(colon + 1);
  if (port.empty()) throw badUrl(url, "the port is missing after \":\"");
}

std::string directoryOf(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return (absolute ? "/" : "") + std::string(path);
}

constexpr std::uint16_t kImplicitTlsPort = 990;
constexpr std::uint16_t kSshPort = 22;

std::uint16_t defaultPortOf(TransferScheme scheme, std::uint16_t ftpPort) {
  switch (scheme) {
    case TransferScheme::FtpImplicitTls:
      return kImplicitTlsPort;
    case TransferScheme::Sftp:
      return kSshPort;
    case TransferScheme::Ftp:
    case TransferScheme::FtpExplicitTls:
      break;
  }
  return ftpPort;
}

}  // namespace

std::optional<TransferScheme> transferSchemeOf(std::string_view address) {
  const std::string_view text = trimmed(address);
  const auto end = text.find("://");
  if (end == std::string_view::npos) return TransferScheme::Ftp;
  std::string scheme(text.substr(0, end));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (scheme == "ftp") return TransferScheme::Ftp;
  if (scheme == "ftpes") return TransferScheme::FtpExplicitTls;
  if (scheme == "ftps") return TransferScheme::FtpImplicitTls;
  if (scheme == "sftp") return TransferScheme::Sftp;
  return std::nullopt;
}

bool holdsLogin(std::string_view address) {
  return address.find('@') != std::string_view::npos;
}

std::string addressWithoutLogin(std::string_view address) {
  const auto at = address.rfind('@');
  if (at == std::string_view::npos) return shownName(address);
  const std::string_view text = trimmed(address);
  const auto schemeEnd = text.find("://");
  const bool knownScheme = schemeEnd != std::string_view::npos &&
                           text.data() + schemeEnd < address.data() + at &&
                           transferSchemeOf(text.substr(0, schemeEnd + 3)).has_value();
  const std::string scheme(knownScheme ? text.substr(0, schemeEnd + 3) : std::string_view());
  return shownName(scheme + std::string(address.substr(at + 1)));
}

FtpAddress parseFtpAddress(const std::string& url, std::uint16_t ftpPort) {
  // Checked first: no message below may quote a password.
  if (holdsLogin(url)) {
    throw badUrl(url, "the user name and password belong in FtpUserName and FtpPassword");
  }
  std::string_view rest = trimmed(url);
  const std::optional<TransferScheme> scheme = transferSchemeOf(rest);
  if (!scheme) throw badUrl(url, "only ftp://, ftpes://, ftps:// and sftp:// are supported");
  if (const auto end = rest.find("://"); end != std::string_view::npos) rest.remove_prefix(end + 3);
  const auto slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  FtpAddress address;
  address.scheme = *scheme;
  std::string_view port;
  splitAuthority(url, authority, address.host, port);
  if (address.host.empty()) throw badUrl(url, "no server is named");
  address.port = defaultPortOf(*scheme, ftpPort);
  if (!port.empty()) {
    const auto value = parsePort(port);
    if (!value) throw badUrl(url, "the port must be a number from 1 to 65535");
    address.port = *value;
  }
  if (slash != std::string_view::npos) address.directory = directoryOf(rest.substr(slash + 1));
  address.shown = addressWithoutLogin(url);
  return address;
}

}  // namespace quillfen
