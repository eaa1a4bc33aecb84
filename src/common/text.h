#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// What the settings, FTP commands and mail addresses count as blank around a value.
inline constexpr std::string_view kBlanks = " \t";

// `text` without the leading and trailing characters that are in `blanks`. The result points
// into `text`, so it must not outlive the string that `text` views.
std::string_view trimmed(std::string_view text, std::string_view blanks = kBlanks);

// The parts of `text` between its `separator`s, empty ones included and none trimmed: "a;;b"
// gives "a", "" and "b", an empty text one empty part. They point into `text`.
std::vector<std::string_view> partsOf(std::string_view text, char separator);

// A C0 control character or DEL: never let into a path, a command, a header or a report name.
inline bool isControlCharacter(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// A name or path as every text of the program shows it (report, mail, terminal, system log,
// error descriptions): each control character becomes "?". A name may hold an LF or an ESC,
// which would otherwise start a forged line or steer a terminal.
std::string shownName(std::string_view name);

// Whether `a` and `b` are the same text when ASCII letters are compared without regard to case
// (names of keys, sections, settings' words).
bool sameIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace quillfen
