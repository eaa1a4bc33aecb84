#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Profile files on disk, such as Config.ini. Their text follows the rules in profile_text.h.

// The whole profile file at `path`, or nothing when there is none (also a link to nothing).
// Throws Error when something is there but cannot be read, is not a regular file (a FIFO, a
// device, a folder: refused at once, without blocking) or holds more than 1 MiB.
std::optional<std::string> readProfileFile(const std::string& path);

// Sets `key` in `section` of the file at `path`, creating the file when it is missing. The new
// text goes to a temporary file beside it that then takes the file's place, so that a crash
// leaves either the old or the new file. A file that appears while this runs is never replaced.
// A symbolic link stays a link: the file it points to is written, and made when missing (a
// link into a folder of its own, such as /etc/quillfen). An existing file keeps its
// permissions; a new file is readable by its owner only, since it will hold a password. Throws
// Error on any failure.
void storeProfileValue(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value);

}  // namespace quillfen
