#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/name_list.h"

namespace quillfen {

// A copy that failed on its source file (gone, unreadable, no longer a regular file): only that
// one file is lost, so a caller may go on with the next. A failure on the destination side is a
// plain Error: it would stop every later copy too.
class SourceFileError : public Error {
 public:
  explicit SourceFileError(const Error& error) : Error(error) {}
};

// Asked now and then during long work, which goes on only while it answers true. It may do
// other work meanwhile, such as handling the user's input.
using KeepGoing = std::function<bool()>;

struct FileEntry {
  std::string name;  // without path
  std::uint64_t size = 0;
};

// Handed each file of a listing in turn: its name, as FileEntry's, and its size.
using FileVisitor = std::function<void(std::string_view name, std::uint64_t size)>;

// What one folder holds, as a walk through a tree needs it.
struct FolderContents {
  NameList files;                        // regular files and links to them
  std::vector<std::string> folders;      // real folders; a link to one is never among them
  std::vector<std::string> folderLinks;  // links to folders, which a walk does not enter
  std::uint64_t device = 0;              // with `inode`, the identity of the folder itself
  std::uint64_t inode = 0;
};

// What tells an unchanged file: its size and its modification time in whole seconds.
struct FileFacts {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since 1970, UTC

  bool operator==(const FileFacts&) const = default;
};

struct DriveInfo {
  std::string letter;           // the mount point of the file system, e.g. "/" or "/mnt/backup"
  std::uint64_t freeSpace = 0;  // bytes free on the file system (not the unprivileged share)
  bool readOnly = false;        // mounted read-only where `path` lies (a read-only bind too)
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
  // Gives the folder `from` the name `to`, where nothing may be yet.
  virtual void renameFolder(const std::string& from, const std::string& to) = 0;
  // Swaps the names of two folders in one step, so that no moment sees either name missing.
  // False when the file system cannot (some network file systems): nothing was changed then.
  virtual bool exchangeFolders(const std::string& first, const std::string& second) = 0;
  // Copies `source` into `destinationFolder` (which ends in "/") under its own name. A failed
  // copy leaves no partial file under that name and keeps a file already there; a failure to
  // open or read the source is thrown as a SourceFileError. A long copy asks `keepGoing`
  // between its pieces whether to go on; when it says no, the copy ends as a failed one would,
  // but quietly: false is returned.
  virtual bool copyFile(const std::string& source, const std::string& destinationFolder,
                        bool overwrite, const KeepGoing& keepGoing) = 0;
  // The files directly in `path`, hidden ones included, in enumeration order
  // (GetFolder(...).Files).
  virtual std::vector<FileEntry> folderFiles(const std::string& path) = 0;
  // The files of the whole tree under `path`, named by their path relative to it
  // ("sub/dir/name"); the files directly in `path` come first, then each subfolder's.
  virtual std::vector<FileEntry> treeFiles(const std::string& path) = 0;
  // The files folderFiles (with `wholeTree`: treeFiles) lists, handed one by one to `visit`
  // rather than gathered, so that a folder of a million files is listed in little memory.
  virtual void visitFiles(const std::string& path, bool wholeTree, const FileVisitor& visit) {
    for (const FileEntry& file : wholeTree ? treeFiles(path) : folderFiles(path))
      visit(file.name, file.size);
  }
  // Everything in `path`, subfolders included, in bytes (GetFolder(...).Size).
  virtual std::uint64_t folderSize(const std::string& path) = 0;
  // Waits until everything written to the file system that holds `path` is on its disk.
  virtual void flushToDisk(const std::string& path) = 0;
  // The file system that holds `path` (GetDrive).
  virtual DriveInfo getDrive(const std::string& path) = 0;
  // The entries of the folder `path` (links to it followed), "." and ".." left out.
  virtual FolderContents readFolder(const std::string& path) = 0;
  // The size and time of the regular file at `path` (a link followed); nothing when no
  // regular file is there.
  virtual std::optional<FileFacts> fileFacts(const std::string& path) = 0;
  // The size and time of the regular file `relativePath` below `folder`, reached without
  // following a symbolic link at any step below `folder`; nothing when no such file is there.
  virtual std::optional<FileFacts> ownFileFacts(const std::string& folder,
                                                const std::string& relativePath) = 0;
  // Makes `newPath` a second name of the file `existing` (a hard link), which changes nothing
  // in that file. False when the link cannot be made: another file system, too many links, no
  // permission, or no such file.
  virtual bool linkFile(const std::string& existing, const std::string& newPath) = 0;
};

// The file system of the host the program runs on.
std::unique_ptr<FileSystem> makeHostFileSystem();

}  // namespace quillfen
