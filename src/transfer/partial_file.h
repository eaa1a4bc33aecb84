#pragma once

#include <cstddef>
#include <string>

namespace quillfen {

// A download in progress: a hidden temporary file beside the final path that takes the place
// of the final file only when commit() is called. Until then an existing file of the final
// name stays untouched, and destroying the object removes the temporary file.
class PartialFile {
 public:
  // Error (from errno) when the temporary file cannot be created.
  explicit PartialFile(std::string finalPath);
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // False when the data could not be written; failure() then says why.
  bool write(const char* data, std::size_t size);
  // Closes the file and renames it to the final path. Error (from errno) when that fails.
  void commit();

  const std::string& finalPath() const { return finalPath_; }
  const std::string& failure() const { return failure_; }

 private:
  void discard() noexcept;

  std::string finalPath_;
  std::string tempPath_;
  int fd_ = -1;
  std::string failure_;
};

}  // namespace quillfen
