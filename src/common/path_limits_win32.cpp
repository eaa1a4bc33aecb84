#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "common/path_limits.h"
#include "common/windows_calls.h"

namespace quillfen {

// NTFS takes 255 UTF-16 units per name and, with the "\\?\" prefix, 32767 per path.
std::size_t longestPath() {
  return 32767;
}
std::size_t longestName() {
  return 255;
}
// Windows takes '/' as well, which a setting may hold (C:/data); the paths this system builds
// use the backslash.
char folderSeparator() {
  return '\\';
}

namespace {

bool isDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();  // "nul .txt" is NUL as well
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

bool isNameTheFileSystemTakes(std::string_view name) {
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  if (name.find_first_of("<>:\"|?*") != std::string_view::npos) return false;
  return !isDeviceName(name);
}

// NTFS compares names by the upper-case form of each UTF-16 unit, locale-independent.
std::string sameNameKey(std::string_view name) {
  // The name alone, not a path: wideName would make a long one absolute.
  std::wstring wide = std::filesystem::path(std::u8string(name.begin(), name.end())).wstring();
  ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                  static_cast<int>(wide.size()), wide.data(), static_cast<int>(wide.size()),
                  nullptr, nullptr, 0);
  return utf8Text(wide);
}

// A UTF-8 lead byte starts one UTF-16 unit, or two (a surrogate pair) for a four-byte
// character; continuation bytes add nothing.
std::size_t lengthOnDisk(std::string_view utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

}  // namespace quillfen
