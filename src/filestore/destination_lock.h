#pragma once

#include <string>

#include "common/posix_file.h"

namespace quillfen {

// One run per destination at a time: an exclusive lock on the file ".quillfen.lock" directly in
// the destination folder, held for the lifetime of the object. The system releases it when its
// holder dies, so a crashed run never blocks the next one. The file holds the holder's process
// number, for the message of a run that finds the lock taken.
class DestinationLock {
 public:
  static constexpr const char* kFileName = ".quillfen.lock";

  // Throws Error(errc::kDestinationInUse) naming the other run's process when another run holds
  // the lock. A destination folder that does not exist is not locked: making today's folder in
  // it reports that.
  explicit DestinationLock(const std::string& destinationFolder);

 private:
  FileDescriptor file_;
};

}  // namespace quillfen
