#include "config/whole_number.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/error.h"

namespace quillfen {
namespace {

using ::testing::HasSubstr;

TEST(WholeNumberSettingTest, AcceptsDecimalNumbersAndRoundsHalvesToEven) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  for (const Case& c :
       {Case{"0", 0}, Case{"  42\t", 42}, Case{"+5", 5}, Case{"-5", -5}, Case{"007", 7},
        Case{"2.5", 2}, Case{"3.5", 4}, Case{"-2.5", -2}, Case{"-3.5", -4},
        Case{"2.50000000000000000001", 3}, Case{"2.4999", 2}, Case{".5", 0}, Case{"1.", 1},
        Case{"2147483647", 2147483647}, Case{"-2147483648", INT32_MIN},
        Case{"2147483646.5", 2147483646}, Case{"-2147483648.5", INT32_MIN}}) {
    EXPECT_EQ(wholeNumberSetting("MailPort", c.text), c.value) << c.text;
  }
}

TEST(WholeNumberSettingTest, RefusesWhatIsNoNumberOrDoesNotFitWithKeyAndValueNamed) {
  struct Case {
    const char* text;
    int number;
  };
  for (const Case& c : {Case{"", errc::kTypeMismatch}, Case{"  ", errc::kTypeMismatch},
                        Case{"abc", errc::kTypeMismatch}, Case{"1e3", errc::kTypeMismatch},
                        Case{"0x10", errc::kTypeMismatch}, Case{"&H10", errc::kTypeMismatch},
                        Case{"1,000", errc::kTypeMismatch}, Case{"- 5", errc::kTypeMismatch},
                        Case{"5 5", errc::kTypeMismatch}, Case{".", errc::kTypeMismatch},
                        Case{"+", errc::kTypeMismatch}, Case{"1.2.3", errc::kTypeMismatch},
                        Case{"12abc", errc::kTypeMismatch}, Case{"2147483648", errc::kOverflow},
                        Case{"-2147483649", errc::kOverflow}, Case{"2147483647.5", errc::kOverflow},
                        Case{"99999999999999999999999", errc::kOverflow}}) {
    try {
      wholeNumberSetting("DaysTillExpiration", c.text);
      ADD_FAILURE() << "accepted '" << c.text << "'";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), c.number) << c.text;
      EXPECT_THAT(error.description(), HasSubstr("DaysTillExpiration")) << c.text;
      EXPECT_THAT(error.description(), HasSubstr("'" + std::string(c.text) + "'"));
    }
  }
}

}  // namespace
}  // namespace quillfen
