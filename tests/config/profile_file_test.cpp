#include "config/profile_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "common/error.h"
#include "config/profile_text.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::Optional;

TEST(ProfileTextTest, ReadsTheFirstValueOfTheKeyInTheSectionByTheProfileRules) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      // the text, the value of MailTo in section Quillfen
      {"[quillfen]\nmailTO=a", "a"},
      {"  [ Quillfen ]  \n\t MailTo \t=  a b \t\n", "a b"},
      {"[Quillfen]\nMailTo=\"  x  \"", "  x  "},
      {"[Quillfen]\nMailTo= 'y' ", "y"},
      {"[Quillfen]\nMailTo=\"z'", "\"z'"},
      {"[Quillfen]\nMailTo=\"", "\""},
      {"[Quillfen]\nMailTo=\"\"", ""},
      {"[Quillfen]\n;MailTo=x\n  ; MailTo=w\nMailTo=y", "y"},
      {"[Quillfen]\nMailTo=a\nMAILTO=b", "a"},
      {"[Other]\nMailTo=x\n[Quillfen]\nMailTo=y", "y"},
      {"[Quillfen]\nMailFrom=f\n[Other]\nMailTo=x", std::nullopt},
      {"MailTo=x\n[Quillfen]\n", std::nullopt},
      {"[Quillfen]\nA=1\n[Other]\n[Quillfen]\nMailTo=z", "z"},
      {"\xEF\xBB\xBF[Quillfen]\r\nMailTo=a\r\n", "a"},
      {"[Quillfen]\nMailTo\nMailTo=later", "later"},
      {"[Quillfen]\nMailTo=a@x;b@y ; c=d", "a@x;b@y ; c=d"},
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
      {"[Quillfen]\nA=1\n; about X\n\n[X]\nB=2",
       "[Quillfen]\nA=1\nMailTo=new\n; about X\n\n[X]\nB=2"},
      {"[Quillfen]\nA=1\n[X]\n[Quillfen]\nB=2",
       "[Quillfen]\nA=1\nMailTo=new\n[X]\n[Quillfen]\nB=2"},
      {"[Quillfen]", "[Quillfen]\nMailTo=new\n"},
      {"[X]\r\nB=2", "[X]\r\nB=2\r\n\r\n[Quillfen]\r\nMailTo=new\r\n"},
      {"\xEF\xBB\xBF[Quillfen]\nMailTo=old\n", "\xEF\xBB\xBF[Quillfen]\nMailTo=new\n"},
  };
  for (const auto& [before, after] : cases) {
    EXPECT_EQ(withProfileValue(before, "Quillfen", "MailTo", "new"), after) << before;
  }
  for (const char* value : {"", " lead", "trail\t", "\"q\"", "'s'", "\"", "'a\"", "a;b", "x=y",
                            "; not a comment", "\xC3\xBCml"}) {
    const std::string text = withProfileValue("[Quillfen]\nKey=old\n", "Quillfen", "Key", value);
    EXPECT_THAT(findProfileValue(text, "Quillfen", "Key"), Optional(std::string(value))) << text;
  }
  for (const char* key : {"", "a=b", " K", ";K", "[K"}) {
    EXPECT_THROW(withProfileValue("", "Quillfen", key, "v"), Error) << key;
  }
  EXPECT_THROW(withProfileValue("", "Quillfen", "K", "two\nlines"), Error);
}

TEST(StoreProfileValueTest, WritesAPrivateFileOrThroughALinkAndNeverOverALinkToNothing) {
  const test::TempDir folder;
  const std::string ini = folder.str() + "/Config.ini";
  const auto permissions = [](const fs::path& p) { return fs::status(p).permissions(); };
  const auto entries = [&] {
    return std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator());
  };
  storeProfileValue(ini, "Quillfen", "A", "1");
  storeProfileValue(ini, "Quillfen", "B", "2");
  EXPECT_EQ(test::readFile(ini), "[Quillfen]\nA=1\nB=2\n");
  EXPECT_EQ(permissions(ini), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(entries(), 1) << "a temporary file was left behind";

  const auto shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  const fs::path real = folder.write("real.ini", "[Quillfen]\nA=1\n");
  fs::permissions(real, shared);
  fs::remove(ini);
  fs::create_symlink(real, ini);
  storeProfileValue(ini, "Quillfen", "A", "2");
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(test::readFile(real), "[Quillfen]\nA=2\n");
  EXPECT_EQ(permissions(real), shared);

  fs::remove(ini);
  fs::create_symlink(folder.path() / "nowhere.ini", ini);
  EXPECT_THAT([&] { storeProfileValue(ini, "Quillfen", "A", "1"); },
              ::testing::Throws<Error>(::testing::Property(&Error::number, errc::kFileExists)));
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(entries(), 2) << "a file was made where the link points";
}

}  // namespace
}  // namespace quillfen
