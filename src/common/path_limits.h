#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillfen {

// The longest path, and the longest name within a path, that the file system takes, in bytes of
// the UTF-8 name, terminating zero included for the path.
std::size_t longestPath();
std::size_t longestName();

// Whether `name`, a name from elsewhere (a remote listing), names a file here as it is. Always
// on Linux. Windows refuses or changes some: the characters < > " | ? * (and ':', which would
// write into a stream of another file), a last dot or blank (dropped: "a." would be "a"), and
// the device names CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, also with an extension ("nul.txt"
// is the device too, and whatever is written there is lost).
bool isNameTheFileSystemTakes(std::string_view name);

// What two names of one folder share when the file system takes them for the same name: the
// name itself on Linux; on Windows, whose names ignore case, its upper-case form. Two remote
// names with one key would land in one file.
std::string sameNameKey(std::string_view name);

// The character that joins a folder's path and a name within it: '/', or the backslash on
// Windows, where the report shows paths as their users write them.
char folderSeparator();

}  // namespace quillfen
