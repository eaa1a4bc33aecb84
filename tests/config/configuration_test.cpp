#include "config/configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "common/error.h"
#include "config/configs.h"
#include "config/profile_file.h"
#include "support/fakes.h"
#include "support/raises.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::raises;
using ::testing::HasSubstr;
using ::testing::Not;

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
  // The message box naming `message`, then the file opened for editing; nothing for nullptr.
  // Words of each message are enough to tell them apart.
  ::testing::Matcher<const std::vector<std::string>&> refusedWith(const char* message) const {
    if (message == nullptr) return ::testing::IsEmpty();
    return ::testing::ElementsAre(
        ::testing::AllOf(::testing::StartsWith("info [Configuration Settings Required] "),
                         HasSubstr(message)),
        "edit " + ini);
  }

  test::TempDir folder;
  const std::string ini = folder.str() + "/Config.ini";
  test::CallLog log;
  test::FakeProcessServices process{log, folder.str()};
  test::FakeMessageBoxes messages{log};
  BackupSettings settings;
  ConfigurationRefusal refusal = ConfigurationRefusal::None;
};

TEST_F(LoadConfigurationTest, EachValidationHasItsMessageInItsOrder) {
  using namespace std::string_literals;
  const std::string ok = "NetworkPath=/n\nDestinationFolder=/b\n";  // nothing to refuse
  // A link to the destination, and one that leads back into the destination's parent.
  fs::create_directories(folder.path() / "store/20240101");
  fs::create_directory_symlink(folder.path() / "store", folder.path() / "to-store");
  fs::create_directory_symlink("..", folder.path() / "store/up");
  const std::string store = "DestinationFolder=" + folder.str() + "/store\n";
  const char* const inside = "NetworkPath must not be DestinationFolder or lie inside it";
  const std::pair<std::string, const char*> cases[] = {
      // keys, the message (nullptr: the run may go on)
      {"FtpIPAddress=\"   \"\nDestinationFolder=/b\n", "FTP server or a network path"},
      {"NetworkPath=/n\nDaysTillExpiration=0\n", "destination path"},
      {"FtpIPAddress=\" h\"\nDestinationFolder=/b\nDaysTillExpiration=1\n", nullptr},
      // Every system call would see "/b": today's folder would be the destination itself.
      {"NetworkPath=/n\nDestinationFolder=/b\0x\n"s, "DestinationFolder must not contain"},
      {ok + "MailTo=a@x;A <a@x>, B <b@x>\n", "MailTo must name one address"},
      {ok + "MailTo=a@x> NOTIFY=NEVER\n", "not one: 'a@x> NOTIFY=NEVER'"},
      // A To header would show a group, a comment taking the address, a quote left open.
      {ok + "MailTo=ftp://h:21/d\n", "not one: 'ftp://h:21/d'"},
      {ok + "MailTo=Back (up <a@x>\n", "not one: 'Back (up <a@x>'"},
      {ok + "MailTo=\"a\\\" <a@x>\n", "not one: '\"a\\\" <a@x>'"},
      {ok + "MailTo=Ops (night) <o@x>;u@[IPv6:2001:db8::1]\n", nullptr},
      {"NetworkPath=/n\nDestinationFolder=/b\nDaysTillExpiration=0\n",
       "DaysTillExpiration must be"},
      // The backups would back themselves up, however the source is written.
      {"NetworkPath=/b/\nDestinationFolder=/b\n", inside},
      {"NetworkPath=/n/../b/old\nDestinationFolder=/b\n", inside},
      {"NetworkPath=" + folder.str() + "/to-store\n" + store, inside},
      {"NetworkPath=" + folder.str() + "/to-store/20240101\n" + store, inside},
      // The walk leaves out a destination inside the source.
      {"NetworkPath=" + folder.str() + "/store/up\n" + store, nullptr},
      {"NetworkPath=/b-2\nDestinationFolder=/b\n", nullptr},
      {"DestinationFolder=/b\nFtpIPAddress=http://h/d\n", "this scheme is none of them"},
      // Read once here: the run takes the address as loaded.
      {"DestinationFolder=/b\nFtpIPAddress=h:0/d\n", "FtpIPAddress: Cannot use the FTP address"},
      {"DestinationFolder=/b\nFtpIPAddress=sftp://h\nFtpKeyFile=/no/such/key\n", "FtpKeyFile"},
      {"DestinationFolder=/b\nFtpIPAddress=ftp://h\nFtpTrust=x\n", "plain FTP has nothing"},
      {ok + "MailSecurity=ssl\n", "MailSecurity must be"},
      {ok + "MailPort=2525\nMailUserName=u\n", "MailUserName needs MailSecurity starttls or tls"},
      {ok + "MailTrust=/nonexistent/ca.pem\n", "cannot be read"},
      {ok + "PingUrl=ftp://hc.test/x\n", "PingUrl must be"},
      {ok + "IncludeSubfolders=TRUE\nLinkUnchanged=2\n", "LinkUnchanged must be"},
      {ok + "FtpConnections=0\n", "FtpConnections must be a whole number from 1 to 8; it is '0'"},
      {ok + "FtpConnections=9\n", "it is '9'"},
      {ok + "FtpConnections=two\n", "it is 'two'"},
      {ok + "FtpConnections=8\n", nullptr},
      {ok + "KeepDaily=7\nKeepWeekly=-1\n",
       "KeepWeekly must be a whole number of 0 or more; it is '-1'"},
      {ok + "KeepMonthly=2.5\n", "KeepMonthly must be a whole number of 0 or more; it is '2.5'"},
      {ok + "KeepDaily=2147483648\n", "it is '2147483648'"},
      {ok + "KeepDaily=0\nKeepWeekly= 4 \nKeepMonthly=\n", nullptr},
      {ok + "HookTimeout=0\n",
       "HookTimeout must be a whole number of seconds, 1 or more; it is '0'"},
      {ok + "HookTimeout=soon\n", "it is 'soon'"},
      {ok + "Exclude=*.tmp;;a[b\n", "Exclude: the pattern 'a[b' leaves a '[' open"},
      {ok + "RunBefore=mount /mnt/b\nHookTimeout=30\nExclude=*.tmp;cache/\n", nullptr},
      {ok + "MailPort=587\nMailUserName=u\nPingUrl=https://hc.test/x\nMailTrust=sha256//"
            "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=\n",
       nullptr},
  };
  for (const auto& [keys, message] : cases) {
    EXPECT_EQ(loadIni(keys), message == nullptr) << keys;
    EXPECT_THAT(log, refusedWith(message)) << keys;
  }
}

// A login written into the address is refused, whatever its password holds, and nothing shows
// the password: the address parsed up to its first "/" would take part of it for the server.
TEST_F(LoadConfigurationTest, ALoginInTheAddressIsRefusedWithoutShowingThePassword) {
  for (const char* address :
       {"ftp://backup:Se/cr3t-PW@host:21/data", "ftp://localhost:21/S3cretTail@ftp.example.com/d",
        "sftp://u:a@b@host", "backup:p:w@host"}) {
    EXPECT_FALSE(loadIni(std::string("DestinationFolder=/b\nFtpIPAddress=") + address + "\n"));
    EXPECT_THAT(log, refusedWith("put the user name into FtpUserName")) << address;
    EXPECT_THAT(log, ::testing::Each(Not(::testing::AnyOf(HasSubstr("cr3t"), HasSubstr("S3cret"),
                                                          HasSubstr("a@b"), HasSubstr("p:w")))))
        << address;
  }
}

// A password in memory keeps the process out of core dumps; without one nothing changes.
// MailSecurity is read in any case and follows the port when unset.
TEST_F(LoadConfigurationTest, APasswordMakesTheProcessNonDumpableAndMailSecurityIsRead) {
  const std::tuple<const char*, bool, MailSecurityMode> cases[] = {
      {"FtpPassword=x\nMailPort=465\n", true, MailSecurityMode::Tls},
      {"MailPassword=y\nMailPort=25\nMailSecurity= TLS \n", true, MailSecurityMode::Tls},
      {"FtpUserName=u\nMailPort=587\nMailSecurity=None\n", false, MailSecurityMode::None}};
  for (const auto& [keys, protectedNow, mode] : cases) {
    ASSERT_TRUE(loadIni(std::string("NetworkPath=/n\nDestinationFolder=/b\n") + keys));
    EXPECT_EQ(log,
              protectedNow ? std::vector<std::string>{"not dumpable"} : std::vector<std::string>{})
        << keys;
    EXPECT_EQ(settings.MailSecurity, mode) << keys;
  }
}

// Only a key that no setting reads has a note, whatever its case; a close known key is named.
TEST_F(LoadConfigurationTest, UnknownKeysAreNamedWithTheKnownKeyMeant) {
  folder.write("Config.ini",
               "[Quillfen]\nMailSecurty=tls\nmailport=25\nIncludeSubFolder=yes\nDestFolder=/b\n"
               "MailSecurty=none\n[Other]\nFoo=1\n[quillfen]\nFTPTRUST=x\nLinkUnchange=1\n");
  EXPECT_THAT(
      UnknownKeyNotes(process),
      ::testing::ElementsAre("Unknown key: MailSecurty (did you mean MailSecurity?)",
                             "Unknown key: IncludeSubFolder (did you mean IncludeSubfolders?)",
                             "Unknown key: DestFolder (not read)",
                             "Unknown key: LinkUnchange (did you mean LinkUnchanged?)"));
}

// The packaged example (read as a file named with -c) names every key a run reads, with values the
// settings accept: a key added to the settings and not to the example fails here.
TEST_F(LoadConfigurationTest, TheCommentedExampleHoldsEveryKnownKeyAndLoads) {
  process.settingsFile = QUILLFEN_EXAMPLE_CONFIG;
  EXPECT_TRUE(load()) << ::testing::PrintToString(log);
  const std::vector<std::string> keys = Configs::IniKeys(process);
  for (const std::string_view key : KnownKeys()) {
    EXPECT_THAT(keys, ::testing::Contains(std::string(key)));
  }
}

// Neither blocks nor reads without end: each is refused at once, before "/config" too.
TEST_F(LoadConfigurationTest, AConfigIniThatIsNoRegularFileOrOverOneMebibyteIsRefused) {
  folder.write("Config.ini", "[Quillfen]\n;" + std::string(1 << 20, 'x'));
  EXPECT_THAT([&] { load("/config"); }, raises(errc::kPathFileAccess, "larger than 1 MiB"));
  fs::remove(ini);
  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
  EXPECT_THAT([&] { load("/config"); }, raises(errc::kPathFileAccess, "not a regular file"));
}

// The installed program's link into /etc/quillfen leads to nothing before the first start.
TEST(StoreProfileValueTest, WritesAPrivateFileThroughALinkToNothingYet) {
  const test::TempDir folder;
  const std::string ini = folder.str() + "/Config.ini";
  const fs::path target = folder.path() / "etc.ini";
  fs::create_symlink(target, ini);
  storeProfileValue(ini, "Quillfen", "A", "3");
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(test::readFile(target), "[Quillfen]\nA=3\n");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace quillfen
