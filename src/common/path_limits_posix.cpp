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

}  // namespace quillfen
