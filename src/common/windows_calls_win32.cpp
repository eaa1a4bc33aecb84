#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "common/windows_calls.h"

namespace quillfen {

std::wstring wideName(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

std::string utf8Text(std::wstring_view utf16) {
  const std::u8string text = std::filesystem::path(utf16).u8string();
  return std::string(text.begin(), text.end());
}

int errnoOfWindowsError(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    default:
      return EIO;
  }
}

Error lastWindowsError(std::string_view what, const std::string& path, bool isFolder) {
  return errorFromErrno(errnoOfWindowsError(::GetLastError()), what, path, isFolder);
}

}  // namespace quillfen
