#include "config/configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "common/error.h"
#include "config/configs.h"
#include "config/profile_file.h"
#include "config/profile_text.h"
#include "config/whole_number.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Optional;
using ::testing::Property;

auto raises(int number, const std::string& text) {
  return ::testing::Throws<Error>(::testing::AllOf(Property(&Error::number, number),
                                                   Property(&Error::description, HasSubstr(text))));
}

// Words of each refusal's message, enough to tell them apart.
constexpr const char* kNoSource = "FTP server or a network path";
constexpr const char* kNoDestination = "destination path";
constexpr const char* kBadExpiration = "DaysTillExpiration must be";

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
  ::testing::Matcher<const std::vector<std::string>&> refusedWith(const char* message) const {
    if (message == nullptr) return IsEmpty();
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

// The first start's message, the template and the /config switch are checked end to end; here,
// the template's numbers read back, its missing source refused, and only the exact switch opens
// a present file.
TEST_F(LoadConfigurationTest, TheTemplateReadsBackAndOnlyTheExactSwitchOpensAPresentFile) {
  EXPECT_FALSE(load());
  EXPECT_FALSE(load());
  EXPECT_THAT(log, refusedWith(kNoSource));
  folder.write("Config.ini", "[Quillfen]\nNetworkPath=/srv\nDestinationFolder=/backup\n");
  EXPECT_FALSE(load("/config"));
  EXPECT_EQ(refusal, ConfigurationRefusal::EditRequested);
  for (const char* other : {"/CONFIG", "/config x", " /config"}) {
    EXPECT_TRUE(load(other)) << other;
    EXPECT_THAT(log, IsEmpty()) << other;
  }
}

TEST_F(LoadConfigurationTest, EachValidationHasItsMessageInItsOrder) {
  using namespace std::string_literals;
  const std::string ok = "NetworkPath=/n\nDestinationFolder=/b\n";  // nothing to refuse
  const std::pair<std::string, const char*> cases[] = {
      // keys, the message (nullptr: the run may go on)
      {"DestinationFolder=/b\n", kNoSource},
      {"FtpIPAddress=\"   \"\nDestinationFolder=/b\n", kNoSource},
      {"NetworkPath=/n\nDaysTillExpiration=0\n", kNoDestination},
      {"FtpIPAddress=h\nDestinationFolder=/b\nDaysTillExpiration=0\n", kBadExpiration},
      {"FtpIPAddress=\" h\"\nDestinationFolder=/b\nDaysTillExpiration=1\n", nullptr},
      // Every system call would see "/b": today's folder would be the destination itself.
      {"NetworkPath=/n\nDestinationFolder=/b\0x\n"s, "DestinationFolder must not contain"},
      {ok + "MailTo=a@x;A <a@x>, B <b@x>\n",
       "MailTo must name one address of at most 254 characters per entry, written addr or Name "
       "<addr>; this entry is not one: 'A <a@x>, B <b@x>'"},
      {ok + "MailTo=a@x> NOTIFY=NEVER\n", "not one: 'a@x> NOTIFY=NEVER'"},
      {ok + "MailFrom=" + std::string(250, 'f') + "@x.test\n", "MailFrom must name one address"},
      {ok + "MailTo=a@x;\"B, Team\" < b@x > ;Ops <o@x>\n", nullptr},
      {ok + "MailSecurity=ssl\n", "MailSecurity must be none, starttls or tls; it is 'ssl'."},
      {ok + "MailPort=2525\nMailUserName=u\n", "MailUserName needs MailSecurity starttls or tls"},
      {ok + "MailTrust=/nonexistent/ca.pem\n", "'/nonexistent/ca.pem': the file cannot be read"},
      {ok + "MailTrust=sha256//abc\n", "MailTrust 'sha256//abc'"},
      {ok + "PingUrl=ftp://hc.test/x\n", "PingUrl must be an http:// or https:// URL; it is 'ftp"},
      {ok + "IncludeSubfolders=maybe\n", "IncludeSubfolders must be yes or no; it is 'maybe'."},
      {ok + "IncludeSubfolders=TRUE\nLinkUnchanged=2\n", "LinkUnchanged must be yes or no; it is"},
      {ok + "IncludeSubfolders=Yes\nLinkUnchanged=0\n", nullptr},
      {ok + "MailPort=587\nMailUserName=u\nPingUrl=https://hc.test/x\nMailTrust=sha256//"
            "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=\n",
       nullptr},
  };
  for (const auto& [keys, message] : cases) {
    EXPECT_EQ(loadIni(keys), message == nullptr) << keys;
    EXPECT_THAT(log, refusedWith(message)) << keys;
  }
}

// The FTP source's scheme decides what FtpKeyFile and FtpTrust may be; a network source makes
// them all unused.
TEST_F(LoadConfigurationTest, SecureSourceKeysAreCheckedForTheirScheme) {
  const std::string key = folder.write("id", "key").string();
  const std::string fingerprint = "SHA256:" + std::string(43, 'A');
  const std::pair<std::string, const char*> cases[] = {
      {"FtpIPAddress=http://h/d\n", "this scheme is none of them: 'http://'"},
      {"NetworkPath=/n\nFtpIPAddress=http://h\nFtpKeyFile=/none\n", nullptr},
      {"FtpIPAddress=sftp://h//srv\nFtpKeyFile=" + key + "\nFtpTrust=" + fingerprint + "\n",
       nullptr},
      {"FtpIPAddress=SFTP://h\nFtpTrust=" + key + "\n", nullptr},
      {"FtpIPAddress=sftp://h\nFtpKeyFile=/no/such/key\n",
       "FtpKeyFile names no file this program can read: '/no/such/key'"},
      {"FtpIPAddress=sftp://h\nFtpTrust=SHA256:short\n", "FtpTrust for sftp:// must be"},
      {"FtpIPAddress=ftps://h\nFtpKeyFile=" + key + "\n", "FtpKeyFile is for sftp:// sources"},
      {"FtpIPAddress=ftpes://h\nFtpTrust=sha256//short\n", "a pin is sha256//"},
      {"FtpIPAddress=ftps://h\nFtpTrust=" + key + "\n", "holds no PEM certificate"},
      {"FtpIPAddress=ftp://h\nFtpTrust=" + fingerprint + "\n", "plain FTP has nothing to trust"},
  };
  for (const auto& [keys, message] : cases) {
    EXPECT_EQ(loadIni("DestinationFolder=/b\n" + keys), message == nullptr) << keys;
    EXPECT_THAT(log, refusedWith(message)) << keys;
  }
}

// Neither blocks nor reads without end: each is refused at once, before "/config" too.
TEST_F(LoadConfigurationTest, AConfigIniThatIsNoRegularFileOrOverOneMebibyteIsRefused) {
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { fs::create_directory(ini); }, "not a regular file"},
      {[&] { folder.write("Config.ini", "[Quillfen]\n;" + std::string(1 << 20, 'x')); },
       "larger than 1 MiB"},
      {[&] { ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0); }, "not a regular file"},
      {[&] { fs::create_symlink("/dev/zero", ini); }, "not a regular file"},
  };
  for (const auto& [make, text] : cases) {
    fs::remove(ini);
    make();
    for (const char* commandLine : {"", "/config"}) {
      EXPECT_THAT([&] { load(commandLine); }, raises(errc::kPathFileAccess, text)) << text;
    }
  }
}

TEST_F(LoadConfigurationTest, PathsLoseOneTrailingSlashStringsStayAsReadNumbersHaveDefaults) {
  ASSERT_TRUE(loadIni("NetworkPath=/backup//\nDestinationFolder=\"/backup/ \""));
  EXPECT_EQ(settings.NetworkPath, "/backup/");
  EXPECT_EQ(settings.DestinationFolder, "/backup/ ");
  EXPECT_EQ(settings.DaysTillExpiration, 365);
  EXPECT_EQ(settings.MailPort, 25);
  const std::string recipients = std::string(240, 'r') + "@example.com;b@example.com";
  ASSERT_TRUE(loadIni("NetworkPath=/n\nDestinationFolder=/b\nMailTo=" + recipients +
                      "\nDaysTillExpiration=\" 7 \"\nMailPort=\n"));
  EXPECT_EQ(settings.MailTo, recipients);
  EXPECT_EQ(settings.DaysTillExpiration, 7);
  EXPECT_EQ(settings.MailPort, 25) << "an empty number takes its default";
}

TEST_F(LoadConfigurationTest, MailSecurityIsReadInAnyCaseAndFollowsThePortWhenUnset) {
  const std::pair<std::string, MailSecurityMode> cases[] = {
      {"MailPort=465\n", MailSecurityMode::Tls},
      {"MailPort=587\n", MailSecurityMode::StartTls},
      {"MailPort=25\n", MailSecurityMode::None},
      {"MailPort=25\nMailSecurity= TLS \n", MailSecurityMode::Tls},
      {"MailPort=587\nMailSecurity=None\n", MailSecurityMode::None},
      {"MailPort=2525\nMailSecurity=StartTLS\n", MailSecurityMode::StartTls},
  };
  for (const auto& [keys, mode] : cases) {
    ASSERT_TRUE(loadIni("NetworkPath=/n\nDestinationFolder=/b\n" + keys)) << keys;
    EXPECT_EQ(settings.MailSecurity, mode) << keys;
  }
}

TEST(WholeNumberSettingTest, RoundsHalvesToEvenAndRefusalsNameTheKeyAndTheValue) {
  using In = std::pair<const char*, std::int32_t>;
  for (const auto& [text, value] :
       {In{"  42\t", 42}, In{"2.5", 2}, In{"-3.5", -4}, In{"2.50000000000000000001", 3},
        In{"-2147483648.5", INT32_MIN}}) {
    EXPECT_EQ(wholeNumberSetting("MailPort", text), value) << text;
  }
  using Out = std::pair<const char*, int>;
  for (const auto& [text, number] :
       {Out{"", errc::kTypeMismatch}, Out{"1e3", errc::kTypeMismatch},
        Out{"&H10", errc::kTypeMismatch}, Out{"1,000", errc::kTypeMismatch},
        Out{"- 5", errc::kTypeMismatch}, Out{"2147483647.5", errc::kOverflow},
        Out{"99999999999999999999999", errc::kOverflow}}) {
    EXPECT_THAT([&] { wholeNumberSetting("Days", text); }, raises(number, "Days is")) << text;
    EXPECT_THAT([&] { wholeNumberSetting("Days", text); },
                raises(number, ": '" + std::string(text) + "'"));
  }
}

TEST(ProfileTextTest, ReadsTheFirstValueOfTheKeyInTheSectionByTheProfileRules) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      // the text, the value of MailTo in section Quillfen
      {"[quillfen]\nmailTO=a", "a"},
      {"  [ Quillfen ]  \n\t MailTo \t=  a b \t\n", "a b"},
      {"[Quillfen]\n;MailTo=x\n  ; MailTo=w\nMailTo=y", "y"},
      {"[Other]\nMailTo=x\n[Quillfen]\nMailTo=y\nMAILTO=b", "y"},
      {"[Quillfen]\nMailFrom=f\n[Other]\nMailTo=x", std::nullopt},
      {"\xEF\xBB\xBF[Quillfen]\r\nMailTo=a\r\n", "a"},
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
      {"[X]\r\nB=2", "[X]\r\nB=2\r\n\r\n[Quillfen]\r\nMailTo=new\r\n"},
  };
  for (const auto& [before, after] : cases) {
    EXPECT_EQ(withProfileValue(before, "Quillfen", "MailTo", "new"), after) << before;
  }
  for (const char* value : {"", " lead", "trail\t", "\"q\"", "\"", "; not a comment"}) {
    const std::string text = withProfileValue("[Quillfen]\nKey=old\n", "Quillfen", "Key", value);
    EXPECT_THAT(findProfileValue(text, "Quillfen", "Key"), Optional(std::string(value))) << text;
  }
  EXPECT_THROW(withProfileValue("", "Quillfen", "a=b", "v"), Error);
  EXPECT_THROW(withProfileValue("", "Quillfen", "K", "two\nlines"), Error);
}

TEST(StoreProfileValueTest, WritesAPrivateFileOrThroughALinkAlsoOneToNothingYet) {
  const test::TempDir folder;
  const std::string ini = folder.str() + "/Config.ini";
  const auto permissions = [](const fs::path& p) { return fs::status(p).permissions(); };
  const auto owners = fs::perms::owner_read | fs::perms::owner_write;
  storeProfileValue(ini, "Quillfen", "A", "1");
  EXPECT_EQ(test::readFile(ini), "[Quillfen]\nA=1\n");
  EXPECT_EQ(permissions(ini), owners);

  // A present file keeps its permissions; the installed program's link into /etc/quillfen
  // before the first start leads to nothing yet.
  const fs::path real = folder.write("real.ini", "[Quillfen]\nA=1\n");
  fs::permissions(real, owners | fs::perms::group_read);
  for (const auto& [target, perms, value] : {std::tuple{real, owners | fs::perms::group_read, "2"},
                                             {folder.path() / "etc.ini", owners, "3"}}) {
    fs::remove(ini);
    fs::create_symlink(target, ini);
    storeProfileValue(ini, "Quillfen", "A", value);
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(test::readFile(target), "[Quillfen]\nA=" + std::string(value) + "\n");
    EXPECT_EQ(permissions(target), perms);
  }
}

}  // namespace
}  // namespace quillfen
