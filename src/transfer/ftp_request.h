#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/transfer_scheme.h"
#include "transfer/ftp_listing.h"

namespace quillfen {

// `below` within the directory `base` ("" is the login directory); an absolute `below` stands
// for itself.
std::string joinedDirectory(const std::string& base, const std::string& below);

// The protocol libcurl speaks for a scheme ("ftp", "ftps", "sftp"), also its URL scheme:
// ftpes is FTP that switches to TLS.
const char* curlProtocolOf(TransferScheme scheme);

// The libcurl URL of the directory itself (ending in "/") or, with `file` given, of that file
// in it (`file` may hold "sub/name"). Every path segment is percent-encoded. ftpes becomes
// ftp:// (the control demands TLS by an option), a relative SFTP path starts at "/~/".
std::string curlUrl(const FtpAddress& address, const std::string& file = {});

// The operation text of Execute: "DIR" with an optional directory, or "GET" with the remote
// name and the local path, each quoted ("GET "a b.txt" "/backup/a b.txt"") or a single word.
// Within quotes a backslash escapes a quote or a backslash, so that any name can be written
// (quotedName). A missing local path means the remote name in the current folder.
struct FtpOperation {
  // ModifiedTime is the control's own request for a file's exact time; no text names it.
  enum class Kind { List, Get, ModifiedTime };
  Kind kind = Kind::List;
  std::string remote;  // DIR: the directory below the address, maybe ""; GET: the file
  std::string local;   // GET only
  // GET: the facts the listing gave about the file, when it was listed. The download must bring
  // the listed size and takes the listed time where the server tells no exact one.
  std::optional<RemoteEntry> listed = std::nullopt;
};

// Error(kTransferBadOperation) for any other operation, a quote left open or a wrong number of
// names.
FtpOperation parseFtpOperation(const std::string& text);

// `name` quoted for an operation text: the one word that parseFtpOperation reads back as it.
std::string quotedName(std::string_view name);

}  // namespace quillfen
