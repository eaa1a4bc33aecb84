#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "common/posix_file.h"

namespace quillfen {

// A download in progress: a temporary file beside the final path (unnamed where the file system
// allows) that takes the place of the final file only when commit() is called. Until then an
// existing file of the final name stays untouched, and destroying the object removes the temporary
// file.
class PartialFile {
 public:
  // Error (from errno) when the temporary file cannot be created.
  explicit PartialFile(const std::string& finalPath);

  // False when the data could not be written; failure() then says why. The data arrives in a
  // libcurl callback, which must not throw. It is gathered into writes of about 1 MiB: libcurl
  // hands a download over in pieces of at most 16 KiB, one system call each if written at once.
  bool write(const char* data, std::size_t size);
  // Both write what is still gathered first. Error (from errno) when that fails.
  void setModificationTime(std::time_t seconds);
  // Closes the file and renames it to the final path. Error (from errno) when that fails.
  void commit();

  const std::string& failure() const { return failure_; }

 private:
  void writeGathered();

  PendingFile file_;
  std::string gathered_;
  std::string failure_;
};

}  // namespace quillfen
