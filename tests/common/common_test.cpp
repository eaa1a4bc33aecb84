#include <gtest/gtest.h>

#include "common/date.h"

namespace quillfen {
namespace {

TEST(DateTest, AddDaysCrossesMonthYearAndLeapDayBoundariesAndFolderNamesArePadded) {
  struct Step {
    Date from;
    int days;
    Date expected;
  };
  for (const Step& s :
       {Step{{2004, 3, 1}, -1, {2004, 2, 29}}, Step{{1900, 3, 1}, -1, {1900, 2, 28}},
        Step{{1970, 1, 1}, -1, {1969, 12, 31}}}) {
    EXPECT_EQ(addDays(s.from, s.days), s.expected) << formatYyyymmdd(s.from) << " " << s.days;
  }
  for (std::int64_t day = -200000; day <= 200000; day += 97) {
    EXPECT_EQ(daysFromCivil(civilFromDays(day)), day);
  }
  EXPECT_EQ(formatYyyymmdd({987, 1, 9}), "09870109") << "folder names are zero-padded";
}

}  // namespace
}  // namespace quillfen
