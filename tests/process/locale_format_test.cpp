#include "process/locale_format.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace quillfen {
namespace {

TEST(LocaleFormatTest, PosixGeneralDateTimeIsTheUsForm) {
  const LocaleFormat format = LocaleFormat::posix();
  EXPECT_EQ(format.generalDateTime({{2003, 10, 5}, 2, 15, 3}), "10/5/2003 2:15:03 AM");
  EXPECT_EQ(format.generalDateTime({{2003, 12, 5}, 21, 7, 33}), "12/5/2003 9:07:33 PM");
  EXPECT_EQ(format.generalDateTime({{2003, 1, 1}, 0, 0, 0}), "1/1/2003 12:00:00 AM");
  EXPECT_EQ(format.generalDateTime({{2003, 1, 1}, 12, 0, 0}), "1/1/2003 12:00:00 PM");
}

TEST(LocaleFormatTest, MailTimeUsesTwoDigitFieldsAndTheTwelveHourClock) {
  const LocaleFormat format = LocaleFormat::posix();
  EXPECT_EQ(format.mailTime({{2003, 12, 5}, 0, 5, 0}), "12/05/03 12:05 AM");
  EXPECT_EQ(format.mailTime({{2003, 12, 5}, 12, 30, 0}), "12/05/03 12:30 PM");
  EXPECT_EQ(format.mailTime({{2003, 12, 5}, 21, 7, 59}), "12/05/03 9:07 PM");
  EXPECT_EQ(format.mailTime({{2000, 1, 9}, 9, 0, 0}), "01/09/00 9:00 AM");
}

TEST(LocaleFormatTest, KilobytesRoundHalfUpAndGroupInThrees) {
  const LocaleFormat format = LocaleFormat::posix();
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  for (const Case& c : {Case{0, "0"}, Case{511, "0"}, Case{512, "1"}, Case{1535, "1"},
                        Case{1536, "2"}, Case{5000, "5"}, Case{1048576, "1,024"},
                        Case{1073741824ULL, "1,048,576"},
                        Case{12345678ULL * 1024, "12,345,678"},
                        Case{UINT64_MAX, "18,014,398,509,481,984"}}) {
    EXPECT_EQ(format.kilobytes(c.bytes), c.text) << c.bytes;
  }
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(LocaleFormatTest, CAndMissingLocalesFallBackToThePosixForms) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
    ScopedEnv all("LC_ALL", name);
    const LocaleFormat format = LocaleFormat::fromEnvironment();
    EXPECT_EQ(format.generalDateTime({{2003, 10, 5}, 2, 15, 3}), "10/5/2003 2:15:03 AM") << name;
    EXPECT_EQ(format.kilobytes(1048576), "1,024") << name;
  }
}

}  // namespace
}  // namespace quillfen
