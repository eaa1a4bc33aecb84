#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Owns one open file descriptor and closes it when destroyed.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and tells how it went: some write errors surface only here (NFS, quotas).
  int close() noexcept;

 private:
  int fd_;
};

// A file written beside its target that takes the target's name only by commit(): until then a
// file of that name stays untouched, and destroying the object leaves nothing behind. Where the
// file system offers it (Linux: O_TMPFILE) the file has no name at all until commit(), so that
// not even a crash leaves it behind; elsewhere it has a hidden temporary name in the target's
// folder. The file starts readable and writable by its owner only (on Windows: by its owner,
// SYSTEM and the Administrators, none of the folder's access rules inherited). Every failure is
// thrown as an Error (errorFromErrno) that begins with the caller's words for the step that
// failed.
class PendingFile {
 public:
  // The words that open each failure; the quoted path and the system's reason follow. Each
  // user keeps the wording, and so the error numbers, that its own reports always had.
  struct Wording {
    std::string_view create;         // the temporary file cannot be made; names the target...
    bool createNamesFolder = false;  // ...or, when set, the target's folder as a folder
    std::string_view write;          // writing, permissions, flushing, closing; names the target
    std::string_view replace;        // taking the target's name; names the target
  };

  // The words of `wording` must outlive the object (string literals do).
  PendingFile(std::string target, Wording wording);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const noexcept { return file_.get(); }
  void write(std::string_view data);
  // Counts `bytes` written straight to fd() (a copy made by the kernel) as write() counts its
  // own: each few MiB completed start their way to the disk while the next ones are written.
  void appended(std::size_t bytes);
  void setPermissions(unsigned mode);
  // Gives the file the permissions any new file of this process gets (0666 less the umask):
  // a download is no more private than the files the user makes.
  void setUsualPermissions();
  // Gives the file the permissions of the file at `path`; nothing when that is gone.
  void keepPermissionsOf(const std::string& path);
  // The time the file was last changed (seconds since 1970); its last access is now.
  void setModificationTime(time_t seconds);
  // Waits until the data is on the disk, so that a crash after commit() cannot leave the
  // target empty.
  void flushToDisk();
  // Closes the file and gives it the target's name, replacing whatever has that name.
  void commit();
  // Closes the file and gives it the target's name only when nothing has that name, not even
  // a dangling link: an Error numbered kFileExists otherwise.
  void commitWithoutReplacing();

 private:
  void close();
  void commitUnnamed(bool replace);
  void nameHidden();

  std::string target_;
  Wording wording_;
  std::string path_;  // the hidden temporary name; empty while the file has no name
  FileDescriptor file_;
  bool committed_ = false;
  int signalSlot_ = -1;  // where removeTemporaryFilesNow finds path_
  std::uint64_t written_ = 0;
  std::uint64_t sentToDisk_ = 0;  // the bytes before this were handed to the disk's queue
};

// False makes every PendingFile made afterwards take a hidden temporary name, as on a file
// system without unnamed files (NFS, CIFS): tests run both ways through this. True by default.
void offerUnnamedTemporaryFiles(bool offered) noexcept;

// The file at `path`, read to its end or until more than `limit` bytes are read (a caller then
// sees a larger file as larger than `limit` without reading it all), or nothing when nothing is
// there (also a link to nothing). Something that is not a regular file is refused at once
// without blocking: a FIFO would block the reader until some writer comes, a device could feed
// it without end. Failures are thrown as Error, the refusal with the number kPathFileAccess; each
// begins with `what`.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t limit,
                                           std::string_view what);

// Removes every temporary file of a PendingFile that exists right now, with async-signal-safe
// calls only: for a signal handler that ends the process at once, so that no hidden file is
// left behind. Removing a name that was committed meanwhile does nothing: it no longer exists.
// A file without a name needs nothing: the system frees it when the process ends.
void removeTemporaryFilesNow() noexcept;

}  // namespace quillfen
