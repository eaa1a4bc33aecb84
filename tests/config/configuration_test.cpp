#include "config/configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "config/configs.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

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
  // The error of a load that must fail before any message or editor.
  Error loadError() {
    try {
      load();
      ADD_FAILURE() << "no error";
    } catch (const Error& error) {
      EXPECT_THAT(log, IsEmpty());
      return error;
    }
    return Error(0, "");
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
    EXPECT_EQ(refusal, ConfigurationRefusal::TemplateWritten);
    EXPECT_EQ(test::readFile(ini), kTemplate);
    EXPECT_EQ(log, refusedWith("Please enter the correct configuration data, save, and launch "
                               "the program again."));
  }
  std::istringstream lines(kTemplate);
  std::string line;
  std::getline(lines, line);  // the section
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    EXPECT_EQ(Configs::ReadIniValue(process, line.substr(0, equals)), line.substr(equals + 1));
  }
  EXPECT_FALSE(load());
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
      {"", kNoSource},
      {"DestinationFolder=/b\n", kNoSource},
      {"FtpIPAddress=\"   \"\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=/\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=\"  \"\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=/n\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=\"  \"\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=/\n", kNoDestination},
      {"NetworkPath=/n\nDaysTillExpiration=0\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0\n", kBadExpiration},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=-5\n", kBadExpiration},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0.5\n", kBadExpiration},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=1\n", nullptr},
      {"FtpIPAddress=\" h\"\nDestinationFolder=\"/b \"\n", nullptr},
  };
  for (const auto& [keys, message] : cases) {
    EXPECT_EQ(loadIni(keys), message == nullptr) << keys;
    EXPECT_EQ(refusal, message ? ConfigurationRefusal::Invalid : ConfigurationRefusal::None);
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
    EXPECT_EQ(settings.DaysTillExpiration, 365);
    EXPECT_EQ(settings.MailPort, 25);
  }
  const std::string recipients = std::string(300, 'r') + "@example.com;b@example.com";
  ASSERT_TRUE(loadIni(
      "NetworkPath=/n\nDestinationFolder=/b\nFtpPassword=\" pa ss \"\nMailTo=" + recipients +
      "\nMailSubject=f\xC3\xBCr K\xC3\xB6ln\nDaysTillExpiration=\n"
      "MailPort=\n"));
  EXPECT_EQ(settings.MailTo, recipients);
  EXPECT_EQ(settings.FtpPassword, " pa ss ");
  EXPECT_EQ(settings.MailSubject, "f\xC3\xBCr K\xC3\xB6ln");
  EXPECT_EQ(settings.DaysTillExpiration, 365);
  EXPECT_EQ(settings.MailPort, 25);
  ASSERT_TRUE(
      loadIni("NetworkPath=/n\nDestinationFolder=/b\nDaysTillExpiration=\" 7 \"\n"
              "MailPort=2525.5\n"));
  EXPECT_EQ(settings.DaysTillExpiration, 7);
  EXPECT_EQ(settings.MailPort, 2526);
}

TEST_F(LoadConfigurationTest, ABadNumberOrAnUnreadableFileIsAnErrorBeforeAnyMessage) {
  folder.write("Config.ini", "[Quillfen]\nMailPort=twenty-five\n");  // no source either
  const Error badPort = loadError();
  EXPECT_EQ(badPort.number(), errc::kTypeMismatch);
  EXPECT_THAT(badPort.description(), HasSubstr("MailPort"));
  EXPECT_THAT(badPort.description(), HasSubstr("twenty-five"));

  fs::remove(ini);
  fs::create_directory(ini);
  EXPECT_THAT(loadError().description(), HasSubstr(ini));
  EXPECT_TRUE(fs::is_directory(ini)) << "a template written over a folder";

  fs::remove(ini);
  fs::create_symlink("Config.ini", ini);  // a loop: there, but never opens
  loadError();
  EXPECT_THROW(Configs::ReadIniValue(process, "MailTo"), Error);
  EXPECT_TRUE(fs::is_symlink(ini));
}

}  // namespace
}  // namespace quillfen
