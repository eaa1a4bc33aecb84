#include "common/error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace quillfen {
namespace {

TEST(ErrorTest, ErrnoMapsToTheDocumentedNumbersAndNamesThePath) {
  struct Case {
    int errnoValue;
    bool isFolder;
    int number;
  };
  for (const Case& c : {Case{ENOENT, false, errc::kFileNotFound},
                        Case{ENOENT, true, errc::kPathNotFound},
                        Case{EACCES, false, errc::kPermissionDenied},
                        Case{EROFS, true, errc::kPermissionDenied},
                        Case{ENOSPC, false, errc::kDiskFull},
                        Case{EBUSY, false, errc::kPathFileAccess}}) {
    const Error error = errorFromErrno(c.errnoValue, "Cannot copy", "/srv/a b", c.isFolder);
    EXPECT_EQ(error.number(), c.number) << c.errnoValue;
    EXPECT_NE(error.description().find("Cannot copy '/srv/a b': "), std::string::npos);
  }
}

}  // namespace
}  // namespace quillfen
