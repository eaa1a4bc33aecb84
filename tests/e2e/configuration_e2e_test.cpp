#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/program.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

using ::testing::HasSubstr;

TEST(ConfigurationE2eTest, FirstStartWritesTheTemplateBesideTheExecutableAndAsksForEditing) {
  TempDir folder;
  const ProgramResult result = runProgram(folder.path());
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("Please enter the correct configuration data"));
  EXPECT_THAT(result.err, HasSubstr((folder.path() / "Config.ini").string()));
  // The template's full text, and that it names no source, have unit tests.
  EXPECT_THAT(readFile(folder.path() / "Config.ini"), HasSubstr("\nDestinationFolder="));
}

// Each case must end before a run: the destination folder never appears. The full texts of
// the messages have unit tests.
TEST(ConfigurationE2eTest, SwitchesAndInvalidSettingsEndWithoutARun) {
  struct Case {
    const char* argument;  // "" for none
    const char* keys;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"/config", "NetworkPath=/srv\n", 0, "Config.ini"},
      {"--help", "NetworkPath=/srv\n", 0, "Exit codes"},
      {"--version", "NetworkPath=/srv\n", 0, "3.2"},
      {"", "FtpIPAddress=   \n", 2, "You must enter either a FTP server or a network path"},
      {"", "NetworkPath=/srv\nDestinationFolder=  \n", 2, "You must enter a destination path"},
      {"", "NetworkPath=/srv\nDaysTillExpiration=0\n", 2, "DaysTillExpiration must be a whole"},
      {"", "NetworkPath=/srv\nMailPort=abc\n", 1, "MailPort"},
      {"", "NetworkPath=/srv\nDaysTillExpiration=99999999999\n", 1, "DaysTillExpiration"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    const std::string keys = c.keys;  // before the destination: the first entry of a key counts
    folder.write("Config.ini",
                 "[Quillfen]\n" + keys + "DestinationFolder=" + folder.str() + "/dest\n");
    std::vector<std::string> arguments;
    if (*c.argument != '\0') arguments.push_back(c.argument);
    const ProgramResult result = runProgram(folder.path(), arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << keys << result.err;
    EXPECT_THAT(result.out + result.err, HasSubstr(c.message)) << keys;
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "dest")) << keys;
  }
}

}  // namespace
}  // namespace quillfen::test
