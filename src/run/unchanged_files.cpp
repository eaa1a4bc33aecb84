#include "run/unchanged_files.h"

#include <algorithm>
#include <utility>

#include "common/path_limits.h"

namespace quillfen {

namespace {

bool isDatedFolderName(const std::string& name) {
  return name.size() == 8 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// Folder names "yyyymmdd" sort as their days do. Only real folders count: a link in the
// destination could point anywhere.
std::string LatestBackup(FileSystem& fileSystem, const std::string& destinationFolder,
                         const std::string& todaysFolder) {
  const std::string todaysName =
      todaysFolder.substr(todaysFolder.find_last_of(folderSeparator()) + 1);
  const std::string folder =
      destinationFolder.empty() ? std::string(1, folderSeparator()) : destinationFolder;
  std::string newest;
  for (const std::string& name : fileSystem.readFolder(folder).folders) {
    if (isDatedFolderName(name) && name <= todaysName && name > newest) newest = name;
  }
  if (newest.empty()) return {};
  return destinationFolder + folderSeparator() + newest;
}

UnchangedFiles::UnchangedFiles(FileSystem& fileSystem, std::string previousFolder,
                               std::string targetFolder)
    : fileSystem_(fileSystem),
      targetFolder_(std::move(targetFolder)),
      previousFolder_(std::move(previousFolder)) {}

bool UnchangedFiles::isUnchanged(const std::string& relativePath, const FileFacts& source) const {
  return !previousFolder_.empty() &&
         fileSystem_.ownFileFacts(previousFolder_, relativePath) == source;
}

bool UnchangedFiles::linkIfUnchanged(const std::string& relativePath, const FileFacts& source) {
  if (!isUnchanged(relativePath, source)) return false;
  if (!fileSystem_.linkFile(previousFolder_ + folderSeparator() + relativePath,
                            targetFolder_ + folderSeparator() + relativePath)) {
    return false;
  }
  ++linked_;
  return true;
}

std::string UnchangedFiles::reportLine() const {
  if (linked_ == 0) return {};
  return "Linked " + std::to_string(linked_) + " unchanged files from '" + previousFolder_ + "'\n";
}

}  // namespace quillfen
