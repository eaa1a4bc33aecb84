#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "common/error.h"
#include "common/posix_file.h"
#include "common/windows_calls.h"

// Windows' side of common/posix_file.h: the descriptors are the C runtime's, made from handles
// that CreateFileW opened, so that Windows' own calls (MoveFileExW, SetFileTime,
// FlushFileBuffers) reach the same file. Names are UTF-8 inside and UTF-16 at every call.

namespace quillfen {

namespace {

constexpr std::string_view kTemporaryPrefix = ".quillfen-";
constexpr int kTemporaryNameTries = 100;

// The folder part of `path` with its trailing separator; empty for a bare name, which lies in
// the working folder.
std::string folderOf(const std::string& path) {
  return path.substr(0, path.find_last_of("/\\") + 1);
}

HANDLE handleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The temporary names, kept where the console's control handler can read them without
// allocating.
constexpr int kSignalSlots = 8;
constexpr std::size_t kLongestWidePath = 32768;
wchar_t signalSlotPaths[kSignalSlots][kLongestWidePath];
volatile std::sig_atomic_t signalSlotUsed[kSignalSlots];

int claimSignalSlot(const std::wstring& path) {
  if (path.size() >= kLongestWidePath) return -1;
  for (int slot = 0; slot < kSignalSlots; ++slot) {
    if (signalSlotUsed[slot] != 0) continue;
    std::memcpy(signalSlotPaths[slot], path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    std::atomic_signal_fence(std::memory_order_seq_cst);
    signalSlotUsed[slot] = 1;
    return slot;
  }
  return -1;
}

// The access rules of a file that only its owner may open, as a new file of mode 0600 on Linux:
// the user, SYSTEM and the Administrators (whom nothing keeps out of a Windows file anyway), none
// taken from the folder. Nothing when they cannot be built: the folder's rules apply then.
class PrivateFileRules {
 public:
  PrivateFileRules() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    LPWSTR sid = nullptr;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
      const std::wstring rules = L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FA;;;SY)(A;;FA;;;BA)";
      ::LocalFree(sid);
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1,
                                                             &descriptor_, nullptr);
    }
    ::CloseHandle(token);
  }
  ~PrivateFileRules() { ::LocalFree(descriptor_); }
  PrivateFileRules(const PrivateFileRules&) = delete;
  PrivateFileRules& operator=(const PrivateFileRules&) = delete;

  SECURITY_ATTRIBUTES* attributes() {
    if (descriptor_ == nullptr) return nullptr;
    attributes_ = {sizeof attributes_, descriptor_, FALSE};
    return &attributes_;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// Gives the file at `path` the access control list `rules`; `isProtected` keeps the folder's
// inheritable rules out, otherwise they are merged in. Windows' error code, 0 on success.
DWORD setAccessRules(const std::string& path, ACL* rules, bool isProtected) {
  std::wstring name = wideName(path);
  return ::SetNamedSecurityInfoW(
      name.data(), SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION),
      nullptr, nullptr, rules, nullptr);
}

// A new file of a name of its own in `folder`. Others may delete or rename it while it is open:
// removeTemporaryFilesNow removes it then, and commit() renames it after closing.
int createTemporaryFile(const std::string& folder, std::string& path) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    path = folder + std::string(kTemporaryPrefix);
    for (int i = 0; i < 6; ++i) path += kLetters[random() % (sizeof kLetters - 1)];
    PrivateFileRules rules;
    const HANDLE handle =
        ::CreateFileW(wideName(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, rules.attributes(),
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
      if (fd < 0) ::CloseHandle(handle);
      return fd;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      errno = errnoOfWindowsError(code);
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

// Seconds since 1970 as a FILETIME (100 ns steps since 1601).
FILETIME fileTimeOf(time_t seconds) {
  constexpr long long kSecondsFrom1601To1970 = 11644473600LL;
  const unsigned long long ticks =
      static_cast<unsigned long long>(seconds + kSecondsFrom1601To1970) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::_close(fd_);
}

int FileDescriptor::close() noexcept {
  const int result = ::_close(fd_);
  fd_ = -1;
  return result;
}

void removeTemporaryFilesNow() noexcept {
  for (int slot = 0; slot < kSignalSlots; ++slot) {
    if (signalSlotUsed[slot] != 0) ::DeleteFileW(signalSlotPaths[slot]);
  }
}

// Windows has no unnamed files: every pending file there has a hidden name.
void offerUnnamedTemporaryFiles(bool) noexcept {}

PendingFile::PendingFile(std::string target, Wording wording)
    : target_(std::move(target)),
      wording_(wording),
      file_(createTemporaryFile(folderOf(target_), path_)) {
  if (file_.valid()) {
    signalSlot_ = claimSignalSlot(wideName(path_));
    return;
  }
  const int error = errno;
  if (wording_.createNamesFolder) {
    throw errorFromErrno(error, wording_.create, folderOf(target_), true);
  }
  throw errorFromErrno(error, wording_.create, target_);
}

// An open file cannot be removed on Windows: it is closed first.
PendingFile::~PendingFile() {
  if (file_.valid()) file_.close();
  if (!committed_) ::DeleteFileW(wideName(path_).c_str());
  if (signalSlot_ >= 0) signalSlotUsed[signalSlot_] = 0;
}

void PendingFile::write(std::string_view data) {
  constexpr std::size_t kLargestWrite = 1 << 30;
  while (!data.empty()) {
    const unsigned count = static_cast<unsigned>(std::min(data.size(), kLargestWrite));
    const int written = ::_write(fd(), data.data(), count);
    // Writing nothing without an error would repeat forever: it counts as a device failure.
    if (written <= 0) throw errorFromErrno(written < 0 ? errno : EIO, wording_.write, target_);
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Windows starts writing a file back by itself soon enough: nothing to ask of it.
void PendingFile::appended(std::size_t) {}

// POSIX permission bits have nothing to say to a Windows file.
void PendingFile::setPermissions(unsigned) {}

// The rules any new file of the folder gets, from the folder's inheritable ones.
void PendingFile::setUsualPermissions() {
  ACL none;
  ::InitializeAcl(&none, sizeof none, ACL_REVISION);
  const DWORD result = setAccessRules(path_, &none, false);
  if (result != ERROR_SUCCESS) {
    throw errorFromErrno(errnoOfWindowsError(result), wording_.write, target_);
  }
}

void PendingFile::keepPermissionsOf(const std::string& path) {
  ACL* rules = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(wideName(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &rules, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  const DWORD result = setAccessRules(path_, rules, (control & SE_DACL_PROTECTED) != 0);
  ::LocalFree(descriptor);
  if (result != ERROR_SUCCESS) {
    throw errorFromErrno(errnoOfWindowsError(result), wording_.write, target_);
  }
}

void PendingFile::setModificationTime(time_t seconds) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const FILETIME modified = fileTimeOf(seconds);
  if (!::SetFileTime(handleOf(fd()), nullptr, &now, &modified)) {
    throw lastWindowsError(wording_.write, target_);
  }
}

void PendingFile::flushToDisk() {
  if (!::FlushFileBuffers(handleOf(fd()))) throw lastWindowsError(wording_.write, target_);
}

void PendingFile::close() {
  if (file_.close() != 0) throw errorFromErrno(errno, wording_.write, target_);
}

void PendingFile::commit() {
  close();
  if (!::MoveFileExW(wideName(path_).c_str(), wideName(target_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw lastWindowsError(wording_.replace, target_);
  }
  committed_ = true;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when anything has the target's name.
void PendingFile::commitWithoutReplacing() {
  close();
  if (!::MoveFileExW(wideName(path_).c_str(), wideName(target_).c_str(), MOVEFILE_WRITE_THROUGH)) {
    throw lastWindowsError(wording_.replace, target_);
  }
  committed_ = true;
}

std::optional<std::string> readRegularFile(const std::string& path, std::size_t limit,
                                           std::string_view what) {
  const std::wstring name = wideName(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw errorFromErrno(errnoOfWindowsError(code), what, path);
  }
  const auto notRegular = [&] {
    return Error(errc::kPathFileAccess,
                 std::string(what) + " '" + path + "': not a regular file (a device or a folder)");
  };
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw notRegular();
  const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw lastWindowsError(what, path);
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    throw errorFromErrno(errno, what, path);
  }
  const FileDescriptor file(fd);
  // A device such as CON or NUL has a name too, and would block or feed without end.
  if (::GetFileType(handle) != FILE_TYPE_DISK) throw notRegular();
  std::string text;
  char buffer[8192];
  while (text.size() <= limit) {
    const int count = ::_read(file.get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) throw errorFromErrno(errno, what, path);
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

}  // namespace quillfen
