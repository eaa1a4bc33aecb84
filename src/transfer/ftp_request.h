#pragma once

#include <cstdint>
#include <string>

namespace quillfen {

// Where a request goes: the server and the remote directory, relative to the login directory
// (a leading "/" makes it absolute).
struct FtpAddress {
  std::string host;  // a name or address; IPv6 addresses without brackets
  std::uint16_t port = 21;
  std::string directory;  // "" for the login directory, otherwise "dir/sub" without end "/"
};

// Reads "host", "host:port", "host/dir/sub", "host:port/dir" or "ftp://host[:port]/dir"
// (IPv6 hosts in brackets). Without a port in the text, `defaultPort` applies.
// Error(kTransferBadUrl) for an empty host, another scheme, user data in the address or a
// port that is not 1-65535.
FtpAddress parseFtpAddress(const std::string& url, std::uint16_t defaultPort);

// The libcurl URL of the directory itself (ending in "/") or, with `file` given, of that file
// in it (`file` may hold "sub/name"). Every path segment is percent-encoded.
std::string curlUrl(const FtpAddress& address, const std::string& file = {});

// The operation text of Execute: "DIR" with an optional directory, or "GET" with the remote
// name and the local path, each quoted ("GET "a b.txt" "/backup/a b.txt"") or a single word.
// A missing local path means the remote name in the current folder.
struct FtpOperation {
  // ModifiedTime is the control's own request for a file's exact time; no text names it.
  enum class Kind { List, Get, ModifiedTime };
  Kind kind = Kind::List;
  std::string remote;  // DIR: the directory below the address, maybe ""; GET: the file
  std::string local;   // GET only
};

// Error(kTransferBadOperation) for any other operation or a GET whose names cannot be told
// apart.
FtpOperation parseFtpOperation(const std::string& text);

}  // namespace quillfen
