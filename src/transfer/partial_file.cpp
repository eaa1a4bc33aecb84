#include "transfer/partial_file.h"

#include "common/error.h"

namespace quillfen {

PartialFile::PartialFile(const std::string& finalPath)
    : file_(finalPath, {.create = "Cannot create a file beside",
                        .write = "Cannot write",
                        .replace = "Cannot replace"}) {
  file_.setUsualPermissions();
}

bool PartialFile::write(const char* data, std::size_t size) {
  try {
    file_.write({data, size});
    return true;
  } catch (const Error& error) {
    failure_ = error.description();
    return false;
  }
}

}  // namespace quillfen
