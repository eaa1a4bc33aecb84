#include <gtest/gtest.h>

#include <cerrno>

#include "common/date.h"
#include "common/error.h"

namespace quillfen {
namespace {

TEST(DateTest, AddDaysCrossesMonthYearAndLeapDayBoundariesAndFolderNamesArePadded) {
  struct Step {
    Date from;
    int days;
    Date expected;
  };
  for (const Step& s :
       {Step{{2004, 3, 1}, -1, {2004, 2, 29}}, Step{{2000, 3, 1}, -1, {2000, 2, 29}},
        Step{{1900, 3, 1}, -1, {1900, 2, 28}}, Step{{2027, 1, 1}, -1, {2026, 12, 31}},
        Step{{2003, 10, 5}, -50, {2003, 8, 16}}, Step{{1970, 1, 1}, -1, {1969, 12, 31}}}) {
    EXPECT_EQ(addDays(s.from, s.days), s.expected) << formatYyyymmdd(s.from) << " " << s.days;
  }
  for (std::int64_t day = -200000; day <= 200000; day += 97) {
    EXPECT_EQ(daysFromCivil(civilFromDays(day)), day);
  }
  EXPECT_EQ(formatYyyymmdd({987, 1, 9}), "09870109") << "folder names are zero-padded";
}

TEST(ErrorTest, ErrnoMapsToTheDocumentedNumbersAndNamesThePath) {
  struct Case {
    int errnoValue;
    bool isFolder;
    int number;
  };
  for (const Case& c :
       {Case{ENOENT, false, errc::kFileNotFound}, Case{ENOENT, true, errc::kPathNotFound},
        Case{EACCES, false, errc::kPermissionDenied}, Case{EROFS, true, errc::kPermissionDenied},
        Case{ENOSPC, false, errc::kDiskFull}, Case{EBUSY, false, errc::kPathFileAccess}}) {
    const Error error = errorFromErrno(c.errnoValue, "Cannot copy", "/srv/a b", c.isFolder);
    EXPECT_EQ(error.number(), c.number) << c.errnoValue;
    EXPECT_NE(error.description().find("Cannot copy '/srv/a b': "), std::string::npos);
  }
}

}  // namespace
}  // namespace quillfen
