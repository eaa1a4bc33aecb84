#include "process/locale_format.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace quillfen {
namespace {

// The mail frame's time and the usual general form are checked where the Mailer uses them.
TEST(LocaleFormatTest, PosixFormsAtMidnightNoonAndForSizes) {
  const LocaleFormat format = LocaleFormat::posix();
  EXPECT_EQ(format.generalDateTime({{2003, 1, 1}, 0, 0, 0}), "1/1/2003 12:00:00 AM");
  EXPECT_EQ(format.generalDateTime({{2003, 1, 1}, 12, 0, 0}), "1/1/2003 12:00:00 PM");
  using Size = std::pair<std::uint64_t, const char*>;
  for (const auto& [bytes, text] :
       {Size{1535, "1"}, Size{1536, "2"}, Size{12345678ULL * 1024, "12,345,678"},
        Size{UINT64_MAX, "18,014,398,509,481,984"}}) {
    EXPECT_EQ(format.kilobytes(bytes), text) << bytes;
  }
}

TEST(LocaleFormatTest, CAndMissingLocalesFallBackToThePosixForms) {
  const char* old = getenv("LC_ALL");
  const std::string saved = old ? old : "";
  for (const char* name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
    setenv("LC_ALL", name, 1);
    const LocaleFormat format = LocaleFormat::fromEnvironment();
    EXPECT_EQ(format.generalDateTime({{2003, 10, 5}, 2, 15, 3}), "10/5/2003 2:15:03 AM") << name;
    EXPECT_EQ(format.kilobytes(1048576), "1,024") << name;
  }
  saved.empty() ? unsetenv("LC_ALL") : setenv("LC_ALL", saved.c_str(), 1);
}

}  // namespace
}  // namespace quillfen
