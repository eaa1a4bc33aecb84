#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/error.h"

namespace quillfen {

// A copy that failed on its source file (gone, unreadable, no longer a regular file): only that
// one file is lost, so a caller may go on with the next. A failure on the destination side is a
// plain Error: it would stop every later copy too.
class SourceFileError : public Error {
 public:
  explicit SourceFileError(const Error& error) : Error(error) {}
};

struct FileEntry {
  std::string name;  // without path
  std::uint64_t size = 0;
};

struct DriveInfo {
  std::string letter;           // the mount point of the file system, e.g. "/" or "/mnt/backup"
  std::uint64_t freeSpace = 0;  // bytes free on the file system (not the unprivileged share)
};

// The file system object: every folder and file operation of the program goes through it.
// Every failure is thrown as an Error from the common table.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual bool folderExists(const std::string& path) = 0;
  virtual bool fileExists(const std::string& path) = 0;
  virtual void createFolder(const std::string& path) = 0;  // the parent must exist
  // `force`: read-only entries are removed too.
  virtual void deleteFile(const std::string& path, bool force) = 0;
  virtual void deleteFolder(const std::string& path, bool force) = 0;  // with all its contents
  // Copies `source` into `destinationFolder` (which ends in "/") under its own name. A failed
  // copy leaves no partial file under that name and keeps a file already there; a failure to
  // open or read the source is thrown as a SourceFileError.
  virtual void copyFile(const std::string& source, const std::string& destinationFolder,
                        bool overwrite) = 0;
  // The files directly in `path`, hidden ones included, in enumeration order
  // (GetFolder(...).Files).
  virtual std::vector<FileEntry> folderFiles(const std::string& path) = 0;
  // Everything in `path`, subfolders included, in bytes (GetFolder(...).Size).
  virtual std::uint64_t folderSize(const std::string& path) = 0;
  // Waits until everything written to the file system that holds `path` is on its disk.
  virtual void flushToDisk(const std::string& path) = 0;
  // The file system that holds `path` (GetDrive).
  virtual DriveInfo getDrive(const std::string& path) = 0;
  // Directory search with normal attributes: calls `visit` with each plain file name directly
  // in `folder` (regular files and links to them, names starting with "." included; folders,
  // devices, pipes and sockets left out) until it returns false.
  virtual void searchPlainFiles(const std::string& folder,
                                const std::function<bool(const std::string& name)>& visit) = 0;
};

}  // namespace quillfen
