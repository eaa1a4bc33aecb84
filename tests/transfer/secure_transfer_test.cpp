// The libcurl control over SFTP and FTP over TLS, against loopback servers whose keys and
// certificates the tests make.
#include "common/server_trust.h"
#include "common/transfer_scheme.h"
#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/test_certificate.h"
#include "support/test_platform.h"
#include "transfer/transfer_session.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class SecureTransferTest : public TransferSession {
 protected:
  SecureTransferTest()
      : TransferSession(
            {std::chrono::seconds(5), std::chrono::seconds(2), std::chrono::seconds(2)}) {}

  void connect(const std::string& url, const std::string& password = kPassword,
               const std::string& trust = {}, const std::string& keyFile = {}) {
    // As the settings read FtpTrust for the address's scheme.
    const bool tls = isFtpOverTls(transferSchemeOf(url).value());
    TransferSession::connect(url, password)
        .Trust(tls ? tlsTrustOf("FtpTrust", trust, 0) : sshTrustOf(trust));
    inet_->KeyFile(keyFile);
  }
  void knowHosts(const std::string& lines) const { home_.write(".ssh/known_hosts", lines); }

  TempDir home_, keys_;
  // The user's known_hosts is looked for in the home folder: each test has a home of its own.
  const ScopedVariable home{kHomeVariable, home_.str()};
};

// vsftpd refuses a data connection that does not resume the control connection's TLS session.
// Implicit TLS, the certificate trusted by its pin; explicit TLS with the certificate as a CA file
// is fetched from over several connections in ftp_connections_test.
TEST_F(SecureTransferTest, FtpsFetchesEveryFileOverOneControlConnectionReusingItsTlsSession) {
  const std::set<std::string> expected = sampleTree(remote_, 40);
  const TestCertificate certificate;
  VsftpdServer server(remote_.path(), certificate, true);
  connect("ftps://" + server.address() + "/my top", "", certificate.pin());
  inet_->UserName("anonymous");
  listAndFetchAll(expected);
  inet_.reset();  // ends the session, so that the server's log is complete
  EXPECT_EQ(server.logins(), 1);
}

// A case lists the home folder; `failure` is a part of the failure's text, empty when the
// listing succeeds. A trust failure names the presented key and logs nothing in.
// System: nothing given (FTPS: the system's certificate store); Unknown: nothing given nor known;
// Home: the server's line in ~/.ssh/known_hosts; Revoked: that line and a "@revoked" line for
// its key; CertAuthority: its key on a "@cert-authority" line only.
// From Unknown on, the trust fails and the presented key is named.
enum class Trust { System, Home, File, Pin, Unknown, OtherPin, Changed, Revoked, CertAuthority };
enum class Login { Password, KeyWithPassphrase, RsaKey };
struct SecureCase {
  const char* name;
  Trust trust;
  Login login;
  const char* failure;
  bool stall = false;
  const char* ftpScheme = "";  // FTPS cases: ftpes:// or ftps://
  const char* serverTls = "";  // FTPS cases: the server's TLS, "" for none
};

void PrintTo(const SecureCase& c, std::ostream* out) {
  *out << c.name;
}

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
    EXPECT_THAT(inet_->ResponseInfo(),
                ::testing::AllOf(HasSubstr(c.failure), Not(HasSubstr(password))));
    if (c.trust >= Trust::Unknown) {
      EXPECT_THAT(inet_->ResponseInfo(), HasSubstr(presented));
    }
  }
};

using SftpTest = SecureRefusalTest;

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
  const std::string hostKey = server.knownHostsLine().substr(server.hostPattern().size() + 1);
  if (c.trust == Trust::Home) knowHosts(server.knownHostsLine());
  if (c.trust == Trust::Revoked) knowHosts(server.knownHostsLine() + "@revoked * " + hostKey);
  if (c.trust == Trust::CertAuthority) knowHosts("@cert-authority " + server.knownHostsLine());
  if (c.trust == Trust::File) trust = keys_.write("hosts", server.knownHostsLine()).string();
  if (c.trust == Trust::Pin) trust = server.fingerprint();
  const std::string password = c.login == Login::KeyWithPassphrase ? "pass phrase" : kPassword;
  const std::string keyFile = c.login == Login::KeyWithPassphrase ? key.string()
                              : c.login == Login::RsaKey
                                  ? makeSshKey(keys_.path() / "id_rsa", "rsa").string()
                                  : std::string();
  const std::string presented = server.fingerprint();
  // No SFTP request needs a temporary folder where the system allows: its variable names one
  // that does not exist.
  std::optional<ScopedVariable> tmpdir;
  if (*kUnneededTemporaryFolderVariable != '\0')
    tmpdir.emplace(kUnneededTemporaryFolderVariable, (keys_.path() / "missing").string());
  connect(server.url(), password, trust, keyFile);
  listAndCheck(presented, password);
  EXPECT_EQ(server.logins(), *c.failure == '\0' || c.stall ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sftp, SftpTest,
    ::testing::Values(
        SecureCase{"KnownHostsFileAndKeyWithPassphrase", Trust::File, Login::KeyWithPassphrase, ""},
        SecureCase{"KnownHostsOfHomeWithoutTempFolder", Trust::Home, Login::Password, ""},
        SecureCase{"RevokedHostKeyRefused", Trust::Revoked, Login::Password, "host key is revoked"},
        SecureCase{"CertAuthorityLineTrustsNoHostKey", Trust::CertAuthority, Login::Password,
                   "host key is not known"},
        SecureCase{"UnknownHostKeyRefused", Trust::Unknown, Login::Password,
                   "host key is not known"},
        SecureCase{"ChangedHostKeyRefused", Trust::Changed, Login::Password,
                   "host key has changed"},
        SecureCase{"RsaKeyRefusalExplained", Trust::Pin, Login::RsaKey,
                   "use an ed25519 or ECDSA key"},
        SecureCase{"StallAfterLoginEndsInTime", Trust::Pin, Login::Password, "imeout", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The session's bounds of 10 s are twice what a cancel may take: one that waited for them fails.
using SftpCancelTest = TransferSession;

// The server sends the start of a file and then nothing: a cancel ends the request at once and
// without spinning, and keeps nothing of the file.
TEST_F(SftpCancelTest, CancelDuringAStalledDownloadEndsAtOnceWithoutSpinning) {
  remote_.write("big.bin", std::string(std::size_t{4} << 20, 'x'));
  SftpServer server(remote_.path(), kUser, kPassword,
                    {.clientKey = {}, .stall = false, .stallMidFile = true});
  connect(server.url()).Trust(sshTrustOf(server.fingerprint()));
  std::optional<std::chrono::steady_clock::time_point> cancelledAt;
  double processorAtCancel = 0;
  inet_->OnStateChanged([&](std::int16_t state) {
    if (state != transfer_state::kReceivingResponse || cancelledAt) return;
    cancelledAt = std::chrono::steady_clock::now();
    processorAtCancel = processorSeconds();
    inet_->Cancel();
  });
  get("big.bin", local_.path() / "big.bin");
  ASSERT_TRUE(cancelledAt) << inet_->ResponseInfo();
  EXPECT_LT(std::chrono::steady_clock::now() - *cancelledAt, std::chrono::seconds(5));
  EXPECT_LT(processorSeconds() - processorAtCancel, 1.0);
  EXPECT_EQ(inet_->Outcome(), RequestOutcome::Cancelled);
  EXPECT_TRUE(fs::is_empty(local_.path()));
}

using FtpsTest = SecureRefusalTest;

TEST_P(FtpsTest, RefusesWhatItCannotTrustOrProtect) {
  const SecureCase& c = GetParam();
  remote_.write("a.txt", "a");
  const TestCertificate certificate, other;
  FtpServer server(remote_.path(), kUser, kPassword,
                   {.failingFile = {},
                    .tls = c.serverTls,
                    .certificate = certificate.certificate(),
                    .key = certificate.key()});
  connect(c.ftpScheme + server.address(), kPassword, c.trust == Trust::OtherPin ? other.pin() : "");
  listAndCheck(certificate.pin(), kPassword);
  // Nothing is sent in clear, nor to a server that is not trusted.
  EXPECT_THAT(server.commands(), Not(::testing::Contains("USER")));
}

INSTANTIATE_TEST_SUITE_P(
    Ftps, FtpsTest,
    ::testing::Values(SecureCase{"OtherPinRefused", Trust::OtherPin, Login::Password,
                                 "certificate is not trusted", false, "ftps://", "implicit"},
                      SecureCase{"ServerWithoutTlsRefused", Trust::System, Login::Password,
                                 "does not offer TLS", false, "ftpes://", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen::test
