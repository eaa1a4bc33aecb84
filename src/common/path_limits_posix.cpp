#include <climits>

#include "common/path_limits.h"

namespace quillfen {

std::size_t longestPath() {
  return PATH_MAX;
}
std::size_t longestName() {
  return NAME_MAX;
}
char folderSeparator() {
  return '/';
}

bool isNameTheFileSystemTakes(std::string_view) {
  return true;
}

std::string sameNameKey(std::string_view name) {
  return std::string(name);
}

}  // namespace quillfen
