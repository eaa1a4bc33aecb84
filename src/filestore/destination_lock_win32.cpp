#include <io.h>
#include <windows.h>

#include <string>

#include "common/error.h"
#include "common/windows_calls.h"
#include "filestore/destination_lock.h"

// Windows' side of the destination lock. Its locks are mandatory: a locked byte cannot be read
// by another process. The byte locked therefore lies far beyond the process number that the
// file holds, which another run reads for its message.

namespace quillfen {

namespace {

constexpr DWORD kLockedByteHigh = 1;  // the byte at 4 GiB, never written

std::string holderOf(HANDLE file) {
  char text[32] = {};
  DWORD length = 0;
  OVERLAPPED start{};
  if (!::ReadFile(file, text, sizeof text - 1, &length, &start) || length == 0) return "unknown";
  return std::string(text, length);
}

void recordHolder(HANDLE file) {
  const std::string pid = std::to_string(::GetCurrentProcessId());
  DWORD written = 0;
  OVERLAPPED start{};
  // The number is only for another run's message; the lock holds without it.
  if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && ::SetEndOfFile(file)) {
    ::WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, &start);
  }
}

// The locked lock file, or no descriptor when the folder does not exist.
FileDescriptor lockFileIn(const std::string& destinationFolder) {
  const std::string path = destinationFolder + "\\" + DestinationLock::kFileName;
  const HANDLE file = ::CreateFileW(wideName(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY) return FileDescriptor();
    throw errorFromErrno(errnoOfWindowsError(code), "Cannot lock the destination", path);
  }
  FileDescriptor owner(::_open_osfhandle(reinterpret_cast<intptr_t>(file), 0));
  if (!owner.valid()) {
    ::CloseHandle(file);
    throw errorFromErrno(errno, "Cannot lock the destination", path);
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockedByteHigh;
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    if (::GetLastError() != ERROR_LOCK_VIOLATION) {
      throw lastWindowsError("Cannot lock the destination", path);
    }
    throw Error(errc::kDestinationInUse, "Another Quillfen run (process " + holderOf(file) +
                                             ") is using '" + destinationFolder + "'");
  }
  recordHolder(file);
  return owner;
}

}  // namespace

DestinationLock::DestinationLock(const std::string& destinationFolder)
    : file_(lockFileIn(destinationFolder)) {}

}  // namespace quillfen
