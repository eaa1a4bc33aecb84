#include "common/path_limits.h"

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

}  // namespace quillfen
