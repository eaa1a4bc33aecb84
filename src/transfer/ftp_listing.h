#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// One entry of a remote directory listing.
struct RemoteEntry {
  std::string name;
  bool isDirectory = false;

  bool operator==(const RemoteEntry&) const = default;
};

// The entries of an MLSD reply: "type=file" facts are files, "type=dir" folders; the entries
// for the folder itself and its parent ("cdir", "pdir") are dropped. Entries of other types
// (symbolic links, for instance) count as files, since RETR follows them on the server.
std::vector<RemoteEntry> parseMlsdListing(std::string_view text);

// The entries of a LIST reply in the Unix "ls -l" form (a symbolic link is listed under its
// own name, without " -> target") or the DOS/IIS form. Lines of neither form, devices and
// the entries "." and ".." are dropped.
std::vector<RemoteEntry> parseListListing(std::string_view text);

// The listing as the control hands it out: one name per line, each line ended by CR LF,
// folders marked by a final "/". A CR, LF or NUL within a name is handed out as SUB (0x1A),
// so that the name stays on its one line and still shows a control character to its reader.
std::string formatListing(const std::vector<RemoteEntry>& entries);

}  // namespace quillfen
