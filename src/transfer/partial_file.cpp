#include "transfer/partial_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/error.h"

namespace quillfen {

namespace {

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkstemp creates the file for its owner only; the download gets the mode any new file of
// this process would get.
void giveUsualMode(int fd) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
}

}  // namespace

PartialFile::PartialFile(std::string finalPath) : finalPath_(std::move(finalPath)) {
  tempPath_ = folderOf(finalPath_) + "/.quillfen-download-XXXXXX";
  fd_ = ::mkstemp(tempPath_.data());
  if (fd_ < 0) throw errorFromErrno(errno, "Cannot create a file beside", finalPath_);
  giveUsualMode(fd_);
}

PartialFile::~PartialFile() {
  discard();
}

void PartialFile::discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(tempPath_.c_str());
  }
}

bool PartialFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure_ = "Cannot write '" + finalPath_ + "': " + std::strerror(written < 0 ? errno : EIO);
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void PartialFile::commit() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(tempPath_.c_str());
    throw errorFromErrno(error, "Cannot write", finalPath_);
  }
  if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    const int error = errno;
    ::unlink(tempPath_.c_str());
    throw errorFromErrno(error, "Cannot replace", finalPath_);
  }
}

}  // namespace quillfen
