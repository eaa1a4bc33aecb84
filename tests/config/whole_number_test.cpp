#include "config/whole_number.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/error.h"

namespace quillfen {
namespace {

using ::testing::HasSubstr;
using ::testing::Property;

TEST(WholeNumberSettingTest, AcceptsDecimalNumbersAndRoundsHalvesToEven) {
  using In = std::pair<const char*, std::int32_t>;
  for (const auto& [text, value] :
       {In{"0", 0}, In{"  42\t", 42}, In{"+5", 5}, In{"-5", -5}, In{"007", 7}, In{"2.5", 2},
        In{"3.5", 4}, In{"-2.5", -2}, In{"-3.5", -4}, In{"2.50000000000000000001", 3},
        In{"2.4999", 2}, In{".5", 0}, In{"1.", 1}, In{"2147483647", INT32_MAX},
        In{"-2147483648", INT32_MIN}, In{"2147483646.5", 2147483646},
        In{"-2147483648.5", INT32_MIN}}) {
    EXPECT_EQ(wholeNumberSetting("MailPort", text), value) << text;
  }
}

TEST(WholeNumberSettingTest, RefusesWhatIsNoNumberOrDoesNotFitWithKeyAndValueNamed) {
  const auto expectRefused = [](const std::string& text, int number) {
    EXPECT_THAT([&] { wholeNumberSetting("DaysTillExpiration", text); },
                ::testing::Throws<Error>(
                    ::testing::AllOf(Property(&Error::number, number),
                                     Property(&Error::description, HasSubstr("DaysTillExpiration")),
                                     Property(&Error::description, HasSubstr("'" + text + "'")))))
        << text;
  };
  for (const char* text : {"", "  ", "abc", "1e3", "0x10", "&H10", "1,000", "- 5", "5 5", ".", "+",
                           "1.2.3", "12abc"}) {
    expectRefused(text, errc::kTypeMismatch);
  }
  for (const char* text :
       {"2147483648", "-2147483649", "2147483647.5", "99999999999999999999999"}) {
    expectRefused(text, errc::kOverflow);
  }
}

}  // namespace
}  // namespace quillfen
