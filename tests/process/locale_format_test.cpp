#include "process/locale_format.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace quillfen {
namespace {

// C and missing locales fall back to the POSIX forms: 12-hour times and grouped kilobytes. The
// mail frame's time and the usual general form are checked where the Mailer uses them.
TEST(LocaleFormatTest, CAndMissingLocalesFallBackToThePosixForms) {
  const char* old = getenv("LC_ALL");
  const std::string saved = old ? old : "";
  for (const char* name : {"C.UTF-8", "xx_NOWHERE.UTF-8"}) {
    setenv("LC_ALL", name, 1);
    const LocaleFormat format = LocaleFormat::fromEnvironment();
    EXPECT_EQ(format.generalDateTime({{2003, 1, 1}, 12, 0, 0}), "1/1/2003 12:00:00 PM") << name;
    EXPECT_EQ(format.generalDateTime({{2003, 10, 5}, 0, 15, 3}), "10/5/2003 12:15:03 AM") << name;
    EXPECT_EQ(format.kilobytes(1535) + " " + format.kilobytes(1536), "1 2") << name;
    EXPECT_EQ(format.kilobytes(UINT64_MAX), "18,014,398,509,481,984") << name;
  }
  saved.empty() ? unsetenv("LC_ALL") : setenv("LC_ALL", saved.c_str(), 1);
}

// The mail frame's time takes the separators of the locale's own date and time formats.
TEST(LocaleFormatTest, SeparatorsComeFromTheLocalesFormats) {
  const std::pair<const char*, const char*> cases[] = {
      {"%d.%m.%Y", "."}, {"%Ey\xE5\xB9\xB4%m", "\xE5\xB9\xB4"}, {"%x", "?"}, {"", "?"}};
  for (const auto& [format, separator] : cases) EXPECT_EQ(separatorIn(format, "?"), separator);
}

}  // namespace
}  // namespace quillfen
