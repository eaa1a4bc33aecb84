#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "common/path_limits.h"
#include "common/windows_calls.h"

namespace quillfen {

// NTFS takes 255 UTF-16 units per name and, with the "\\?\" prefix, 32767 per path. Counted in
// UTF-8 bytes, which are never fewer than the UTF-16 units, these limits keep every name that
// fits; a name of more than 85 characters outside the Basic Latin block may be left out
// although Windows would take it.
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
  std::wstring wide = wideName(std::string(name));
  ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                  static_cast<int>(wide.size()), wide.data(), static_cast<int>(wide.size()),
                  nullptr, nullptr, 0);
  return utf8Text(wide);
}

}  // namespace quillfen
