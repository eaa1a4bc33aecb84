#include "config/profile_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/error.h"
#include "config/profile_text.h"

namespace quillfen {

namespace {

constexpr std::string_view kCannotRead = "Cannot read the configuration file";
constexpr std::string_view kCannotWrite = "Cannot write the configuration file";

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now so that a failing close (delayed write errors) can be reported.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

std::optional<std::string> readWholeFile(const std::string& path, std::string_view what) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw errorFromErrno(errno, what, path);
  }
  std::string text;
  char buffer[8192];
  for (;;) {
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

void writeAll(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t count = ::write(fd, text.data(), text.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errorFromErrno(errno, kCannotWrite, path);
    }
    text.remove_prefix(static_cast<std::size_t>(count));
  }
}

// A temporary file beside the target, removed again unless it took the target's place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target)
      : path_(temporaryPattern(target)), fd_(::mkostemp(path_.data(), O_CLOEXEC)) {
    if (fd_.get() < 0) throw errorFromErrno(errno, kCannotWrite, target);
  }
  ~TemporaryFile() {
    if (!published_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }
  int close() { return fd_.close(); }
  void published() { published_ = true; }

 private:
  static std::string temporaryPattern(const std::string& target) {
    const std::filesystem::path path(target);
    return (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  }

  std::string path_;
  FileDescriptor fd_;
  bool published_ = false;
};

// A link named Config.ini stays a link: the file it points to is the one rewritten.
std::string resolveLink(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

// Puts `temp` in the place of a file that did not exist, refusing to replace anything that
// appeared there meanwhile (a directory, a link, or a file the user just saved).
void publishAsNewFile(TemporaryFile& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.path().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    temp.published();
    return;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
  // This file system cannot rename without replacing; a hard link refuses to replace as well.
  if (::link(temp.path().c_str(), target.c_str()) != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
}

void publishOverExistingFile(TemporaryFile& temp, const std::string& target) {
  if (::rename(temp.path().c_str(), target.c_str()) != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
  temp.published();
}

void keepPermissionsOf(const std::string& target, const TemporaryFile& temp) {
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) return;  // gone meanwhile: the new file is private
  if (::fchmod(temp.fd(), status.st_mode & 07777) != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
}

}  // namespace

std::optional<std::string> readProfileFile(const std::string& path) {
  return readWholeFile(path, kCannotRead);
}

void storeProfileValue(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value) {
  const std::optional<std::string> old = readWholeFile(path, kCannotWrite);
  const std::string text = withProfileValue(old.value_or(""), section, key, value);
  const std::string target = old ? resolveLink(path) : path;

  TemporaryFile temp(target);
  if (old) keepPermissionsOf(target, temp);
  writeAll(temp.fd(), text, target);
  if (::fsync(temp.fd()) != 0 || temp.close() != 0) {
    throw errorFromErrno(errno, kCannotWrite, target);
  }
  if (old) {
    publishOverExistingFile(temp, target);
  } else {
    publishAsNewFile(temp, target);
  }
}

}  // namespace quillfen
