#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/program.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kKeysInOrder[] = {
    "FtpIPAddress",       "FtpUserName", "FtpPassword", "NetworkPath", "DestinationFolder",
    "DaysTillExpiration", "MailServer",  "MailPort",    "MailFrom",    "MailTo",
    "MailSubject"};

TEST(ConfigurationE2eTest, FirstStartWritesTheTemplateAsksForEditingAndDoesNoRun) {
  TempDir folder;
  Program program(folder.path());
  const ProgramResult result = program.run();
  EXPECT_EQ(result.exitCode, 2) << result.err;
  const std::string ini = readFile(folder.path() / "Config.ini");
  std::size_t at = 0;
  for (const char* key : kKeysInOrder) {
    const std::size_t next = ini.find(std::string(key) + "=", at);
    ASSERT_NE(next, std::string::npos) << key << " in\n" << ini;
    at = next;
  }
  EXPECT_THAT(result.err, HasSubstr("Please enter the correct configuration data, save, and "
                                    "launch the program again."));
  EXPECT_THAT(result.err, HasSubstr((folder.path() / "Config.ini").string()));
  EXPECT_EQ(result.out, "");

  // The untouched template names neither source: the second start refuses it.
  const ProgramResult second = program.run();
  EXPECT_EQ(second.exitCode, 2);
  EXPECT_THAT(second.err, HasSubstr("You must enter either a FTP server or a network path"));
  EXPECT_EQ(readFile(folder.path() / "Config.ini"), ini);
}

TEST(ConfigurationE2eTest, ConfigSwitchOpensTheFileAndEndsWithoutARun) {
  TempDir folder;
  folder.write("Config.ini", "[Quillfen]\nNetworkPath=/nowhere\nDestinationFolder=" +
                                 folder.str() + "/dest\n");
  Program program(folder.path());
  const ProgramResult result = program.run({"/config"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr((folder.path() / "Config.ini").string()));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "dest"));
}

TEST(ConfigurationE2eTest, EachInvalidSettingIsRefusedWithItsMessage) {
  struct Case {
    const char* keys;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"FtpIPAddress=   \nDestinationFolder=/tmp\n", 2,
       "You must enter either a FTP server or a network path in the configuration file.  NOTE: "
       "Entering a network path will override any FTP settings."},
      {"NetworkPath=/srv\nDestinationFolder=  \n", 2,
       "You must enter a destination path in the configuration file."},
      {"NetworkPath=/srv\nDestinationFolder=/tmp\nDaysTillExpiration=0\n", 2,
       "DaysTillExpiration must be a whole number of 1 or more."},
      {"NetworkPath=/srv\nDestinationFolder=/tmp\nMailPort=abc\n", 1, "MailPort"},
      {"NetworkPath=/srv\nDestinationFolder=/tmp\nDaysTillExpiration=99999999999\n", 1,
       "DaysTillExpiration"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    folder.write("Config.ini", std::string("[Quillfen]\n") + c.keys);
    Program program(folder.path());
    const ProgramResult result = program.run();
    EXPECT_EQ(result.exitCode, c.exitCode) << c.keys << result.err;
    EXPECT_THAT(result.err, HasSubstr(c.message)) << c.keys;
  }
}

TEST(ConfigurationE2eTest, HelpAndVersionPrintAndExitWithoutTouchingTheFolder) {
  TempDir folder;
  Program program(folder.path());
  const ProgramResult help = program.run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("Config.ini"));
  EXPECT_THAT(help.out, HasSubstr("Exit codes"));
  const ProgramResult version = program.run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_THAT(version.out, HasSubstr("3.2"));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "Config.ini"));
}

}  // namespace
}  // namespace quillfen::test
