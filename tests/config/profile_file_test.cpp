#include "config/profile_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/error.h"
#include "config/profile_text.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::Optional;

TEST(ProfileFileTest, ReadsTheFirstValueOfTheKeyInTheSectionByTheProfileRules) {
  struct Case {
    const char* text;
    std::optional<std::string> value;  // of MailTo in section Quillfen
  };
  for (const Case& c : {
           Case{"[quillfen]\nmailTO=a", "a"},
           Case{"  [ Quillfen ]  \n\t MailTo \t=  a b \t\n", "a b"},
           Case{"[Quillfen]\nMailTo=\"  x  \"", "  x  "},
           Case{"[Quillfen]\nMailTo= 'y' ", "y"},
           Case{"[Quillfen]\nMailTo=\"z'", "\"z'"},
           Case{"[Quillfen]\nMailTo=\"", "\""},
           Case{"[Quillfen]\nMailTo=\"\"", ""},
           Case{"[Quillfen]\n;MailTo=x\n  ; MailTo=w\nMailTo=y", "y"},
           Case{"[Quillfen]\nMailTo=a\nMAILTO=b", "a"},
           Case{"[Other]\nMailTo=x\n[Quillfen]\nMailTo=y", "y"},
           Case{"[Quillfen]\nMailFrom=f\n[Other]\nMailTo=x", std::nullopt},
           Case{"MailTo=x\n[Quillfen]\n", std::nullopt},
           Case{"[Quillfen]\nA=1\n[Other]\n[Quillfen]\nMailTo=z", "z"},
           Case{"[Quillfen]\r\nMailTo=a\r\n", "a"},
           Case{"\xEF\xBB\xBF[Quillfen]\nMailTo=a", "a"},
           Case{"[Quillfen]\nMailTo\nMailTo=later", "later"},
           Case{"[Quillfen]\nMailTo=a@x;b@y ; c@z", "a@x;b@y ; c@z"},
           Case{"[Quillfen]\nMailTo=a=b", "a=b"},
           Case{"[Quillfen]\nMailTo=Sicherung f\xC3\xBCr K\xC3\xB6ln",
                "Sicherung f\xC3\xBCr K\xC3\xB6ln"},
       }) {
    EXPECT_EQ(findProfileValue(c.text, "Quillfen", "MailTo"), c.value) << c.text;
  }
}

TEST(ProfileFileTest, WritingKeepsEveryOtherLineAndPlacesTheKey) {
  struct Case {
    const char* before;
    const char* after;  // with MailTo set to "new"
  };
  for (const Case& c : {
           // Replaced in place, indentation, spelling and line end kept; the later one and
           // the other section untouched.
           Case{"; head\n[Quillfen]\r\n  mailto = old \r\nMailTo=2nd\r\n[X]\r\nMailTo=x\r\n",
                "; head\n[Quillfen]\r\n  mailto=new\r\nMailTo=2nd\r\n[X]\r\nMailTo=x\r\n"},
           // Added after the last key of the section, before the blank line and next section.
           Case{"[Quillfen]\nA=1\n; about X\n\n[X]\nB=2",
                "[Quillfen]\nA=1\nMailTo=new\n; about X\n\n[X]\nB=2"},
           Case{"[Quillfen]\nA=1\n[X]\n[Quillfen]\nB=2",
                "[Quillfen]\nA=1\nMailTo=new\n[X]\n[Quillfen]\nB=2"},
           Case{"[Quillfen]", "[Quillfen]\nMailTo=new\n"},
           Case{"[X]\r\nB=2", "[X]\r\nB=2\r\n\r\n[Quillfen]\r\nMailTo=new\r\n"},
           Case{"", "[Quillfen]\nMailTo=new\n"},
           Case{"\xEF\xBB\xBF[Quillfen]\nMailTo=old\n", "\xEF\xBB\xBF[Quillfen]\nMailTo=new\n"},
       }) {
    EXPECT_EQ(withProfileValue(c.before, "Quillfen", "MailTo", "new"), c.after) << c.before;
  }
}

TEST(ProfileFileTest, EveryValueReadsBackAsWritten) {
  for (const char* value : {"", "plain", " lead", "trail\t", "\"q\"", "'s'", "\"", "'a\"", "a;b",
                            "x=y", "; not a comment", "\xC3\xBCml"}) {
    const std::string text = withProfileValue("[Quillfen]\nKey=old\n", "Quillfen", "Key", value);
    EXPECT_THAT(findProfileValue(text, "Quillfen", "Key"), Optional(std::string(value))) << text;
  }
}

TEST(ProfileFileTest, RefusesWhatALineCannotHold) {
  for (const auto& [key, value] :
       {std::pair{"", "v"}, std::pair{"a=b", "v"}, std::pair{" Key", "v"}, std::pair{";Key", "v"},
        std::pair{"[Key", "v"}, std::pair{"Key", "two\nlines"}}) {
    EXPECT_THROW(withProfileValue("", "Quillfen", key, value), Error) << key << value;
  }
}

class StoreProfileValueTest : public ::testing::Test {
 protected:
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static fs::perms permissions(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::mask;
  }

  test::TempDir folder;
  std::string ini = folder.str() + "/Config.ini";
};

TEST_F(StoreProfileValueTest, CreatesAPrivateFileAndLeavesNoTemporaryFileBehind) {
  storeProfileValue(ini, "Quillfen", "A", "1");
  storeProfileValue(ini, "Quillfen", "B", "2");
  EXPECT_EQ(test::readFile(ini), "[Quillfen]\nA=1\nB=2\n");
  EXPECT_EQ(permissions(ini), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THAT(entries(), ElementsAre("Config.ini"));
}

TEST_F(StoreProfileValueTest, RewritesThroughALinkAndKeepsTheFilesPermissions) {
  const fs::path real = folder.write("real.ini", "[Quillfen]\nA=1\n");
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(real, ini);
  storeProfileValue(ini, "Quillfen", "A", "2");
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(test::readFile(real), "[Quillfen]\nA=2\n");
  EXPECT_EQ(permissions(real),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_THAT(entries(), ElementsAre("Config.ini", "real.ini"));
}

TEST_F(StoreProfileValueTest, NeverReplacesAFolderOrALinkToNothing) {
  fs::create_directory(ini);
  EXPECT_THROW(storeProfileValue(ini, "Quillfen", "A", "1"), Error);
  EXPECT_TRUE(fs::is_directory(ini));

  fs::remove(ini);
  fs::create_symlink(folder.path() / "nowhere.ini", ini);
  try {
    storeProfileValue(ini, "Quillfen", "A", "1");
    ADD_FAILURE() << "replaced a dangling link";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kFileExists);
  }
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_THAT(entries(), ElementsAre("Config.ini"));
}

}  // namespace
}  // namespace quillfen
