#include "filestore/destination_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/error.h"

namespace quillfen {

namespace {

std::string holderOf(int fd) {
  char text[32] = {};
  const ssize_t length = pread(fd, text, sizeof text - 1, 0);
  const std::string pid = length > 0 ? std::string(text, static_cast<std::size_t>(length)) : "";
  return pid.empty() ? "unknown" : pid;
}

void recordHolder(int fd) {
  const std::string pid = std::to_string(getpid());
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The number is only for another run's message; the lock holds without it.
  }
}

// The locked lock file, or no descriptor when the folder does not exist.
FileDescriptor lockFileIn(const std::string& destinationFolder) {
  const std::string path = destinationFolder + "/" + DestinationLock::kFileName;
  FileDescriptor file(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!file.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return file;
    throw errorFromErrno(errno, "Cannot lock the destination", path);
  }
  if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) throw errorFromErrno(errno, "Cannot lock the destination", path);
    throw Error(errc::kDestinationInUse, "Another Quillfen run (process " + holderOf(file.get()) +
                                             ") is using '" + destinationFolder + "'");
  }
  recordHolder(file.get());
  return file;
}

}  // namespace

DestinationLock::DestinationLock(const std::string& destinationFolder)
    : file_(lockFileIn(destinationFolder)) {}

}  // namespace quillfen
