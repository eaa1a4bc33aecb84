#pragma once

#include <string>
#include <vector>

#include "filestore/file_system.h"

namespace quillfen {

// The name the free-space line gives the drive of `path`: the drive letter alone for "D:\..."
// (the first character, as that line has always shown it), the share "\\server\share" for a
// UNC path written with either slash, and the first character of anything else.
std::string driveNameOf(const std::string& path);

// The file system object over Windows' own calls, every name passed to them in UTF-16.
//
// Files are regular files, a symbolic link to one counting as what it points to. A reparse
// point on a folder (a junction or a symbolic link) is a link: never entered nor followed by a
// walk, and deleting it removes the link only. A drive is a volume or a share.
class WindowsFileSystem : public FileSystem {
 public:
  bool folderExists(const std::string& path) override;
  bool fileExists(const std::string& path) override;
  void createFolder(const std::string& path) override;
  // Without `force` a read-only file is refused, as Windows refuses it; with it the attribute is
  // cleared first.
  void deleteFile(const std::string& path, bool force) override;
  // With `force`, read-only files and folders inside are removed too.
  void deleteFolder(const std::string& path, bool force) override;
  void renameFolder(const std::string& from, const std::string& to) override;
  // Windows has no swap of two names in one step.
  bool exchangeFolders(const std::string& first, const std::string& second) override;
  // Writes a temporary file in the destination folder and renames it over the final name only
  // when the copy is complete, keeping the source's modification time; attributes such as
  // read-only are not carried over, so that the next copy can replace the file. `keepGoing` is
  // asked once for every 8 MiB copied.
  bool copyFile(const std::string& source, const std::string& destinationFolder, bool overwrite,
                const KeepGoing& keepGoing) override;
  std::vector<FileEntry> folderFiles(const std::string& path) override;
  std::vector<FileEntry> treeFiles(const std::string& path) override;
  std::uint64_t folderSize(const std::string& path) override;
  // Flushes every file of the tree at `path` in turn: a whole volume can be flushed only by an
  // administrator.
  void flushToDisk(const std::string& path) override;
  // The drive named by driveNameOf, with the free space of the whole volume or share.
  DriveInfo getDrive(const std::string& path) override;
  // The folder's identity is its volume's serial number and its file index.
  FolderContents readFolder(const std::string& path) override;
  std::optional<FileFacts> fileFacts(const std::string& path) override;
  std::optional<FileFacts> ownFileFacts(const std::string& folder,
                                        const std::string& relativePath) override;
  // An NTFS hard link (CreateHardLinkW).
  bool linkFile(const std::string& existing, const std::string& newPath) override;

 private:
  std::vector<char> copyBuffer_;
};

}  // namespace quillfen
