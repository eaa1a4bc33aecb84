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

  bool operator==(const RemoteEntry&) const = default;
};

// The entries of an MLSD reply: "type=file" facts are files, "type=dir" folders; the entries
// for the folder itself and its parent ("cdir", "pdir") are dropped. Entries of other types
// (symbolic links, for instance) count as files, since RETR follows them on the server. The
// "size" and "modify" facts (UTC) give the size and the time.
//
// In both forms a line that does not start like an entry line, right after an entry, is the
// rest of that entry's name: a CR or LF within a name reaches the parser as a line end, and
// the name keeps a LF there.
std::vector<RemoteEntry> parseMlsdListing(std::string_view text);

// The entries of a LIST reply in the Unix "ls -l" form (a symbolic link is listed under its
// own name, without " -> target") or the DOS/IIS form. Lines of neither form, devices and
// the entries "." and ".." are dropped. Dates are read as UTC, as most servers write them. A
// Unix date without a year ("Jan 15 10:30") lies within the year up to `now` (plus a day for
// clocks that disagree); one with a year ("Jan 15  2023") names midnight of that day. A
// two-digit DOS year is 1970-2069. The size of a link is the link's own, so a link gets none.
std::vector<RemoteEntry> parseListListing(std::string_view text, std::time_t now);

// The listing as the control hands it out: one name per line, each line ended by CR LF,
// folders marked by a final "/". A CR, LF or NUL within a name is handed out as SUB (0x1A),
// so that the name stays on its one line and still shows a control character to its reader.
std::string formatListing(const std::vector<RemoteEntry>& entries);

// The names of a listing in that form, in order, folders still ending in "/": one per line,
// a line ending at CR, line feeds ignored, empty lines naming nothing.
std::vector<std::string> listedNames(std::string_view listing);

}  // namespace quillfen
