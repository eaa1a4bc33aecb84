#include "transfer/partial_file.h"

#include <new>

#include "common/error.h"

namespace quillfen {
namespace {

constexpr std::size_t kGatheredWrite = std::size_t{1} << 20;

}  // namespace

PartialFile::PartialFile(const std::string& finalPath)
    : file_(finalPath, {.create = "Cannot create a file beside",
                        .write = "Cannot write",
                        .replace = "Cannot replace"}) {
  file_.setUsualPermissions();
}

bool PartialFile::write(const char* data, std::size_t size) {
  try {
    gathered_.append(data, size);
    if (gathered_.size() >= kGatheredWrite) writeGathered();
    return true;
  } catch (const Error& error) {
    failure_ = error.description();
    return false;
  } catch (const std::bad_alloc&) {
    failure_ = "Out of memory";
    return false;
  }
}

void PartialFile::setModificationTime(std::time_t seconds) {
  writeGathered();
  file_.setModificationTime(seconds);
}

void PartialFile::commit() {
  writeGathered();
  file_.commit();
}

void PartialFile::writeGathered() {
  file_.write(gathered_);
  gathered_.clear();
}

}  // namespace quillfen
