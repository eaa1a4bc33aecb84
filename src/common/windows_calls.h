#pragma once

#include <string>
#include <string_view>

#include "common/error.h"

namespace quillfen {

// Helpers of the Windows files (*_win32.cpp).

// A UTF-8 name as the UTF-16 that Windows' calls take, every '/' turned into a backslash. A path
// too long for the plain form gets the extended-length form of its absolute path ("\\?\C:\..."
// or "\\?\UNC\server\share\..."), so that deep trees work.
std::wstring wideName(const std::string& utf8);
// UTF-8 text (a message, a caption) as UTF-16, unchanged otherwise.
std::wstring wideText(std::string_view utf8);
// UTF-16 text from a Windows call as the UTF-8 used everywhere else.
std::string utf8Text(std::wstring_view utf16);

// The errno value closest to a Windows error code, so that errors keep the numbers and words of
// the POSIX build.
int errnoOfWindowsError(unsigned long code);

// errorFromErrno for the calling thread's last Windows error (GetLastError).
Error lastWindowsError(std::string_view what, const std::string& path, bool isFolder = false);

}  // namespace quillfen
