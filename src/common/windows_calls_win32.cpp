#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>

#include "common/windows_calls.h"

namespace quillfen {

namespace {

// Beyond this many UTF-16 units a plain path fails some calls: CreateDirectoryW leaves room for
// an 8.3 name below the folder.
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12;

bool hasPrefix(const std::wstring& path, std::wstring_view prefix) {
  return path.compare(0, prefix.size(), prefix) == 0;
}

// The "\\?\" form of `path`, which Windows passes on without its own length limit and without
// normalising: the absolute path first, "." and ".." resolved and every separator single.
std::wstring extendedLengthForm(const std::wstring& path) {
  if (hasPrefix(path, L"\\\\?\\") || hasPrefix(path, L"\\\\.\\")) return path;
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;  // the call that takes it says what is wrong
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  // A doubled separator may survive (after a share's name, under Wine after a drive's folder
  // too); the extended form would take it for an empty name.
  const auto doubled = [](wchar_t a, wchar_t b) { return a == L'\\' && b == L'\\'; };
  if (full.size() > 2) full.erase(std::unique(full.begin() + 2, full.end(), doubled), full.end());
  if (hasPrefix(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

std::wstring wideName(const std::string& utf8) {
  std::wstring wide = std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  // "D:" alone is the current folder of drive D, not its root; it is what a destination "D:\"
  // becomes once its last backslash is dropped, and the root is meant.
  if (wide.size() == 2 && wide[1] == L':') wide += L'\\';
  return wide.size() > kLongestPlainPath ? extendedLengthForm(wide) : wide;
}

std::wstring wideText(std::string_view utf8) {
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(static_cast<std::size_t>(size), L'\0');  // never more units than bytes
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size);
  wide.resize(static_cast<std::size_t>(length));
  return wide;
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
