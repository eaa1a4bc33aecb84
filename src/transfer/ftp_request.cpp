#include "transfer/ftp_request.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/text.h"

namespace quillfen {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

Error badUrl(const std::string& url, const std::string& why) {
  return Error(errc::kTransferBadUrl,
               "Cannot use the FTP address '" + addressWithoutLogin(url) + "': " + why);
}

Error badOperation(const std::string& text, const std::string& why) {
  return Error(errc::kTransferBadOperation, "Cannot run the FTP operation '" + text + "': " + why);
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

void appendEncoded(std::string& out, std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : segment) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
}

// Appends every non-empty segment of `path`, each followed by "/" unless it is the last one
// of a file path.
void appendPath(std::string& out, std::string_view path, bool endWithSlash) {
  bool first = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    if (!segment.empty()) {
      if (!first) out += '/';
      appendEncoded(out, segment);
      first = false;
    }
    start = end + 1;
  }
  if (endWithSlash && !first) out += '/';
}

// For every length L up to text.size(): whether the first L characters of `text` are also its
// last L ones (the prefix function's chain of borders, in linear time).
std::vector<bool> prefixIsAlsoSuffix(std::string_view text) {
  std::vector<std::size_t> border(text.size() + 1, 0);
  for (std::size_t i = 1; i < text.size(); ++i) {
    std::size_t length = border[i];
    while (length > 0 && text[i] != text[length]) length = border[length];
    border[i + 1] = text[i] == text[length] ? length + 1 : 0;
  }
  std::vector<bool> result(text.size() + 1, false);
  for (std::size_t length = text.size(); length > 0; length = border[length]) result[length] = true;
  result[0] = true;
  return result;
}

// The arguments of an operation when the whole text is one or two quoted names: the split is
// at a quote-blank-quote, and when a name itself holds one, at the split whose local path
// ends in the remote name (the form the fetch stage composes). Every split is weighed in
// constant time, so a name made of quote-blank-quotes costs time linear in its length.
std::optional<std::vector<std::string>> splitFullyQuoted(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  const std::string_view inner = text.substr(1, text.size() - 2);
  std::vector<std::size_t> splits;
  for (auto at = inner.find("\" \""); at != std::string_view::npos;
       at = inner.find("\" \"", at + 1)) {
    splits.push_back(at);
  }
  if (splits.empty()) {
    if (inner.find('"') != std::string_view::npos) return std::nullopt;
    return std::vector<std::string>{std::string(inner)};
  }
  const std::vector<bool> endsInItsStart = prefixIsAlsoSuffix(inner);
  // The remote name is inner[0, at), the local path inner[at + 3, end).
  const auto fits = [&](std::size_t at) {
    const std::size_t localSize = inner.size() - at - 3;
    if (localSize == at) return inner.substr(0, at) == inner.substr(at + 3);
    return localSize > at && endsInItsStart[at] && inner[inner.size() - at - 1] == '/';
  };
  std::optional<std::size_t> chosen;
  for (std::size_t at : splits) {
    if (splits.size() > 1 && !fits(at)) continue;
    if (chosen) return std::nullopt;
    chosen = at;
  }
  if (!chosen) return std::nullopt;
  return std::vector<std::string>{std::string(inner.substr(0, *chosen)),
                                  std::string(inner.substr(*chosen + 3))};
}

// Words separated by blanks; a word starting with a quote runs to the next quote that ends
// the text or stands before a blank.
std::optional<std::vector<std::string>> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    if (isBlank(text[at])) {
      ++at;
      continue;
    }
    if (text[at] == '"') {
      std::size_t close = at + 1;
      while (close < text.size() &&
             !(text[close] == '"' && (close + 1 == text.size() || isBlank(text[close + 1])))) {
        ++close;
      }
      if (close >= text.size()) return std::nullopt;
      words.emplace_back(text.substr(at + 1, close - at - 1));
      at = close + 1;
    } else {
      std::size_t end = at;
      while (end < text.size() && !isBlank(text[end])) ++end;
      words.emplace_back(text.substr(at, end - at));
      at = end;
    }
  }
  return words;
}

std::vector<std::string> operationArguments(const std::string& text, std::string_view rest) {
  auto arguments = splitFullyQuoted(rest);
  if (!arguments) arguments = splitWords(rest);
  if (!arguments) throw badOperation(text, "the quoted names cannot be told apart");
  return *arguments;
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
  return address;
}

const char* curlProtocolOf(TransferScheme scheme) {
  switch (scheme) {
    case TransferScheme::FtpImplicitTls:
      return "ftps";
    case TransferScheme::Sftp:
      return "sftp";
    case TransferScheme::Ftp:
    case TransferScheme::FtpExplicitTls:
      break;
  }
  return "ftp";
}

std::string curlUrl(const FtpAddress& address, const std::string& file) {
  std::string url = std::string(curlProtocolOf(address.scheme)) + "://";
  const bool ipv6 = address.host.find(':') != std::string::npos;
  url += ipv6 ? "[" + address.host + "]" : address.host;
  url += ":" + std::to_string(address.port) + "/";
  std::string_view directory = address.directory;
  const bool absolute = !directory.empty() && directory.front() == '/';
  if (absolute) directory.remove_prefix(1);
  // libcurl's marks: for FTP "%2F" starts at the server's root, for SFTP "~/" at the home
  // folder (its paths are absolute otherwise).
  if (address.scheme != TransferScheme::Sftp && absolute) url += "%2F";
  if (address.scheme == TransferScheme::Sftp && !absolute) url += "~/";
  appendPath(url, directory, true);
  appendPath(url, file, false);
  return url;
}

FtpOperation parseFtpOperation(const std::string& text) {
  const std::string_view whole = trimmed(text);
  std::size_t wordEnd = 0;
  while (wordEnd < whole.size() && !isBlank(whole[wordEnd])) ++wordEnd;
  const std::string verb = lowered(whole.substr(0, wordEnd));
  const std::vector<std::string> arguments =
      operationArguments(text, trimmed(whole.substr(wordEnd)));

  FtpOperation operation;
  if (verb == "dir") {
    if (arguments.size() > 1) throw badOperation(text, "DIR takes at most one directory");
    operation.kind = FtpOperation::Kind::List;
    if (!arguments.empty()) operation.remote = arguments.front();
    return operation;
  }
  if (verb == "get") {
    if (arguments.empty() || arguments.size() > 2) {
      throw badOperation(text, "GET takes a remote name and a local path");
    }
    if (arguments.front().empty()) throw badOperation(text, "the remote name is empty");
    operation.kind = FtpOperation::Kind::Get;
    operation.remote = arguments.front();
    operation.local = arguments.size() == 2 ? arguments.back() : arguments.front();
    if (operation.local.empty()) throw badOperation(text, "the local path is empty");
    return operation;
  }
  throw badOperation(text, "only DIR and GET are supported");
}

}  // namespace quillfen
