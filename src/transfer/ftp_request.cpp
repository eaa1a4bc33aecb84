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

Error badOperation(const std::string& text, const std::string& why) {
  return Error(errc::kTransferBadOperation, "Cannot run the FTP operation '" + text + "': " + why);
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

// Words separated by blanks. A word that starts with a quote runs to the next quote no
// backslash escapes, and that quote must end the text or stand before a blank; within it, a
// backslash before a quote or a backslash makes that character part of the word (quotedName
// writes names so). Any other backslash is kept as it is.
std::optional<std::vector<std::string>> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    if (isBlank(text[at])) {
      ++at;
    } else if (text[at] != '"') {
      std::size_t end = at;
      while (end < text.size() && !isBlank(text[end])) ++end;
      words.emplace_back(text.substr(at, end - at));
      at = end;
    } else {
      std::string word;
      for (++at;; ++at) {
        if (at >= text.size()) return std::nullopt;
        if (text[at] == '"') break;
        const bool escape = text[at] == '\\' && at + 1 < text.size() &&
                            (text[at + 1] == '"' || text[at + 1] == '\\');
        if (escape) ++at;
        word += text[at];
      }
      ++at;
      if (at < text.size() && !isBlank(text[at])) return std::nullopt;
      words.push_back(std::move(word));
    }
  }
  return words;
}

std::vector<std::string> operationArguments(const std::string& text, std::string_view rest) {
  const auto arguments = splitWords(rest);
  if (!arguments) throw badOperation(text, "the quoted names cannot be told apart");
  return *arguments;
}

}  // namespace

std::string joinedDirectory(const std::string& base, const std::string& below) {
  if (below.empty()) return base;
  if (below.front() == '/' || base.empty()) return below;
  return base + "/" + below;
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

std::string quotedName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
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
