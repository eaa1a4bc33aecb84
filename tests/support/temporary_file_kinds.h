#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/posix_file.h"

namespace quillfen::test {

// The two ways a pending file is made: without a name where the file system allows, and under
// a hidden name where it does not (NFS, CIFS; the only way on Windows). A table of tests over
// kTemporaryFileKinds runs each case both ways, on Windows the one way it has.
#ifdef _WIN32
inline const auto kTemporaryFileKinds = ::testing::Values(false);
#else
inline const auto kTemporaryFileKinds = ::testing::Values(true, false);
#endif

inline std::string temporaryFileKindName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Unnamed" : "HiddenName";
}

// Makes the pending files of its lifetime unnamed where possible, or hidden-named always.
struct TemporaryFileKind {
  explicit TemporaryFileKind(bool unnamed) { offerUnnamedTemporaryFiles(unnamed); }
  ~TemporaryFileKind() { offerUnnamedTemporaryFiles(true); }
  TemporaryFileKind(const TemporaryFileKind&) = delete;
  TemporaryFileKind& operator=(const TemporaryFileKind&) = delete;
};

}  // namespace quillfen::test
