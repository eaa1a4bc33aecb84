#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// One entry of a remote directory listing, with the facts the listing gave about it.
struct RemoteEntry {
  std::string name;
  bool isDirectory = false;
  std::optional<std::uint64_t> size = std::nullopt;
  std::optional<std::time_t> modified = std::nullopt;  // seconds since 1970, UTC
  bool modifiedToTheSecond = false;  // false: a LIST date, exact to the minute or the day
  bool isLink = false;     // a symbolic link the listing did not follow: a file or a folder
  std::string identity{};  // MLSD's "unique" fact: the same under every name of one folder

  bool operator==(const RemoteEntry&) const = default;
};

// A listing reply arrives as the server sent it: entries end in CR LF, and a CR or LF alone is
// part of a name (a name holding CR LF itself cannot be told from two lines). A server that ends
// its lines in LF alone, seen by a reply that does not end in CR LF, is read line by line. Right
// after an entry, a line that does not start like an entry line is the rest of that entry's
// name, which keeps a LF there. So no name holding a LF can make up an entry of its own.

// The entries of an MLSD reply: "type=file" facts are files, "type=dir" folders; the entries
// for the folder itself and its parent ("cdir", "pdir") are dropped. "OS.unix=slink" (or
// "symlink") is a link; entries of other types count as files, since RETR follows them on the
// server. The "size" and "modify" facts (UTC) give the size and the time, "unique" the identity.
std::vector<RemoteEntry> parseMlsdListing(std::string_view text);

// The entries of a LIST reply in the Unix "ls -l" form (a symbolic link is listed under its
// own name, without " -> target") or the DOS/IIS form. Lines of neither form, devices and
// the entries "." and ".." are dropped. Dates are read as UTC, as most servers write them. A
// Unix date without a year ("Jan 15 10:30") lies within the year up to `now` (plus a day for
// clocks that disagree); one with a year ("Jan 15  2023") names midnight of that day. A
// two-digit DOS year is 1970-2069. The size of a link is the link's own, so a link gets none.
std::vector<RemoteEntry> parseListListing(std::string_view text, std::time_t now);

// The entries of an SFTP listing: one "ls -l" line per directory entry as the server wrote it,
// each ended by a NUL (which no name holds), so that whatever a name holds stays in its entry.
std::vector<RemoteEntry> parseSftpListing(std::string_view text, std::time_t now);

// The listing as Inet's GetChunk hands it out: one name per line, each line ended by CR LF,
// folders marked by a final "/". A CR, LF or NUL within a name is handed out as SUB (0x1A),
// so that the name stays on its one line and still shows a control character to its reader.
std::string formatListing(const std::vector<RemoteEntry>& entries);

}  // namespace quillfen
