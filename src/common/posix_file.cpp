#include "common/posix_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "common/error.h"

namespace quillfen {

namespace {

// One fixed name rather than one made from the target's, so that a target whose name is as
// long as the file system allows still gets a temporary file. The dot hides it from listings.
constexpr std::string_view kTemporaryName = ".quillfen-XXXXXX";

// The folder part of `path` with its trailing slash; empty for a bare name, which lies in the
// working folder.
std::string folderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('/') + 1);
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int FileDescriptor::close() noexcept {
  const int result = ::close(fd_);
  fd_ = -1;
  return result;
}

namespace {

// The temporary names, kept where a signal handler can read them without allocating.
constexpr int kSignalSlots = 8;
char signalSlotPaths[kSignalSlots][PATH_MAX];
volatile std::sig_atomic_t signalSlotUsed[kSignalSlots];

int claimSignalSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int slot = 0; slot < kSignalSlots; ++slot) {
    if (signalSlotUsed[slot] != 0) continue;
    std::memcpy(signalSlotPaths[slot], path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    signalSlotUsed[slot] = 1;
    return slot;
  }
  return -1;
}

}  // namespace

void removeTemporaryFilesNow() noexcept {
  for (int slot = 0; slot < kSignalSlots; ++slot) {
    if (signalSlotUsed[slot] != 0) ::unlink(signalSlotPaths[slot]);
  }
}

PendingFile::PendingFile(std::string target, Wording wording)
    : target_(std::move(target)),
      wording_(wording),
      path_(folderOf(target_).append(kTemporaryName)),
      file_(::mkostemp(path_.data(), O_CLOEXEC)) {
  if (file_.valid()) {
    signalSlot_ = claimSignalSlot(path_);
    return;
  }
  const int error = errno;
  if (wording_.createNamesFolder) {
    throw errorFromErrno(error, wording_.create, folderOf(target_), true);
  }
  throw errorFromErrno(error, wording_.create, target_);
}

PendingFile::~PendingFile() {
  if (!committed_) ::unlink(path_.c_str());
  if (signalSlot_ >= 0) signalSlotUsed[signalSlot_] = 0;
}

void PendingFile::write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd(), data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    // Writing nothing without an error would repeat forever: it counts as a device failure.
    if (written <= 0) throw errorFromErrno(written < 0 ? errno : EIO, wording_.write, target_);
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

void PendingFile::setPermissions(unsigned mode) {
  if (::fchmod(fd(), mode) != 0) throw errorFromErrno(errno, wording_.write, target_);
}

void PendingFile::setUsualPermissions() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  setPermissions(0666 & ~mask);
}

void PendingFile::keepPermissionsOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return;
  setPermissions(status.st_mode & 07777);
}

void PendingFile::setModificationTime(time_t seconds) {
  const struct timespec times[2] = {{0, UTIME_NOW}, {seconds, 0}};
  if (::futimens(fd(), times) != 0) throw errorFromErrno(errno, wording_.write, target_);
}

void PendingFile::flushToDisk() {
  if (::fsync(fd()) != 0) throw errorFromErrno(errno, wording_.write, target_);
}

void PendingFile::close() {
  if (file_.close() != 0) throw errorFromErrno(errno, wording_.write, target_);
}

void PendingFile::commit() {
  close();
  if (::rename(path_.c_str(), target_.c_str()) != 0) {
    throw errorFromErrno(errno, wording_.replace, target_);
  }
  committed_ = true;
}

void PendingFile::commitWithoutReplacing() {
  close();
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0) {
    committed_ = true;
    return;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    throw errorFromErrno(errno, wording_.replace, target_);
  }
  // This file system cannot rename without replacing; a hard link refuses to replace as well.
  // The temporary name is then left to the destructor.
  if (::link(path_.c_str(), target_.c_str()) != 0) {
    throw errorFromErrno(errno, wording_.replace, target_);
  }
}

namespace {

void requireRegularFile(int fd, const std::string& path, std::string_view what) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) throw errorFromErrno(errno, what, path);
  if (!S_ISREG(status.st_mode)) {
    throw Error(errc::kPathFileAccess, std::string(what) + " '" + path +
                                           "': not a regular file (a FIFO, a device or a folder)");
  }
}

}  // namespace

std::optional<std::string> readRegularFile(const std::string& path, std::size_t limit,
                                           std::string_view what) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    if (errno == ENOENT) return std::nullopt;
    throw errorFromErrno(errno, what, path);
  }
  requireRegularFile(file.get(), path, what);
  std::string text;
  char buffer[8192];
  while (text.size() <= limit) {
    const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errorFromErrno(errno, what, path);
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

}  // namespace quillfen
