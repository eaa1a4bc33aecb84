#include "transfer/partial_file.h"

#include <sys/stat.h>

#include "common/error.h"

namespace quillfen {

namespace {

// The mode any new file of this process would get: a download is no more private than the
// files the user makes.
mode_t usualMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

PartialFile::PartialFile(const std::string& finalPath)
    : file_(finalPath, {.create = "Cannot create a file beside",
                        .write = "Cannot write",
                        .replace = "Cannot replace"}) {
  file_.setPermissions(usualMode());
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
