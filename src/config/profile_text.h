#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// Profile (INI) files as Config.ini uses them:
// - a line "[Name]" opens a section; section and key names match without regard to ASCII case;
// - a line "Key=Value" sets a key; blanks (spaces, tabs) around the key, the "=" and the value
//   are dropped, and a value wrapped in a matching pair of double or single quotes loses them;
// - a line whose first non-blank character is ";" is a comment; a line without "=" sets nothing;
// - the first occurrence of a key wins, even when its section appears more than once;
// - lines end in LF or CR LF; a UTF-8 byte order mark at the start of the file is skipped, and
//   a file that starts with the UTF-16 one (Notepad's "Unicode") is read as UTF-16.
// A ";" inside a value is part of the value: MailTo separates its addresses with it.

// The value of `key` in `section` of the profile text `text`, or nothing when it is not set.
std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// The names of the keys set in `section` (every occurrence of it), in the file's order and
// spelling, each once.
std::vector<std::string> profileKeys(std::string_view text, std::string_view section);

// `text` with `key` in `section` set to `value`. The line that findProfileValue would read is
// replaced in place; a missing key goes after the last key of the first such section, a missing
// section at the end. Every other line stays as it was, byte for byte. A value that would not
// read back as written (blanks at either end, or wrapped in quotes) is written in double quotes.
// Throws Error (kInvalidArgument) for a key or value that a profile line cannot hold.
std::string withProfileValue(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view value);

}  // namespace quillfen
