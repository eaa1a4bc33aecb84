#pragma once

#include <cstddef>
#include <string>

#include "filestore/file_system.h"

namespace quillfen {

// Folders below the source are entered down to this depth; deeper ones are left out and
// reported, so that no tree, however made, can exhaust the run.
inline constexpr int kDeepestSubfolder = 64;

// The previous backup, and the hard links into today's folder from it for the files of the
// source that did not change since. Nothing in the previous backup is ever changed: a link only
// gives its file one more name.
class UnchangedFiles {
 public:
  // The previous backup is the newest dated folder ("yyyymmdd") under `destinationFolder`
  // older than today's; there may be none.
  UnchangedFiles(FileSystem& fileSystem, const std::string& destinationFolder,
                 const std::string& todaysFolder);

  // Links today's `relativePath` to the previous backup's file of that path when it has the
  // size and modification time (to the second) of the source file `source`. False when it has
  // not, or when the link cannot be made: the caller then fetches the file as usual.
  bool linkIfUnchanged(const std::string& relativePath, const FileFacts& source);

  // "Linked K unchanged files from 'PATH'" and LF, or nothing when no file was linked.
  std::string reportLine() const;

 private:
  FileSystem& fileSystem_;
  std::string todaysFolder_;
  std::string previousFolder_;  // empty: there is no previous backup
  std::size_t linked_ = 0;
};

}  // namespace quillfen
