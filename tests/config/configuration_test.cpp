#include "config/configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/error.h"
#include "config/configs.h"
#include "config/whole_number.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Property;

auto raises(int number, const std::string& text) {
  return ::testing::Throws<Error>(::testing::AllOf(Property(&Error::number, number),
                                                   Property(&Error::description, HasSubstr(text))));
}

constexpr const char* kNoSource =
    "You must enter either a FTP server or a network path in the configuration file.  NOTE: "
    "Entering a network path will override any FTP settings.";
constexpr const char* kNoDestination =
    "You must enter a destination path in the configuration file.";
constexpr const char* kBadExpiration = "DaysTillExpiration must be a whole number of 1 or more.";
constexpr const char* kTemplate =
    "[Quillfen]\nFtpIPAddress=\nFtpUserName=\nFtpPassword=\nNetworkPath=\nDestinationFolder=\n"
    "DaysTillExpiration=30\nMailServer=smtp.example.com\nMailPort=25\n"
    "MailFrom=quillfen@example.com\nMailTo=admin@example.com;backup@example.com\n"
    "MailSubject=Quillfen Backup Report\n";

class LoadConfigurationTest : public ::testing::Test {
 protected:
  bool load(const std::string& commandLine = "") {
    log.clear();
    return LoadConfiguration(commandLine, process, messages, settings, &refusal);
  }
  bool loadIni(const std::string& keys) {
    folder.write("Config.ini", "[Quillfen]\n" + keys);
    return load();
  }
  std::vector<std::string> refusedWith(const std::string& message) const {
    return {"info [Configuration Settings Required] " + message, "edit " + ini};
  }

  test::TempDir folder;
  const std::string ini = folder.str() + "/Config.ini";
  test::CallLog log;
  test::FakeProcessServices process{log, folder.str()};
  test::FakeMessageBoxes messages{log};
  BackupSettings settings;
  ConfigurationRefusal refusal = ConfigurationRefusal::None;
};

TEST_F(LoadConfigurationTest, FirstStartWritesTheTemplateThatReadsBackUnchanged) {
  for (const char* commandLine : {"", "/config"}) {
    fs::remove(ini);
    EXPECT_FALSE(load(commandLine));
    EXPECT_EQ(test::readFile(ini), kTemplate);
    EXPECT_EQ(log, refusedWith("Please enter the correct configuration data, save, and launch "
                               "the program again."));
  }
  EXPECT_FALSE(load());  // the template's numbers read, its missing source refused
  EXPECT_EQ(log, refusedWith(kNoSource));
}

TEST_F(LoadConfigurationTest, OnlyTheExactSwitchOpensThePresentFileWithoutAMessage) {
  const std::string text = "[Quillfen]\nNetworkPath=/srv\nDestinationFolder=/backup\n";
  folder.write("Config.ini", text);
  EXPECT_FALSE(load("/config"));
  EXPECT_EQ(refusal, ConfigurationRefusal::EditRequested);
  EXPECT_EQ(log, std::vector<std::string>{"edit " + ini});
  EXPECT_EQ(test::readFile(ini), text);
  for (const char* other : {"/CONFIG", "/config x", " /config", "/config ", "-config"}) {
    EXPECT_TRUE(load(other)) << other;
    EXPECT_THAT(log, IsEmpty()) << other;
  }
}

TEST_F(LoadConfigurationTest, EachValidationHasItsMessageInItsOrder) {
  const std::pair<const char*, const char*> cases[] = {
      // keys, the message (nullptr: the run may go on)
      {"DestinationFolder=/b\n", kNoSource},
      {"FtpIPAddress=\"   \"\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=/\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=\"  \"\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=/n\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=\"  \"\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=/\n", kNoDestination},
      {"NetworkPath=/n\nDaysTillExpiration=0\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0\n", kBadExpiration},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0.5\n", kBadExpiration},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=1\n", nullptr},
      {"FtpIPAddress=\" h\"\nDestinationFolder=\"/b \"\n", nullptr},
  };
  for (const auto& [keys, message] : cases) {
    EXPECT_EQ(loadIni(keys), message == nullptr) << keys;
    EXPECT_EQ(log, message ? refusedWith(message) : std::vector<std::string>{}) << keys;
  }
}

TEST_F(LoadConfigurationTest, PathsLoseOneTrailingSlashStringsStayAsReadNumbersHaveDefaults) {
  for (const auto& [value, stored] :
       {std::pair{"/backup/", "/backup"}, std::pair{"/backup//", "/backup/"},
        std::pair{"\"/backup/ \"", "/backup/ "}, std::pair{"\"/my backup/\"", "/my backup"}}) {
    ASSERT_TRUE(loadIni(std::string("NetworkPath=") + value + "\nDestinationFolder=" + value));
    EXPECT_EQ(settings.NetworkPath, stored);
    EXPECT_EQ(settings.DestinationFolder, stored);
  }
  EXPECT_EQ(settings.DaysTillExpiration, 365);
  EXPECT_EQ(settings.MailPort, 25);
  const std::string recipients = std::string(300, 'r') + "@example.com;b@example.com";
  ASSERT_TRUE(loadIni("NetworkPath=/n\nDestinationFolder=/b\nFtpPassword=\" pa ss \"\nMailTo=" +
                      recipients + "\nDaysTillExpiration=\" 7 \"\nMailPort=\n"));
  EXPECT_EQ(settings.MailTo, recipients);
  EXPECT_EQ(settings.FtpPassword, " pa ss ");
  EXPECT_EQ(settings.DaysTillExpiration, 7);
  EXPECT_EQ(settings.MailPort, 25) << "an empty number takes its default";
}

TEST_F(LoadConfigurationTest, ABadNumberOrAnUnreadableFileIsAnErrorBeforeAnyMessage) {
  folder.write("Config.ini", "[Quillfen]\nMailPort=twenty-five\n");  // no source either
  EXPECT_THAT([&] { load(); }, raises(errc::kTypeMismatch, "'twenty-five'"));
  fs::remove(ini);
  fs::create_directory(ini);
  EXPECT_THAT([&] { load(); },
              ::testing::Throws<Error>(Property(&Error::description, HasSubstr(ini))));
  EXPECT_TRUE(fs::is_directory(ini)) << "a template written over a folder";
  fs::remove(ini);
  fs::create_symlink("Config.ini", ini);  // a loop: there, but never opens
  EXPECT_THROW(load(), Error);
  EXPECT_THROW(Configs::ReadIniValue(process, "MailTo"), Error);
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_THAT(log, IsEmpty());
}

TEST(WholeNumberSettingTest, AcceptsDecimalNumbersAndRoundsHalvesToEven) {
  using In = std::pair<const char*, std::int32_t>;
  for (const auto& [text, value] :
       {In{"0", 0}, In{"  42\t", 42}, In{"+5", 5}, In{"-5", -5}, In{"2.5", 2}, In{"3.5", 4},
        In{"-3.5", -4}, In{"2.50000000000000000001", 3}, In{"2.4999", 2}, In{".5", 0}, In{"1.", 1},
        In{"2147483647", INT32_MAX}, In{"-2147483648", INT32_MIN}, In{"2147483646.5", 2147483646},
        In{"-2147483648.5", INT32_MIN}}) {
    EXPECT_EQ(wholeNumberSetting("MailPort", text), value) << text;
  }
}

TEST(WholeNumberSettingTest, RefusesWhatIsNoNumberOrDoesNotFitWithKeyAndValueNamed) {
  const auto expectRefused = [](const std::string& text, int number) {
    EXPECT_THAT([&] { wholeNumberSetting("Days", text); }, raises(number, "Days is"));
    EXPECT_THAT([&] { wholeNumberSetting("Days", text); }, raises(number, ": '" + text + "'"));
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
