#include "run/unchanged_files.h"

#include <algorithm>

namespace quillfen {

namespace {

bool isDatedFolderName(const std::string& name) {
  return name.size() == 8 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Folder names "yyyymmdd" sort as their days do.
std::string previousBackup(FileSystem& fileSystem, const std::string& destinationFolder,
                           const std::string& todaysFolder) {
  const std::string todaysName = todaysFolder.substr(todaysFolder.find_last_of('/') + 1);
  const std::string folder = destinationFolder.empty() ? "/" : destinationFolder;
  std::string newest;
  for (const std::string& name : fileSystem.readFolder(folder).folders) {
    if (isDatedFolderName(name) && name < todaysName && name > newest) newest = name;
  }
  if (newest.empty()) return {};
  return destinationFolder + "/" + newest;
}

}  // namespace

UnchangedFiles::UnchangedFiles(FileSystem& fileSystem, const std::string& destinationFolder,
                               const std::string& todaysFolder)
    : fileSystem_(fileSystem),
      todaysFolder_(todaysFolder),
      previousFolder_(previousBackup(fileSystem, destinationFolder, todaysFolder)) {}

bool UnchangedFiles::linkIfUnchanged(const std::string& relativePath, const FileFacts& source) {
  if (previousFolder_.empty()) return false;
  const std::string previous = previousFolder_ + "/" + relativePath;
  if (fileSystem_.fileFacts(previous) != source) return false;
  if (!fileSystem_.linkFile(previous, todaysFolder_ + "/" + relativePath)) return false;
  ++linked_;
  return true;
}

std::string UnchangedFiles::reportLine() const {
  if (linked_ == 0) return {};
  return "Linked " + std::to_string(linked_) + " unchanged files from '" + previousFolder_ + "'\n";
}

}  // namespace quillfen
