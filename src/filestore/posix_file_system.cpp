#include "filestore/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/error.h"
#include "common/posix_file.h"
#include "common/text.h"
#include "filestore/copy_pieces.h"

namespace quillfen {

namespace {

constexpr std::size_t kCopyBufferSize = 256 * 1024;
// Entries of a folder being deleted, read and sorted at a time.
constexpr std::size_t kRemovalBatch = 65536;

std::string joinPath(const std::string& folder, const char* name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One open folder, read entry by entry. `path` names it in errors.
class Directory {
 public:
  Directory(int parentFd, const std::string& name, std::string path, bool followLink)
      : path_(std::move(path)) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::openat(parentFd, name.c_str(), flags);
    if (fd >= 0) {
      stream_ = ::fdopendir(fd);
      if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
      }
    }
    if (stream_ == nullptr) throw errorFromErrno(errno, "Cannot read folder", path_, true);
  }
  ~Directory() { ::closedir(stream_); }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  int fd() const { return ::dirfd(stream_); }
  const std::string& path() const { return path_; }

  // The next entry other than "." and "..", or nullptr after the last one.
  const dirent* next() {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(stream_);
      if (entry == nullptr) {
        if (errno != 0) throw errorFromErrno(errno, "Cannot read folder", path_, true);
        return nullptr;
      }
      if (!isDotOrDotDot(entry->d_name)) return entry;
    }
  }

 private:
  DIR* stream_ = nullptr;
  std::string path_;
};

// True when the entry is itself a folder; a link to a folder is not.
bool isFolderEntry(const Directory& folder, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat status;
  if (::fstatat(folder.fd(), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    throw errorFromErrno(errno, "Cannot read", joinPath(folder.path(), entry.d_name));
  }
  return S_ISDIR(status.st_mode);
}

// True when the entry is a regular file or a link to one. Fills `status` (of the target) when
// given; without it a plain regular entry needs no further look.
bool isRegularTarget(const Directory& folder, const dirent& entry, struct stat* status) {
  switch (entry.d_type) {
    case DT_DIR:
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
      return false;
    case DT_REG:
      if (status == nullptr) return true;
      break;
    default:
      break;
  }
  struct stat target;
  if (::fstatat(folder.fd(), entry.d_name, &target, 0) != 0) {
    // A dangling or looping link is no file, nor is an entry removed since it was listed.
    if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) return false;
    throw errorFromErrno(errno, "Cannot read", joinPath(folder.path(), entry.d_name));
  }
  if (status != nullptr) *status = target;
  return S_ISREG(target.st_mode);
}

// Gives the owner full access to the folder `name` below `parentFd`, so that its entries can be
// listed and removed even when it was made read-only.
void grantOwnerAccess(int parentFd, const std::string& name, const std::string& path) {
  struct stat status;
  if (::fstatat(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    throw errorFromErrno(errno, "Cannot delete folder", path, true);
  }
  if ((status.st_mode & S_IRWXU) == S_IRWXU) return;
  if (::fchmodat(parentFd, name.c_str(), (status.st_mode & 07777) | S_IRWXU, 0) != 0) {
    throw errorFromErrno(errno, "Cannot delete folder", path, true);
  }
}

void removeFolderTree(int parentFd, const std::string& name, const std::string& path, bool force);

struct DoomedEntry {
  ino_t inode;
  std::string name;
  bool folder;
};

// A folder lists its entries in the order of their names' hashes (ext4), and removing them in
// that order touches the inode table at random: eight times slower, for a folder of many files,
// than in the order of their inodes, which is what each batch is sorted by.
void removeContents(Directory& folder, bool force) {
  std::vector<DoomedEntry> batch;
  do {
    batch.clear();
    while (batch.size() < kRemovalBatch) {
      const dirent* entry = folder.next();
      if (entry == nullptr) break;
      batch.push_back({entry->d_ino, entry->d_name, isFolderEntry(folder, *entry)});
    }
    std::sort(batch.begin(), batch.end(),
              [](const DoomedEntry& a, const DoomedEntry& b) { return a.inode < b.inode; });
    for (const DoomedEntry& entry : batch) {
      if (entry.folder) {
        removeFolderTree(folder.fd(), entry.name, joinPath(folder.path(), entry.name.c_str()),
                         force);
      } else if (::unlinkat(folder.fd(), entry.name.c_str(), 0) != 0) {
        throw errorFromErrno(errno, "Cannot delete", joinPath(folder.path(), entry.name.c_str()));
      }
    }
  } while (!batch.empty());
}

void removeFolderTree(int parentFd, const std::string& name, const std::string& path, bool force) {
  if (force) grantOwnerAccess(parentFd, name, path);
  {
    Directory folder(parentFd, name, path, false);
    removeContents(folder, force);
  }
  if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) {
    throw errorFromErrno(errno, "Cannot delete folder", path, true);
  }
}

std::uint64_t sizeOfContents(Directory& folder) {
  std::uint64_t total = 0;
  while (const dirent* entry = folder.next()) {
    if (isFolderEntry(folder, *entry)) {
      Directory subfolder(folder.fd(), entry->d_name, joinPath(folder.path(), entry->d_name),
                          false);
      total += sizeOfContents(subfolder);
      continue;
    }
    struct stat status;
    if (isRegularTarget(folder, *entry, &status)) {
      total += static_cast<std::uint64_t>(status.st_size);
    }
  }
  return total;
}

// The files of `folder` to `visit`, named with `prefix`; with `wholeTree` then those of each
// subfolder.
void visitFolderFiles(Directory& folder, const std::string& prefix, bool wholeTree,
                      const FileVisitor& visit) {
  std::vector<std::string> subfolders;
  std::string name = prefix;
  while (const dirent* entry = folder.next()) {
    struct stat status;
    if (wholeTree && isFolderEntry(folder, *entry)) {
      subfolders.emplace_back(entry->d_name);
    } else if (isRegularTarget(folder, *entry, &status)) {
      name.resize(prefix.size());
      name += entry->d_name;
      visit(name, static_cast<std::uint64_t>(status.st_size));
    }
  }
  for (const std::string& subfolderName : subfolders) {
    Directory subfolder(folder.fd(), subfolderName, joinPath(folder.path(), subfolderName.c_str()),
                        false);
    visitFolderFiles(subfolder, prefix + subfolderName + "/", true, visit);
  }
}

// Opens `path` for reading only when it is a regular file: a pipe would block the open and a
// device could react to it.
FileDescriptor openRegularFile(const std::string& path, struct stat& status) {
  if (::stat(path.c_str(), &status) != 0) throw errorFromErrno(errno, "Cannot copy", path);
  const auto notRegular = [&] {
    return Error(errc::kPathFileAccess,
                 "Cannot copy '" + shownName(path) + "': not a regular file");
  };
  if (!S_ISREG(status.st_mode)) throw notRegular();
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) throw errorFromErrno(errno, "Cannot copy", path);
  // The entry may have been replaced between the two looks.
  if (::fstat(file.get(), &status) != 0) throw errorFromErrno(errno, "Cannot copy", path);
  if (!S_ISREG(status.st_mode)) throw notRegular();
  return file;
}

FileDescriptor openSource(const std::string& path, struct stat& status) {
  try {
    return openRegularFile(path, status);
  } catch (const Error& error) {
    throw SourceFileError(error);
  }
}

enum class CopyEnd { kComplete, kStopped, kByReading };

// Copies in the kernel where it can, one piece per call. kByReading when plain reads and
// writes must go on from where the kernel stopped: the kernel cannot copy these two files, or it
// failed. Its errors do not tell which side failed (EIO, EBADF and EINVAL may mean either), so
// a failure is repeated by the plain copy, whose reads and writes do.
CopyEnd copyInKernel(int in, PendingFile& out, CopyPieces& pieces) {
  bool first = true;
  for (;;) {
    const ssize_t copied = ::copy_file_range(in, nullptr, out.fd(), nullptr, CopyPieces::kPiece, 0);
    if (copied > 0) {
      first = false;
      out.appended(static_cast<std::size_t>(copied));
      if (!pieces.copied(static_cast<std::size_t>(copied))) return CopyEnd::kStopped;
      continue;
    }
    // Pseudo files (/proc) report no length and the kernel copies nothing of them, so a first
    // empty result is checked by plain reads.
    if (copied == 0) return first ? CopyEnd::kByReading : CopyEnd::kComplete;
    if (errno != EINTR) return CopyEnd::kByReading;
  }
}

// A failed read lies in the source and costs that file only; a failed write is the
// destination's and is thrown as it is.
CopyEnd copyByReading(int in, PendingFile& out, std::vector<char>& buffer, CopyPieces& pieces,
                      const std::string& source) {
  if (buffer.empty()) buffer.resize(kCopyBufferSize);
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got == 0) return CopyEnd::kComplete;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw SourceFileError(errorFromErrno(errno, "Cannot read", source));
    }
    out.write({buffer.data(), static_cast<std::size_t>(got)});
    if (!pieces.copied(static_cast<std::size_t>(got))) return CopyEnd::kStopped;
  }
}

// The copy belongs to whoever runs the backup, so set-user-ID and set-group-ID bits would hand
// out that user's rights: only the permission bits travel.
void keepTimesAndPermissions(PendingFile& out, const struct stat& source,
                             const std::string& target) {
  out.setPermissions(source.st_mode & 0777);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (::futimens(out.fd(), times) != 0) throw errorFromErrno(errno, "Cannot write", target);
}

Error driveError(const std::string& path, int error) {
  return Error(errc::kDeviceUnavailable,
               "Cannot determine the drive of '" + shownName(path) + "': " + std::strerror(error));
}

// The mount point field of a /proc/self/mountinfo line, with its octal escapes ("\040" for a
// blank) decoded. Empty when the line is malformed.
std::string mountPointField(const std::string& line) {
  std::size_t start = 0;
  for (int field = 0; field < 4; ++field) {
    start = line.find(' ', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  const std::size_t end = line.find(' ', start);
  const std::string raw = line.substr(start, end == std::string::npos ? end : end - start);
  const auto octal = [&](std::size_t at) { return raw[at] >= '0' && raw[at] <= '7'; };
  std::string decoded;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 3 < raw.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      decoded +=
          static_cast<char>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 + (raw[i + 3] - '0'));
      i += 3;
    } else {
      decoded += raw[i];
    }
  }
  return decoded;
}

bool holds(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return true;
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The deepest mount holding `path`; of mounts on the same point the last one listed is on top.
std::string mountPointFromTable(const std::string& path) {
  std::ifstream table("/proc/self/mountinfo");
  std::string best;
  for (std::string line; std::getline(table, line);) {
    const std::string mountPoint = mountPointField(line);
    if (!mountPoint.empty() && holds(mountPoint, path) && mountPoint.size() >= best.size()) {
      best = mountPoint;
    }
  }
  return best;
}

// Without a mount table: the highest folder above `path` on the same device.
std::string mountPointByDevice(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) throw driveError(path, errno);
  std::string top = path;
  while (top != "/") {
    const std::size_t slash = top.find_last_of('/');
    const std::string parent = slash == 0 ? "/" : top.substr(0, slash);
    struct stat parentStatus;
    if (::stat(parent.c_str(), &parentStatus) != 0 || parentStatus.st_dev != status.st_dev) break;
    top = parent;
  }
  return top;
}

// The regular file `relativePath` below the open folder `folderFd`, each step taken without
// following a link: a link planted in a backup could otherwise lead anywhere.
std::optional<FileFacts> ownFactsBelow(int folderFd, std::string_view relativePath) {
  const std::size_t slash = relativePath.find('/');
  const std::string step(relativePath.substr(0, slash));
  if (step.empty() || step == "." || step == "..") return std::nullopt;
  if (slash == std::string_view::npos) {
    struct stat status;
    if (::fstatat(folderFd, step.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      return std::nullopt;
    }
    return FileFacts{static_cast<std::uint64_t>(status.st_size),
                     static_cast<std::int64_t>(status.st_mtim.tv_sec)};
  }
  const FileDescriptor subfolder(
      ::openat(folderFd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!subfolder.valid()) return std::nullopt;
  return ownFactsBelow(subfolder.get(), relativePath.substr(slash + 1));
}

}  // namespace

bool PosixFileSystem::folderExists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool PosixFileSystem::fileExists(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

void PosixFileSystem::createFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    throw errorFromErrno(errno, "Cannot create folder", path, true);
  }
}

void PosixFileSystem::deleteFile(const std::string& path, bool) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) throw errorFromErrno(errno, "Cannot delete", path);
  if (S_ISDIR(status.st_mode)) throw errorFromErrno(EISDIR, "Cannot delete", path);
  if (::unlink(path.c_str()) != 0) throw errorFromErrno(errno, "Cannot delete", path);
}

void PosixFileSystem::deleteFolder(const std::string& path, bool force) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) {
    throw errorFromErrno(errno, "Cannot delete folder", path, true);
  }
  if (S_ISLNK(status.st_mode)) {
    if (::unlink(path.c_str()) != 0) {
      throw errorFromErrno(errno, "Cannot delete folder", path, true);
    }
    return;
  }
  if (!S_ISDIR(status.st_mode)) throw errorFromErrno(ENOTDIR, "Cannot delete folder", path, true);
  removeFolderTree(AT_FDCWD, path, path, force);
}

void PosixFileSystem::renameFolder(const std::string& from, const std::string& to) {
  // RENAME_NOREPLACE: an empty folder of that name would otherwise be replaced without a word.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS)
    throw errorFromErrno(errno, "Cannot rename folder", from, true);
  // A file system without the flag: look first, as close to the rename as can be.
  struct stat status;
  if (::lstat(to.c_str(), &status) == 0)
    throw errorFromErrno(EEXIST, "Cannot rename folder", to, true);
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw errorFromErrno(errno, "Cannot rename folder", from, true);
  }
}

bool PosixFileSystem::exchangeFolders(const std::string& first, const std::string& second) {
  if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0) {
    return true;
  }
  if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return false;
  throw errorFromErrno(errno, "Cannot rename folder", first, true);
}

bool PosixFileSystem::copyFile(const std::string& source, const std::string& destinationFolder,
                               bool overwrite, const KeepGoing& keepGoing) {
  const std::string name = source.substr(source.find_last_of('/') + 1);
  if (name.empty())
    throw Error(errc::kBadFileName, "Cannot copy '" + shownName(source) + "': no file name");
  const std::string folder = destinationFolder.empty() || destinationFolder.back() != '/'
                                 ? destinationFolder + "/"
                                 : destinationFolder;
  const std::string target = folder + name;

  struct stat status;
  const FileDescriptor in = openSource(source, status);
  struct stat existing;
  if (!overwrite && ::lstat(target.c_str(), &existing) == 0) {
    throw errorFromErrno(EEXIST, "Cannot copy to", target);
  }
  PendingFile out(target, {.create = "Cannot write to folder",
                           .createNamesFolder = true,
                           .write = "Cannot write",
                           .replace = "Cannot write"});
  CopyPieces pieces(keepGoing);
  CopyEnd end = copyInKernel(in.get(), out, pieces);
  if (end == CopyEnd::kByReading) end = copyByReading(in.get(), out, copyBuffer_, pieces, source);
  // A stopped copy leaves nothing behind: `out` removes its temporary file.
  if (end == CopyEnd::kStopped) return false;
  keepTimesAndPermissions(out, status, target);
  out.commit();
  return true;
}

std::vector<FileEntry> PosixFileSystem::folderFiles(const std::string& path) {
  std::vector<FileEntry> files;
  visitFiles(path, false, [&files](std::string_view name, std::uint64_t size) {
    files.push_back({std::string(name), size});
  });
  return files;
}

std::vector<FileEntry> PosixFileSystem::treeFiles(const std::string& path) {
  std::vector<FileEntry> files;
  visitFiles(path, true, [&files](std::string_view name, std::uint64_t size) {
    files.push_back({std::string(name), size});
  });
  return files;
}

void PosixFileSystem::visitFiles(const std::string& path, bool wholeTree,
                                 const FileVisitor& visit) {
  Directory folder(AT_FDCWD, path, path, true);
  visitFolderFiles(folder, "", wholeTree, visit);
}

std::uint64_t PosixFileSystem::folderSize(const std::string& path) {
  Directory folder(AT_FDCWD, path, path, true);
  return sizeOfContents(folder);
}

// One syncfs of the whole file system rather than an fsync per file: a journal commit per
// file would cost more than the copies of small files themselves.
void PosixFileSystem::flushToDisk(const std::string& path) {
  const FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid() || ::syncfs(folder.get()) != 0) {
    throw errorFromErrno(errno, "Cannot write", path);
  }
}

DriveInfo PosixFileSystem::getDrive(const std::string& path) {
  const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr),
                                                          &::free);
  if (resolved == nullptr) throw driveError(path, errno);
  struct statvfs space;
  if (::statvfs(resolved.get(), &space) != 0) throw driveError(path, errno);
  std::string mountPoint = mountPointFromTable(resolved.get());
  if (mountPoint.empty()) mountPoint = mountPointByDevice(resolved.get());
  // The whole free space of the file system, blocks reserved for the superuser included.
  return DriveInfo{mountPoint, static_cast<std::uint64_t>(space.f_bfree) * space.f_frsize,
                   (space.f_flag & ST_RDONLY) != 0};
}

FolderContents PosixFileSystem::readFolder(const std::string& path) {
  Directory folder(AT_FDCWD, path, path, true);
  FolderContents contents;
  struct stat own;
  if (::fstat(folder.fd(), &own) != 0)
    throw errorFromErrno(errno, "Cannot read folder", path, true);
  contents.device = own.st_dev;
  contents.inode = own.st_ino;
  while (const dirent* entry = folder.next()) {
    struct stat target;
    if (isFolderEntry(folder, *entry)) {
      contents.folders.emplace_back(entry->d_name);
    } else if (isRegularTarget(folder, *entry, nullptr)) {
      contents.files.push_back(entry->d_name);
    } else if (::fstatat(folder.fd(), entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
      contents.folderLinks.emplace_back(entry->d_name);
    }
  }
  return contents;
}

std::optional<FileFacts> PosixFileSystem::fileFacts(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileFacts{static_cast<std::uint64_t>(status.st_size),
                   static_cast<std::int64_t>(status.st_mtim.tv_sec)};
}

std::optional<FileFacts> PosixFileSystem::ownFileFacts(const std::string& folder,
                                                       const std::string& relativePath) {
  const FileDescriptor top(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!top.valid()) return std::nullopt;
  return ownFactsBelow(top.get(), relativePath);
}

// link(2) never follows a symbolic link at `existing`: a backup holds regular files only, and
// the caller checked that one is there.
bool PosixFileSystem::linkFile(const std::string& existing, const std::string& newPath) {
  return ::link(existing.c_str(), newPath.c_str()) == 0;
}

std::unique_ptr<FileSystem> makeHostFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace quillfen
