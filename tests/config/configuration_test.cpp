#include "config/configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/error.h"
#include "config/configs.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kInfo = "info [Configuration Settings Required] ";
constexpr const char* kNoSource =
    "You must enter either a FTP server or a network path in the configuration file.  NOTE: "
    "Entering a network path will override any FTP settings.";
constexpr const char* kNoDestination =
    "You must enter a destination path in the configuration file.";
constexpr const char* kBadExpiration = "DaysTillExpiration must be a whole number of 1 or more.";

constexpr const char* kTemplate =
    "[Quillfen]\n"
    "FtpIPAddress=\n"
    "FtpUserName=\n"
    "FtpPassword=\n"
    "NetworkPath=\n"
    "DestinationFolder=\n"
    "DaysTillExpiration=30\n"
    "MailServer=smtp.example.com\n"
    "MailPort=25\n"
    "MailFrom=quillfen@example.com\n"
    "MailTo=admin@example.com;backup@example.com\n"
    "MailSubject=Quillfen Backup Report\n";

class LoadConfigurationTest : public ::testing::Test {
 protected:
  void writeIni(const std::string& keys) const {
    folder.write("Config.ini", "[Quillfen]\n" + keys);
  }
  bool load(const std::string& commandLine = "") {
    log.clear();
    return LoadConfiguration(commandLine, process, messages, settings, &refusal);
  }
  // What a refusal with `message` leaves in the log: the message first, then the editor.
  std::vector<std::string> refusedWith(const std::string& message) const {
    return {kInfo + message, "edit " + ini};
  }

  test::TempDir folder;
  const std::string ini = folder.str() + "/Config.ini";
  test::CallLog log;
  test::FakeProcessServices process{log, folder.str()};
  test::FakeMessageBoxes messages{log};
  BackupSettings settings;
  ConfigurationRefusal refusal = ConfigurationRefusal::None;
};

TEST_F(LoadConfigurationTest, FirstStartWritesTheTemplateAndSendsTheUserToEditIt) {
  for (const char* commandLine : {"", "/config"}) {
    fs::remove(ini);
    EXPECT_FALSE(load(commandLine));
    EXPECT_EQ(refusal, ConfigurationRefusal::TemplateWritten);
    EXPECT_EQ(test::readFile(ini), kTemplate);
    EXPECT_EQ(log, refusedWith("Please enter the correct configuration data, save, and launch "
                               "the program again."));
  }
  // The untouched template has no source yet.
  EXPECT_FALSE(load());
  EXPECT_EQ(log, refusedWith(kNoSource));
}

TEST_F(LoadConfigurationTest, TheTemplateReadsBackUnchanged) {
  WriteDefaultConfiguration(process);
  for (const auto& [key, value] :
       {std::pair{"FtpIPAddress", ""}, std::pair{"DaysTillExpiration", "30"},
        std::pair{"MailServer", "smtp.example.com"}, std::pair{"MailPort", "25"},
        std::pair{"MailFrom", "quillfen@example.com"},
        std::pair{"MailTo", "admin@example.com;backup@example.com"},
        std::pair{"MailSubject", "Quillfen Backup Report"}}) {
    EXPECT_EQ(Configs::ReadIniValue(process, key), value) << key;
  }
}

TEST_F(LoadConfigurationTest, OnlyTheExactSwitchOpensThePresentFileWithoutAMessage) {
  writeIni("NetworkPath=/srv\nDestinationFolder=/backup\n");
  EXPECT_FALSE(load("/config"));
  EXPECT_EQ(refusal, ConfigurationRefusal::EditRequested);
  EXPECT_THAT(log, ElementsAre("edit " + ini));
  EXPECT_EQ(test::readFile(ini), "[Quillfen]\nNetworkPath=/srv\nDestinationFolder=/backup\n");
  for (const char* other : {"/CONFIG", "/Config", "/config x", " /config", "/config ", "-config"}) {
    EXPECT_TRUE(load(other)) << other;
    EXPECT_THAT(log, IsEmpty()) << other;
  }
}

TEST_F(LoadConfigurationTest, EachValidationHasItsMessageInItsOrder) {
  struct Case {
    const char* keys;
    const char* message;  // nullptr: the run may go on
  };
  for (const Case& c : {
           Case{"", kNoSource},
           Case{"DestinationFolder=/b\n", kNoSource},
           Case{"FtpIPAddress=\"   \"\nDestinationFolder=/b\n", kNoSource},
           Case{"NetworkPath=/\nDestinationFolder=/b\n", kNoSource},
           Case{"NetworkPath=\"  \"\nDestinationFolder=/b\n", kNoSource},
           Case{"NetworkPath=/n\n", kNoDestination},
           Case{"FtpIPAddress=h\nDestinationFolder=\"  \"\n", kNoDestination},
           Case{"FtpIPAddress=h\nDestinationFolder=/\n", kNoDestination},
           Case{"NetworkPath=/n\nDaysTillExpiration=0\n", kNoDestination},
           Case{"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0\n", kBadExpiration},
           Case{"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=-5\n", kBadExpiration},
           Case{"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0.5\n", kBadExpiration},
           Case{"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=1\n", nullptr},
           Case{"FtpIPAddress=\" h\"\nDestinationFolder=\"/b \"\n", nullptr},
       }) {
    writeIni(c.keys);
    if (c.message == nullptr) {
      EXPECT_TRUE(load()) << c.keys;
      EXPECT_EQ(refusal, ConfigurationRefusal::None);
      EXPECT_THAT(log, IsEmpty()) << c.keys;
    } else {
      EXPECT_FALSE(load()) << c.keys;
      EXPECT_EQ(refusal, ConfigurationRefusal::Invalid) << c.keys;
      EXPECT_EQ(log, refusedWith(c.message)) << c.keys;
    }
  }
}

TEST_F(LoadConfigurationTest, PathsLoseExactlyOneTrailingSlashAndStringsStayAsRead) {
  struct Case {
    const char* value;
    const char* stored;
  };
  for (const Case& c : {Case{"/backup/", "/backup"}, Case{"/backup//", "/backup/"},
                        Case{"\"/backup/ \"", "/backup/ "}, Case{"/backup", "/backup"},
                        Case{"\"/my backup/\"", "/my backup"}}) {
    writeIni(std::string("FtpIPAddress=h\nNetworkPath=") + c.value +
             "\nDestinationFolder=" + c.value + "\n");
    ASSERT_TRUE(load()) << c.value;
    EXPECT_EQ(settings.NetworkPath, c.stored);
    EXPECT_EQ(settings.DestinationFolder, c.stored);
  }

  const std::string recipients = std::string(300, 'r') + "@example.com;b@example.com";
  writeIni("NetworkPath=/n\nDestinationFolder=/b\nFtpPassword=\" pa ss \"\nMailTo=" + recipients +
           "\nMailSubject=Sicherung f\xC3\xBCr K\xC3\xB6ln\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(settings.MailTo, recipients);
  EXPECT_EQ(settings.FtpPassword, " pa ss ");
  EXPECT_EQ(settings.MailSubject, "Sicherung f\xC3\xBCr K\xC3\xB6ln");
}

TEST_F(LoadConfigurationTest, EmptyOrMissingNumbersTakeTheirDefaults) {
  struct Case {
    const char* keys;
    std::int32_t days, port;
  };
  for (const Case& c : {Case{"", 365, 25}, Case{"DaysTillExpiration=\nMailPort=\n", 365, 25},
                        Case{"DaysTillExpiration=\" 7 \"\nMailPort=2525.5\n", 7, 2526}}) {
    writeIni(std::string("NetworkPath=/n\nDestinationFolder=/b\n") + c.keys);
    ASSERT_TRUE(load()) << c.keys;
    EXPECT_EQ(settings.DaysTillExpiration, c.days) << c.keys;
    EXPECT_EQ(settings.MailPort, c.port) << c.keys;
  }
}

TEST_F(LoadConfigurationTest, ABadNumberIsAnErrorNamingTheKeyBeforeAnyMessage) {
  struct Case {
    const char* line;
    const char* key;
    int number;
  };
  for (const Case& c : {Case{"DaysTillExpiration=abc", "DaysTillExpiration", errc::kTypeMismatch},
                        Case{"MailPort=twenty-five", "MailPort", errc::kTypeMismatch},
                        Case{"MailPort=99999999999", "MailPort", errc::kOverflow}}) {
    writeIni(std::string(c.line) + "\n");  // no source either: the error comes first
    try {
      load();
      ADD_FAILURE() << c.line;
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), c.number);
      EXPECT_THAT(error.description(), HasSubstr(c.key));
      EXPECT_THAT(error.description(), HasSubstr(std::string(c.line).substr(strlen(c.key) + 1)));
    }
    EXPECT_THAT(log, IsEmpty()) << c.line;
  }
}

TEST_F(LoadConfigurationTest, AFolderNamedConfigIniIsAnErrorNotATemplate) {
  fs::create_directory(ini);
  try {
    load();
    ADD_FAILURE() << "a template over a folder";
  } catch (const Error& error) {
    EXPECT_THAT(error.description(), HasSubstr(ini));
  }
  EXPECT_THAT(log, IsEmpty());
  EXPECT_TRUE(fs::is_directory(ini));
  EXPECT_THROW(Configs::ReadIniValue(process, "MailTo"), Error);
}

TEST_F(LoadConfigurationTest, AFileThatCannotBeOpenedIsAnErrorNotAnEmptyConfiguration) {
  fs::create_symlink("Config.ini", ini);  // a loop: there, but never opens
  EXPECT_THROW(Configs::ReadIniValue(process, "MailTo"), Error);
  EXPECT_THROW(load(), Error);
  EXPECT_THAT(log, IsEmpty());
  EXPECT_TRUE(fs::is_symlink(ini));
}

}  // namespace
}  // namespace quillfen
