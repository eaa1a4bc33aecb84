#pragma once

#include <cstddef>
#include <string>

#include "filestore/file_system.h"

namespace quillfen {

// The backup that unchanged files are linked from: today's folder when an earlier run of today
// left one, otherwise the newest dated folder ("yyyymmdd") under `destinationFolder` older than
// today's. Empty when there is none.
std::string LatestBackup(FileSystem& fileSystem, const std::string& destinationFolder,
                         const std::string& todaysFolder);

// Folders below the source are entered down to this depth; deeper ones are left out and
// reported, so that no tree, however made, can exhaust the run.
inline constexpr int kDeepestSubfolder = 64;

// The previous backup, and the hard links into today's folder from it for the files of the
// source that did not change since. Nothing in the previous backup is ever changed: a link only
// gives its file one more name.
class UnchangedFiles {
 public:
  // Links go from `previousFolder` (empty: there is no previous backup) into `targetFolder`,
  // the folder the fetch fills.
  UnchangedFiles(FileSystem& fileSystem, std::string previousFolder, std::string targetFolder);

  // Links the target's `relativePath` to the previous backup's file of that path when it has
  // the size and modification time (to the second) of the source file `source`. Only a regular
  // file reached without following a link counts: a link planted in the previous backup could
  // make "the backup" a name of a live file elsewhere. False when there is no such file or the
  // link cannot be made: the caller then fetches the file as usual.
  bool linkIfUnchanged(const std::string& relativePath, const FileFacts& source);
  // Whether linkIfUnchanged would try to link: the previous backup holds such a file.
  bool isUnchanged(const std::string& relativePath, const FileFacts& source) const;

  // "Linked K unchanged files from 'PATH'" and LF, or nothing when no file was linked.
  std::string reportLine() const;

 private:
  FileSystem& fileSystem_;
  std::string targetFolder_;
  std::string previousFolder_;  // empty: there is no previous backup
  std::size_t linked_ = 0;
};

}  // namespace quillfen
