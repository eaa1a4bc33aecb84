#pragma once

#include <cstddef>

namespace quillfen {

// The longest path, and the longest name within a path, that the file system takes, in bytes of
// the UTF-8 name, terminating zero included for the path.
std::size_t longestPath();
std::size_t longestName();

// The character that joins a folder's path and a name within it: '/', or the backslash on
// Windows, where the report shows paths as their users write them.
char folderSeparator();

}  // namespace quillfen
