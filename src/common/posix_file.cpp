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
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

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

namespace {

bool unnamedFilesOffered = true;

// How far data may run ahead of the disk: each completed range of this size starts its way out
// at once, and the one before it is waited for, so that a large file never piles up unwritten
// and the flush at the end finds little left.
constexpr std::uint64_t kWriteBehindRange = std::uint64_t{8} << 20;

// The answers of a file system or kernel without unnamed files: NFS and CIFS refuse the flag,
// a kernel older than 3.11 takes it for O_DIRECTORY and refuses to write a folder.
bool lacksUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Whether an unnamed file can be given its name: through /proc/self/fd, or without /proc by
// AT_EMPTY_PATH, which only root may use. A process with neither (a container without /proc)
// would fail every commit, so it writes under hidden names from the start.
bool canNameUnnamedFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
  return can;
}

// A new file in `folder`: without a name where the file system allows, else under a hidden
// name of its own, which goes to `path`.
FileDescriptor createTemporaryFile(const std::string& folder, std::string& path) {
  if (unnamedFilesOffered && canNameUnnamedFiles()) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || !lacksUnnamedFiles(errno)) return FileDescriptor(fd);
  }
  path = folder + std::string(kTemporaryName);
  return FileDescriptor(::mkostemp(path.data(), O_CLOEXEC));
}

// Gives the open unnamed file `fd` the name `path`. A link never replaces: it fails with EEXIST
// when anything has that name, a dangling link included.
int linkUnnamed(int fd, const std::string& path) {
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error = errno;
  if (error != ENOENT) return -1;
  // Without /proc mounted; this way needs the right to search every folder, which root has.
  if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

void offerUnnamedTemporaryFiles(bool offered) noexcept {
  unnamedFilesOffered = offered;
}

PendingFile::PendingFile(std::string target, Wording wording)
    : target_(std::move(target)),
      wording_(wording),
      file_(createTemporaryFile(folderOf(target_), path_)) {
  if (file_.valid()) {
    if (!path_.empty()) signalSlot_ = claimSignalSlot(path_);
    return;
  }
  const int error = errno;
  if (wording_.createNamesFolder) {
    throw errorFromErrno(error, wording_.create, folderOf(target_), true);
  }
  throw errorFromErrno(error, wording_.create, target_);
}

PendingFile::~PendingFile() {
  if (!committed_ && !path_.empty()) ::unlink(path_.c_str());
  if (signalSlot_ >= 0) signalSlotUsed[signalSlot_] = 0;
}

void PendingFile::write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd(), data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    // Writing nothing without an error would repeat forever: it counts as a device failure.
    if (written <= 0) throw errorFromErrno(written < 0 ? errno : EIO, wording_.write, target_);
    data.remove_prefix(static_cast<std::size_t>(written));
    appended(static_cast<std::size_t>(written));
  }
}

// The classic write-behind: start the range just completed, then wait for the one before it,
// which has had a whole range's time to get there. A failed wait is a failed write; starting
// is only advice to the system, and what it misses the flush at the end does.
void PendingFile::appended(std::size_t bytes) {
  written_ += bytes;
  if (written_ - sentToDisk_ < kWriteBehindRange) return;
  ::sync_file_range(fd(), static_cast<off64_t>(sentToDisk_),
                    static_cast<off64_t>(written_ - sentToDisk_), SYNC_FILE_RANGE_WRITE);
  if (sentToDisk_ > 0) {
    const unsigned wait =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (::sync_file_range(fd(), 0, static_cast<off64_t>(sentToDisk_), wait) != 0) {
      throw errorFromErrno(errno, wording_.write, target_);
    }
  }
  sentToDisk_ = written_;
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

// A hidden name for the unnamed file, for the moment it takes to rename it over the target.
void PendingFile::nameHidden() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::minstd_rand random(static_cast<unsigned>(::getpid()) ^
                                 static_cast<unsigned>(::time(nullptr)));
  const std::string_view prefix = kTemporaryName.substr(0, kTemporaryName.find('X'));
  for (;;) {
    std::string path = folderOf(target_).append(prefix);
    for (int i = 0; i < 6; ++i) path += kLetters[random() % (sizeof kLetters - 1)];
    // Marked for removal before it exists, so that no moment leaves it unmarked.
    signalSlot_ = claimSignalSlot(path);
    if (linkUnnamed(fd(), path) == 0) {
      path_ = std::move(path);
      return;
    }
    const int error = errno;
    if (signalSlot_ >= 0) signalSlotUsed[signalSlot_] = 0;
    signalSlot_ = -1;
    if (error != EEXIST) throw errorFromErrno(error, wording_.replace, target_);
  }
}

// An unnamed file can be linked only while it is open, so it takes its name before it is
// closed; a close that fails then takes the name away again.
void PendingFile::commitUnnamed(bool replace) {
  if (linkUnnamed(fd(), target_) == 0) {
    try {
      close();
    } catch (const Error&) {
      ::unlink(target_.c_str());
      throw;
    }
    committed_ = true;
    return;
  }
  if (errno != EEXIST || !replace) throw errorFromErrno(errno, wording_.replace, target_);
  // Something has the name: only a rename replaces it in one step, and it needs a name to rename.
  nameHidden();
  close();
  if (::rename(path_.c_str(), target_.c_str()) != 0) {
    throw errorFromErrno(errno, wording_.replace, target_);
  }
  committed_ = true;
}

void PendingFile::commit() {
  if (path_.empty()) return commitUnnamed(true);
  close();
  if (::rename(path_.c_str(), target_.c_str()) != 0) {
    throw errorFromErrno(errno, wording_.replace, target_);
  }
  committed_ = true;
}

void PendingFile::commitWithoutReplacing() {
  if (path_.empty()) return commitUnnamed(false);
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
