// The libcurl control over SFTP and FTP over TLS, against loopback servers whose keys and
// certificates the tests make.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"
#include "transfer/main_form.h"
#include "ui/console_event_pump.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kUser = "backup";
constexpr const char* kPassword = "s3cret:@/ \"x";
const auto kCompleted = EndsWith("icResponseCompleted\r\n");
const auto kFailed = EndsWith("icError\r\n");

// Names with blanks and beyond ASCII, a folder among them, and enough files that a new session
// per file would show in the server's log.
std::set<std::string> sampleTree(const TempDir& remote) {
  std::set<std::string> names = {"with blanks .doc", "Grüße – 日本.txt", "sub dir/"};
  for (int i = 0; i < 40; ++i) names.insert("file " + std::to_string(i) + ".bin");
  for (const std::string& name : names) {
    if (name.ends_with('/'))
      fs::create_directories(remote.path() / "my top" / name);
    else
      remote.write("my top/" + name, name + std::string(name.size() * 99, 'a'));
  }
  return names;
}

class SecureTransferTest : public ::testing::Test {
 protected:
  // The user's known_hosts is looked for under HOME: each test has a home of its own.
  SecureTransferTest() : oldHome_(getenv("HOME") ? getenv("HOME") : "") {
    setenv("HOME", home_.str().c_str(), 1);
  }
  ~SecureTransferTest() override { setenv("HOME", oldHome_.c_str(), 1); }

  void connect(const std::string& url, const std::string& password = kPassword,
               const std::string& trust = {}, const std::string& keyFile = {}) {
    inet_.emplace(frmMain_, pump_);  // the one before goes first
    inet_->URL(url);
    inet_->UserName(kUser);
    inet_->Password(password);
    inet_->Trust(trust);
    inet_->KeyFile(keyFile);
  }
  std::string list() {
    inet_->Execute(inet_->URL(), "DIR");
    std::string listing, piece;
    while (!(piece = std::get<std::string>(inet_->GetChunk(256))).empty()) listing += piece;
    return listing;
  }
  std::set<std::string> listedNames() {
    std::set<std::string> listed;
    std::istringstream lines(list());
    for (std::string line; std::getline(lines, line);)
      listed.insert(line.substr(0, line.size() - 1));
    return listed;
  }
  // Fetches every file of the listing and compares it with the server's copy.
  void fetchAll(const std::set<std::string>& listed, const fs::path& remoteFolder) {
    for (const std::string& name : listed) {
      if (name.ends_with('/')) continue;
      inet_->Execute(inet_->URL(),
                     "GET \"" + name + "\" \"" + (local_.path() / name).string() + "\"");
      ASSERT_THAT(inet_->EventList(), kCompleted) << name << ": " << inet_->ResponseInfo();
      ASSERT_EQ(readFile(local_.path() / name), readFile(remoteFolder / name));
    }
  }
  void knowHosts(const std::string& lines) const { home_.write(".ssh/known_hosts", lines); }

  // Short bounds, so that a server that hangs fails the test quickly.
  TransferTimeouts timeouts{std::chrono::seconds(5), std::chrono::seconds(2),
                            std::chrono::seconds(2)};
  TempDir remote_, local_, home_, keys_;
  std::string oldHome_;
  ConsoleEventPump pump_;
  MainForm frmMain_{[this] { return std::make_unique<CurlTransferControl>(pump_, timeouts); }};
  std::optional<Inet> inet_;
};

// The user's known_hosts, holding other hosts' keys too, is trusted when nothing else is given.
TEST_F(SecureTransferTest, SftpListsAndFetchesEveryFileOverOneSession) {
  const std::set<std::string> expected = sampleTree(remote_);
  SftpServer server(remote_.path(), kUser, kPassword);
  knowHosts("other.example " + readFile(makeSshKey(keys_.path() / "k").string() + ".pub") +
            server.knownHostsLine());
  const fs::path dated = remote_.path() / "my top" / "with blanks .doc";
  fs::last_write_time(dated, fs::last_write_time(dated) - std::chrono::hours(24 * 400));
  connect(server.url() + "/my top");
  EXPECT_EQ(listedNames(), expected);
  EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
  fetchAll(expected, remote_.path() / "my top");
  const auto toTheSecond = [](const fs::path& file) {
    return std::chrono::floor<std::chrono::seconds>(fs::last_write_time(file));
  };
  EXPECT_EQ(toTheSecond(local_.path() / "with blanks .doc"), toTheSecond(dated));
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(server.logins(), 1);
}

// vsftpd refuses a data connection that does not resume the control connection's TLS session.
// The certificate is trusted as a CA file (ftpes) and by its pin (ftps).
TEST_F(SecureTransferTest, FtpsFetchesEveryFileOverOneControlConnectionReusingItsTlsSession) {
  const std::set<std::string> expected = sampleTree(remote_);
  const TestCertificate certificate;
  for (const bool implicitTls : {false, true}) {
    SCOPED_TRACE(implicitTls ? "implicit" : "explicit");
    VsftpdServer server(remote_.path(), certificate, implicitTls);
    connect((implicitTls ? "ftps://" : "ftpes://") + server.address() + "/my top", "",
            implicitTls ? certificate.pin() : certificate.certificate().string());
    inet_->UserName("anonymous");
    EXPECT_EQ(listedNames(), expected);
    EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
    fetchAll(expected, remote_.path() / "my top");
    inet_.reset();  // ends the session, so that the server's log is complete
    EXPECT_EQ(server.logins(), 1);
  }
}

// A case lists the home folder; `failure` is a part of the failure's text, empty when the
// listing succeeds. A trust failure names the presented key and logs nothing in.
struct SecureCase {
  const char* name;
  // System: nothing given (FTPS: the system's certificate store); Unknown: nothing given nor known.
  enum class Trust { System, Unknown, File, Pin, OtherPin, Changed } trust;
  enum class Login { Password, WrongPassword, KeyWithPassphrase, RsaKey } login;
  const char* failure;
  bool stall = false;
  const char* ftpScheme = "";  // FTPS cases: ftpes:// or ftps://
  const char* serverTls = "";  // FTPS cases: the server's TLS, "" for none
};
using Trust = SecureCase::Trust;
using Login = SecureCase::Login;

class SecureRefusalTest : public SecureTransferTest,
                          public ::testing::WithParamInterface<SecureCase> {
 protected:
  void listAndCheck(const std::string& presented, const std::string& password) {
    const SecureCase& c = GetParam();
    const auto started = std::chrono::steady_clock::now();
    const std::string listing = list();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_EQ(listing, *c.failure == '\0' ? "a.txt\r\n" : "");
    EXPECT_THAT(inet_->EventList(), *c.failure == '\0' ? kCompleted : kFailed);
    EXPECT_THAT(inet_->ResponseInfo(), AllOf(HasSubstr(c.failure), Not(HasSubstr(password))));
    if (c.trust == Trust::OtherPin || c.trust == Trust::Changed || c.trust == Trust::Unknown) {
      EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(presented));
    }
  }
};

class SftpTest : public SecureRefusalTest {};

TEST_P(SftpTest, TrustsOnlyTheHostKeysGivenAndLogsInAsConfigured) {
  const SecureCase& c = GetParam();
  remote_.write("a.txt", "a");
  const fs::path key = makeSshKey(keys_.path() / "id", "ed25519", "pass phrase");
  const bool byKey = c.login == Login::KeyWithPassphrase || c.login == Login::RsaKey;
  SftpServer server(remote_.path(), kUser, kPassword,
                    {byKey ? key.string() + ".pub" : std::string(), c.stall});
  std::string trust;
  if (c.trust == Trust::Changed)
    knowHosts(server.hostPattern() + " " + readFile(key.string() + ".pub"));
  if (c.trust == Trust::File) trust = keys_.write("hosts", server.knownHostsLine());
  if (c.trust == Trust::Pin) trust = server.fingerprint();
  if (c.trust == Trust::OtherPin) trust = sshFingerprint(key.string() + ".pub");
  const std::string password = c.login == Login::WrongPassword       ? "wrong"
                               : c.login == Login::KeyWithPassphrase ? "pass phrase"
                                                                     : kPassword;
  const std::string keyFile = c.login == Login::KeyWithPassphrase ? key.string()
                              : c.login == Login::RsaKey
                                  ? makeSshKey(keys_.path() / "id_rsa", "rsa").string()
                                  : std::string();
  connect(server.url(), password, trust, keyFile);
  listAndCheck(server.fingerprint(), password);
  EXPECT_EQ(server.logins(), *c.failure == '\0' || c.stall ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sftp, SftpTest,
    ::testing::Values(
        SecureCase{"KnownHostsFileAndKeyWithPassphrase", Trust::File, Login::KeyWithPassphrase, ""},
        SecureCase{"PinnedHostKey", Trust::Pin, Login::Password, ""},
        SecureCase{"OtherPinRefused", Trust::OtherPin, Login::Password,
                   "host key is not the one pinned in FtpTrust"},
        SecureCase{"UnknownHostKeyRefused", Trust::Unknown, Login::Password,
                   "host key is not known"},
        SecureCase{"ChangedHostKeyRefused", Trust::Changed, Login::Password,
                   "host key has changed"},
        SecureCase{"WrongPasswordRefused", Trust::Pin, Login::WrongPassword,
                   "The server refused the login (user name or password)"},
        SecureCase{"RsaKeyRefusalExplained", Trust::Pin, Login::RsaKey,
                   "use an ed25519 or ECDSA key"},
        SecureCase{"StallAfterLoginEndsInTime", Trust::Pin, Login::Password, "imeout", true}),
    [](const auto& info) { return std::string(info.param.name); });

class FtpsTest : public SecureRefusalTest {};

TEST_P(FtpsTest, RefusesWhatItCannotTrustOrProtect) {
  const SecureCase& c = GetParam();
  remote_.write("a.txt", "a");
  const TestCertificate certificate, other;
  FtpServerOptions options;
  options.tls = c.serverTls;
  options.certificate = certificate.certificate();
  options.key = certificate.key();
  options.stallLogin = c.stall;
  FtpServer server(remote_.path(), kUser, kPassword, options);
  const std::string password = c.login == Login::WrongPassword ? "wrong" : kPassword;
  connect(c.ftpScheme + server.address(), password,
          c.trust == Trust::Pin        ? certificate.pin()
          : c.trust == Trust::OtherPin ? other.pin()
                                       : "");
  listAndCheck(certificate.pin(), password);
  // Nothing is sent in clear, nor to a server that is not trusted.
  const bool loginSent = c.stall || c.login == Login::WrongPassword;
  EXPECT_EQ(loginSent, ::testing::Value(server.commands(), ::testing::Contains("USER")));
}

INSTANTIATE_TEST_SUITE_P(
    Ftps, FtpsTest,
    ::testing::Values(SecureCase{"SelfSignedNotInTheSystemStore", Trust::Unknown, Login::Password,
                                 "certificate is not trusted", false, "ftpes://", "explicit"},
                      SecureCase{"OtherPinRefused", Trust::OtherPin, Login::Password,
                                 "certificate is not trusted", false, "ftps://", "implicit"},
                      SecureCase{"ServerWithoutTlsRefused", Trust::System, Login::Password,
                                 "does not offer TLS", false, "ftpes://", ""},
                      SecureCase{"WrongPasswordRefused", Trust::Pin, Login::WrongPassword, "530 ",
                                 false, "ftpes://", "explicit"},
                      SecureCase{"ExplicitStallAfterHandshakeEndsInTime", Trust::Pin,
                                 Login::Password, "imeout", true, "ftpes://", "explicit"},
                      SecureCase{"ImplicitStallAfterHandshakeEndsInTime", Trust::Pin,
                                 Login::Password, "imeout", true, "ftps://", "implicit"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen::test
