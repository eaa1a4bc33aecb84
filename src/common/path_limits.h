#pragma once

#include <cstddef>

namespace quillfen {

// The longest path, and the longest name within a path, that the file system takes, in bytes of
// the UTF-8 name, terminating zero included for the path.
std::size_t longestPath();
std::size_t longestName();

}  // namespace quillfen
