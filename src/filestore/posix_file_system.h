#pragma once

#include <vector>

#include "filestore/file_system.h"

namespace quillfen {

// The file system object over the host's POSIX file system.
//
// Files are regular files, a symbolic link counting as what it points to; directories,
// devices, sockets and pipes never count as files. A drive is the mounted file system that
// holds a path, named by its mount point.
class PosixFileSystem : public FileSystem {
 public:
  bool folderExists(const std::string& path) override;
  bool fileExists(const std::string& path) override;
  void createFolder(const std::string& path) override;
  // A file's own permission bits never stop its removal here, so `force` changes nothing.
  void deleteFile(const std::string& path, bool force) override;
  // A symbolic link is removed itself, never what it points to. With `force`, folders that
  // deny their owner access are opened up first so that nothing stops the removal.
  void deleteFolder(const std::string& path, bool force) override;
  // Writes a temporary file in the destination folder and renames it over the final name only
  // when the copy is complete, keeping the source's modification time and permission bits.
  // `keepGoing` is asked once for every 8 MiB copied.
  void renameFolder(const std::string& from, const std::string& to) override;
  bool exchangeFolders(const std::string& first, const std::string& second) override;
  bool copyFile(const std::string& source, const std::string& destinationFolder, bool overwrite,
                const KeepGoing& keepGoing) override;
  std::vector<FileEntry> folderFiles(const std::string& path) override;
  // Links to folders are not entered: they could lead out of the tree or round in a loop.
  std::vector<FileEntry> treeFiles(const std::string& path) override;
  void visitFiles(const std::string& path, bool wholeTree, const FileVisitor& visit) override;
  std::uint64_t folderSize(const std::string& path) override;
  void flushToDisk(const std::string& path) override;
  DriveInfo getDrive(const std::string& path) override;
  FolderContents readFolder(const std::string& path) override;
  std::optional<FileFacts> fileFacts(const std::string& path) override;
  std::optional<FileFacts> ownFileFacts(const std::string& folder,
                                        const std::string& relativePath) override;
  bool linkFile(const std::string& existing, const std::string& newPath) override;

 private:
  std::vector<char> copyBuffer_;  // for copies the kernel cannot do by itself
};

}  // namespace quillfen
