#pragma once

#include <cstddef>

#include "filestore/file_system.h"

namespace quillfen {

// Counts the bytes of a copy and asks the caller once per piece of 8 MiB whether to go on:
// often enough that a cancel is felt at once, rarely enough that asking costs nothing.
class CopyPieces {
 public:
  static constexpr std::size_t kPiece = std::size_t{8} << 20;

  explicit CopyPieces(const KeepGoing& keepGoing) : keepGoing_(keepGoing) {}

  // False when the copy must stop.
  bool copied(std::size_t bytes) {
    sinceAsked_ += bytes;
    if (sinceAsked_ < kPiece) return true;
    sinceAsked_ = 0;
    return keepGoing_();
  }

 private:
  const KeepGoing& keepGoing_;
  std::size_t sinceAsked_ = 0;
};

}  // namespace quillfen
