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
#include "support/sftp_server.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"
#include "support/vsftpd_server.h"
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

// Names with blanks and beyond ASCII, folders among them, and enough files that a new session
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

TEST_F(SecureTransferTest, SftpListsAndFetchesEveryFileOverOneSession) {
  const std::set<std::string> expected = sampleTree(remote_);
  SftpServer server(remote_.path(), kUser, kPassword);
  knowHosts(
      "other.example ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIJdD7y3aLq454yWBdwLWbieU1ebz9/cu"
      "7/QEXn9OIeZJ\n" +
      server.knownHostsLine());
  const fs::path dated = remote_.path() / "my top" / "with blanks .doc";
  fs::last_write_time(dated, fs::last_write_time(dated) - std::chrono::hours(24 * 400));
  connect(server.address() + "/my top");
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

// How the host key is trusted and how the user logs in; each case lists the home folder.
struct SftpLoginCase {
  const char* name;
  enum class Trust { KnownHosts, KnownHostsFile, Pin, OtherPin, Unknown, Changed } trust;
  enum class Login { Password, WrongPassword, KeyWithPassphrase, RsaKey } login;
  const char* failure;  // a part of the failure's text; empty when the listing succeeds
  bool stall = false;
};

void PrintTo(const SftpLoginCase& c, std::ostream* out) {
  *out << c.name;
}

class SftpLoginTest : public SecureTransferTest,
                      public ::testing::WithParamInterface<SftpLoginCase> {};

TEST_P(SftpLoginTest, TrustsOnlyTheKeysTheUserGaveAndLogsInAsConfigured) {
  const SftpLoginCase& c = GetParam();
  using Trust = SftpLoginCase::Trust;
  using Login = SftpLoginCase::Login;
  remote_.write("a.txt", "a");
  const bool byKey = c.login == Login::KeyWithPassphrase || c.login == Login::RsaKey;
  const fs::path clientKey = makeSshKey(keys_.path() / "id", "ed25519", "pass phrase");
  const fs::path rsaKey = makeSshKey(keys_.path() / "id_rsa", "rsa");
  SftpServerOptions options{.clientKey = {}, .stall = c.stall};
  if (byKey) options.clientKey = clientKey.string() + ".pub";
  SftpServer server(remote_.path(), kUser, kPassword, options);

  std::string trust;
  if (c.trust == Trust::KnownHosts) knowHosts(server.knownHostsLine());
  if (c.trust == Trust::KnownHostsFile) trust = keys_.write("hosts", server.knownHostsLine());
  if (c.trust == Trust::Pin) trust = server.fingerprint();
  if (c.trust == Trust::OtherPin) trust = sshFingerprint(clientKey.string() + ".pub");
  if (c.trust == Trust::Changed)
    knowHosts(server.hostPattern() + " " + readFile(clientKey.string() + ".pub"));
  const std::string password = c.login == Login::WrongPassword       ? "wrong"
                               : c.login == Login::KeyWithPassphrase ? "pass phrase"
                                                                     : kPassword;
  const std::string keyFile = c.login == Login::KeyWithPassphrase ? clientKey.string()
                              : c.login == Login::RsaKey          ? rsaKey.string()
                                                                  : std::string();
  connect(server.address(), password, trust, keyFile);
  const auto started = std::chrono::steady_clock::now();
  const std::string listing = list();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  if (*c.failure == '\0') {
    EXPECT_EQ(listing, "a.txt\r\n");
    EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
    return;
  }
  EXPECT_EQ(listing, "");
  EXPECT_THAT(inet_->EventList(), kFailed);
  EXPECT_THAT(inet_->ResponseInfo(), AllOf(HasSubstr(c.failure), Not(HasSubstr(password))));
  const bool trustFailure =
      c.trust == Trust::OtherPin || c.trust == Trust::Unknown || c.trust == Trust::Changed;
  if (trustFailure) {
    EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(server.fingerprint()));
  }
  EXPECT_EQ(server.logins(), c.stall ? 1 : 0);
}

using Trust = SftpLoginCase::Trust;
using Login = SftpLoginCase::Login;
INSTANTIATE_TEST_SUITE_P(
    Sftp, SftpLoginTest,
    ::testing::Values(SftpLoginCase{"KnownHostsOfTheUser", Trust::KnownHosts, Login::Password, ""},
                      SftpLoginCase{"KnownHostsFileAndKeyWithPassphrase", Trust::KnownHostsFile,
                                    Login::KeyWithPassphrase, ""},
                      SftpLoginCase{"PinnedHostKey", Trust::Pin, Login::Password, ""},
                      SftpLoginCase{"OtherPinRefused", Trust::OtherPin, Login::Password,
                                    "host key is not the one pinned in FtpTrust"},
                      SftpLoginCase{"UnknownHostKeyRefused", Trust::Unknown, Login::Password,
                                    "host key is not known"},
                      SftpLoginCase{"ChangedHostKeyRefused", Trust::Changed, Login::Password,
                                    "host key has changed"},
                      SftpLoginCase{"WrongPasswordRefused", Trust::Pin, Login::WrongPassword,
                                    "The server refused the login (user name or password)"},
                      SftpLoginCase{"RsaKeyRefusalExplained", Trust::Pin, Login::RsaKey,
                                    "use an ed25519 or ECDSA key"},
                      SftpLoginCase{"StallAfterLoginEndsInTime", Trust::Pin, Login::Password,
                                    "imeout", true}),
    [](const auto& info) { return std::string(info.param.name); });

FtpServerOptions tlsServer(const std::string& mode, const TestCertificate& certificate) {
  FtpServerOptions options;
  options.tls = mode;
  options.certificate = certificate.certificate();
  options.key = certificate.key();
  return options;
}

// The control connection's TLS session carries every data connection's; the certificate is
// trusted as a CA file (ftpes) and by its pin (ftps).
TEST_F(SecureTransferTest, FtpsListsAndFetchesEveryFileOverOneControlConnection) {
  const std::set<std::string> expected = sampleTree(remote_);
  const TestCertificate certificate;
  for (const char* mode : {"explicit", "implicit"}) {
    SCOPED_TRACE(mode);
    FtpServer server(remote_.path(), kUser, kPassword, tlsServer(mode, certificate));
    const bool explicitTls = std::string(mode) == "explicit";
    connect((explicitTls ? "ftpes://" : "ftps://") + server.address() + "/my top", kPassword,
            explicitTls ? certificate.certificate().string() : certificate.pin());
    EXPECT_EQ(listedNames(), expected);
    EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
    fetchAll(expected, remote_.path() / "my top");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.logins(), 1);
  }
}

// vsftpd refuses a data connection that does not resume the control connection's TLS session.
TEST_F(SecureTransferTest, FtpsDataConnectionsReuseTheTlsSessionAsVsftpdDemands) {
  const std::set<std::string> expected = sampleTree(remote_);
  const TestCertificate certificate;
  for (const bool implicitTls : {false, true}) {
    SCOPED_TRACE(implicitTls ? "implicit" : "explicit");
    VsftpdServer server(remote_.path(), certificate.certificate(), certificate.key(), implicitTls);
    connect((implicitTls ? "ftps://" : "ftpes://") + server.address() + "/my top", "",
            certificate.pin());
    inet_->UserName("anonymous");
    EXPECT_EQ(listedNames(), expected);
    EXPECT_THAT(inet_->EventList(), kCompleted) << inet_->ResponseInfo();
    fetchAll(expected, remote_.path() / "my top");
    inet_.reset();  // ends the session, so that the server's log is complete
    EXPECT_EQ(server.logins(), 1);
  }
}

struct FtpsCase {
  const char* name;
  const char* scheme;
  const char* serverTls;  // "" for a server without TLS
  enum class Trust { System, Pin, OtherPin } trust;
  const char* password;
  const char* failure;  // a part of the failure's text
  bool stallLogin = false;
};

// Trust failures name the pin of the key presented; they and a server without TLS end the
// exchange before the login is sent.
bool isTrustFailure(const FtpsCase& c) {
  return std::string(c.failure).find("not trusted") != std::string::npos;
}
bool reachesLogin(const FtpsCase& c) {
  return !isTrustFailure(c) && *c.serverTls != '\0';
}

void PrintTo(const FtpsCase& c, std::ostream* out) {
  *out << c.name;
}

class FtpsRefusalTest : public SecureTransferTest,
                        public ::testing::WithParamInterface<FtpsCase> {};

// Every case ends in a failed listing, within the limits, and never shows the password.
TEST_P(FtpsRefusalTest, EndsTheListingInErrorAndSaysWhy) {
  const FtpsCase& c = GetParam();
  remote_.write("a.txt", "a");
  const TestCertificate certificate, other;
  FtpServerOptions options = tlsServer(c.serverTls, certificate);
  options.stallLogin = c.stallLogin;
  FtpServer server(remote_.path(), kUser, kPassword, options);
  const std::string trust = c.trust == FtpsCase::Trust::Pin        ? certificate.pin()
                            : c.trust == FtpsCase::Trust::OtherPin ? other.pin()
                                                                   : std::string();
  connect(c.scheme + server.address(), c.password, trust);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(list(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_THAT(inet_->EventList(), kFailed);
  EXPECT_THAT(inet_->ResponseInfo(), AllOf(HasSubstr(c.failure), Not(HasSubstr(c.password))));
  if (isTrustFailure(c)) {
    EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(certificate.pin()));
  }
  EXPECT_EQ(server.logins(), 0);
  EXPECT_EQ(reachesLogin(c), ::testing::Value(server.commands(), ::testing::Contains("USER")));
}

INSTANTIATE_TEST_SUITE_P(
    Ftps, FtpsRefusalTest,
    ::testing::Values(FtpsCase{"SelfSignedNotInTheSystemStore", "ftpes://", "explicit",
                               FtpsCase::Trust::System, kPassword, "certificate is not trusted"},
                      FtpsCase{"OtherPinRefused", "ftps://", "implicit", FtpsCase::Trust::OtherPin,
                               kPassword, "certificate is not trusted"},
                      FtpsCase{"ServerWithoutTlsRefused", "ftpes://", "", FtpsCase::Trust::System,
                               kPassword, "does not offer TLS"},
                      FtpsCase{"WrongPasswordRefused", "ftpes://", "explicit", FtpsCase::Trust::Pin,
                               "wrong", "530 "},
                      FtpsCase{"ExplicitStallAfterHandshakeEndsInTime", "ftpes://", "explicit",
                               FtpsCase::Trust::Pin, kPassword, "imeout", true},
                      FtpsCase{"ImplicitStallAfterHandshakeEndsInTime", "ftps://", "implicit",
                               FtpsCase::Trust::Pin, kPassword, "imeout", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen::test
