#include "config/profile_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/path_limits.h"
#include "config/configuration.h"
#include "config/whole_number.h"
#include "support/raises.h"

// Tests of the settings' text rules, built for Linux and for Windows: the profile reader follows
// the rules of GetPrivateProfileString on both.

namespace quillfen {
namespace {

using test::raises;

TEST(WholeNumberSettingTest, RoundsHalvesToEvenAndRefusalsNameTheKeyAndTheValue) {
  using In = std::pair<const char*, std::int32_t>;
  for (const auto& [text, value] : {In{"2.5", 2}, In{"-3.5", -4}, In{"-2147483648.5", INT32_MIN}}) {
    EXPECT_EQ(wholeNumberSetting("MailPort", text), value) << text;
  }
  using Out = std::pair<const char*, int>;
  for (const auto& [text, number] : {Out{"", errc::kTypeMismatch}, Out{"1e3", errc::kTypeMismatch},
                                     Out{"2147483647.5", errc::kOverflow}}) {
    EXPECT_THAT([&] { wholeNumberSetting("Days", text); }, raises(number, "Days")) << text;
  }
}

TEST(ProfileTextTest, ReadsTheFirstValueOfTheKeyInTheSectionByTheProfileRules) {
  using namespace std::literals;
  const std::pair<std::string_view, std::optional<std::string>> cases[] = {
      // the text, the value of MailTo in section Quillfen
      {"  [ Quillfen ]  \n\t MailTo \t=  a b \t\n", "a b"},
      {"[Quillfen]\n;MailTo=x\n  ; MailTo=w\nMailTo=y", "y"},
      {"[Other]\nMailTo=x\n[Quillfen]\nMailTo=y\nMAILTO=b", "y"},
      {"\xEF\xBB\xBF[Quillfen]\r\nMailTo=a\r\n", "a"},
      // Notepad's "Unicode" (UTF-16, low byte first): "[Quillfen]\r\nMailTo=\u00e4\U0001F600"
      {"\xFF\xFE[\0Q\0u\0i\0l\0l\0f\0e\0n\0]\0\r\0\n\0M\0a\0i\0l\0T\0o\0=\0\xE4\0"
       "\x3D\xD8\x00\xDE"sv,
       "\xC3\xA4\xF0\x9F\x98\x80"},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(findProfileValue(text, "Quillfen", "MailTo"), value) << text;
  }
}

TEST(ProfileTextTest, WritingReplacesInPlaceOrAddsAfterTheSectionsLastKey) {
  const std::pair<const char*, const char*> cases[] = {
      // before, after setting MailTo to "new": every other line kept byte for byte
      {"; head\n[Quillfen]\r\n  mailto = old \r\nMailTo=2nd\r\n[X]\r\nMailTo=x\r\n",
       "; head\n[Quillfen]\r\n  mailto=new\r\nMailTo=2nd\r\n[X]\r\nMailTo=x\r\n"},
      {"[X]\r\nB=2", "[X]\r\nB=2\r\n\r\n[Quillfen]\r\nMailTo=new\r\n"},
  };
  for (const auto& [before, after] : cases) {
    EXPECT_EQ(withProfileValue(before, "Quillfen", "MailTo", "new"), after) << before;
  }
  EXPECT_THROW(withProfileValue("", "Quillfen", "K", "two\nlines"), Error);
}

// The cases are written in Windows' form; on Linux each backslash stands for "/".
TEST(TrailingSeparatorTest, OneTrailingSeparatorIsCutFromAFolderSetting) {
  const std::pair<std::string, std::string> cases[] = {
      {"D:\\Backup\\", "D:\\Backup"},
      {"D:\\", "D:"},  // a drive root
      {"\\", ""},      // the root of the current drive
      {"\\\\server\\share\\backups\\", "\\\\server\\share\\backups"},
      {"x\\\\", "x\\"},                    // two: one stays
      {"D:\\Backup\\ ", "D:\\Backup\\ "},  // a blank after it
      {"D:\\Backup", "D:\\Backup"},
  };
  const auto local = [](std::string path) {
    std::replace(path.begin(), path.end(), '\\', folderSeparator());
    return path;
  };
  for (const auto& [value, kept] : cases) {
    EXPECT_EQ(withoutOneTrailingSeparator(local(value)), local(kept)) << value;
  }
}

}  // namespace
}  // namespace quillfen
