#include "common/date.h"

#include <gtest/gtest.h>

namespace quillfen {
namespace {

struct DayStep {
  Date from;
  int days;
  Date expected;
};

class AddDaysTest : public ::testing::TestWithParam<DayStep> {};

TEST_P(AddDaysTest, CrossesMonthYearAndLeapDayBoundaries) {
  const DayStep& step = GetParam();
  EXPECT_EQ(addDays(step.from, step.days), step.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calendar, AddDaysTest,
    ::testing::Values(DayStep{{2003, 10, 5}, -30, {2003, 9, 5}},
                      DayStep{{2003, 10, 5}, -50, {2003, 8, 16}},
                      DayStep{{2004, 3, 1}, -1, {2004, 2, 29}},    // leap year
                      DayStep{{2003, 3, 1}, -1, {2003, 2, 28}},    // common year
                      DayStep{{2000, 3, 1}, -1, {2000, 2, 29}},    // divisible by 400
                      DayStep{{1900, 3, 1}, -1, {1900, 2, 28}},    // divisible by 100 only
                      DayStep{{2027, 1, 1}, -1, {2026, 12, 31}},   // year boundary
                      DayStep{{2024, 12, 31}, -365, {2024, 1, 1}}, // across 29 February
                      DayStep{{1970, 1, 1}, -1, {1969, 12, 31}},
                      DayStep{{2026, 12, 7}, 0, {2026, 12, 7}}));

TEST(DateTest, DayNumbersRoundTripOverFourCenturies) {
  for (std::int64_t day = -200000; day <= 200000; day += 97) {
    EXPECT_EQ(daysFromCivil(civilFromDays(day)), day);
  }
}

TEST(DateTest, FolderNameIsZeroPaddedYyyymmdd) {
  EXPECT_EQ(formatYyyymmdd({2003, 10, 5}), "20031005");
  EXPECT_EQ(formatYyyymmdd({987, 1, 9}), "09870109");
}

}  // namespace
}  // namespace quillfen
