// The files of a source fetched over several connections at once, from pyftpdlib, from vsftpd
// over TLS and from OpenSSH's sshd, through the real transfer control and file system: every file
// arrives once, each connection is a login of its own, a login the server refuses costs nothing
// but speed, and a Cancel stops every transfer at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"
#include "support/temporary_file_kinds.h"
#include "support/test_certificate.h"
#include "support/user_at_the_pump.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Names = std::vector<std::string>;

enum class Server { Pyftpdlib, Vsftpd, OpenSsh };
constexpr const char* kServerNames[] = {"Pyftpdlib", "Vsftpd", "OpenSsh"};
void PrintTo(Server server, std::ostream* out) {
  *out << kServerNames[static_cast<int>(server)];
}

// A file no server delivers: pyftpdlib breaks its download off, vsftpd and sshd find a link to
// nothing.
constexpr const char* kFailing = "x.bin";

// A time every server lists exactly: whole minutes, recent enough for LIST to give the time.
const std::time_t kListedTime = std::time(nullptr) / 60 * 60 - 7200;

class ConnectionsTest : public ::testing::Test {
 protected:
  ConnectionsTest() {
    // vsftpd lists only what anyone may read.
    fs::permissions(source.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
  }

  // Starts `server` over the files written so far, taking `limit` connections from one address
  // (0: any number; pyftpdlib with `limitsLogins`: `limit` sessions logged in), each download at
  // `bytesPerSecond` (0: at full speed).
  void start(Server server, int limit = 0, std::size_t bytesPerSecond = 0,
             bool limitsLogins = false) {
    if (server == Server::Pyftpdlib) {
      run.Settings.FtpUserName = "backup";
      run.Settings.FtpPassword = "secret";
      pyftpdlib.emplace(source.path(), "backup", "secret",
                        test::FtpServerOptions{.failingFile = kFailing,
                                               .bytesPerSecond = bytesPerSecond,
                                               .maxConnections = limitsLogins ? 0 : limit,
                                               .maxLogins = limitsLogins ? limit : 0});
      run.Settings.FtpIPAddress = pyftpdlib->address();
    } else if (server == Server::Vsftpd) {
      vsftpd.emplace(source.path(), certificate, false, limit, bytesPerSecond);
      run.Settings.FtpIPAddress = "ftpes://" + vsftpd->address();
      run.Settings.FtpTrust = certificate.certificate().string();
      run.Settings.FtpServerTrust = tlsTrustOf("FtpTrust", run.Settings.FtpTrust, 0);
    } else {
      openssh.emplace(test::makeSshKey(keys.path() / "id").string() + ".pub");
      run.Settings.FtpIPAddress = openssh->url(source.path());
      run.Settings.FtpTrust = openssh->fingerprint();
      run.Settings.FtpServerTrust = sshTrustOf(run.Settings.FtpTrust);
      run.Settings.FtpUserName = test::OpensshServer::user();
      run.Settings.FtpKeyFile = (keys.path() / "id").string();
    }
    run.Settings.FtpSource = parseFtpAddress(run.Settings.FtpIPAddress);
  }

  void fetch(int connections = 4) {
    run.Settings.FtpConnections = connections;
    fs::create_directories(today());
    Inet inet(frmMain, pump);
    DownloadFromFtp(run, services, inet, today().string());
  }

  fs::path today() const { return dest.path() / day; }
  Names filesInToday() const {
    Names names;
    for (const auto& entry : fs::directory_iterator(today()))
      names.push_back(test::utf8Name(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }
  // The names of the files the server was asked for, sorted; sshd logs none.
  std::optional<Names> requested() const {
    if (openssh) return std::nullopt;
    Names names;
    for (const std::string& path : pyftpdlib ? pyftpdlib->retrieved() : vsftpd->downloads())
      names.push_back(test::utf8Name(fs::path(path).filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

  // Files of many sizes, all of one time to the minute; their names, sorted.
  Names writeSource() {
    Names names;
    for (std::size_t i = 0; i < 24; ++i) {
      names.push_back("file " + std::to_string(100 + i) + ".dat");
      const std::string text((i + 1) * 5000, static_cast<char>('a' + i));
      test::setModified(source.write(names.back(), text), kListedTime);
    }
    return names;
  }

  test::TempDir source, dest, exeFolder, keys;
  std::string day = "20261207";
  test::TestCertificate certificate;
  test::FakeEnvironment env{exeFolder.str()};
  test::UserAtThePump pump;
  MainForm frmMain{[this] { return std::make_unique<CurlTransferControl>(pump); }};
  Services services = env.servicesOver(pump, frmMain);
  std::optional<test::FtpServer> pyftpdlib;
  std::optional<test::VsftpdServer> vsftpd;
  std::optional<test::OpensshServer> openssh;
  RunModule run;
};

// `connections` asked for, the server taking `limit` of them (0: all).
struct ConnectionCase {
  Server server;
  const char* name;
  int connections;
  int limit;
  bool failing;              // one file of the source cannot be fetched
  const char* refusal = "";  // how the server refuses the connections past its limit
};
void PrintTo(const ConnectionCase& c, std::ostream* out) {
  *out << kServerNames[static_cast<int>(c.server)] << c.name;
}

class ConnectionTable : public ConnectionsTest,
                        public ::testing::WithParamInterface<ConnectionCase> {};

// Each file is asked for once over all connections and arrives whole with its listed time; a
// file that fails costs itself only; a refused login costs no file and is said in one line.
TEST_P(ConnectionTable, EveryFileArrivesOnceOverTheConnectionsTheServerTook) {
  const ConnectionCase& c = GetParam();
  Names expected = writeSource();
  start(c.server, c.limit, 0, c.refusal[0] == '5');
  if (c.failing && c.server == Server::Pyftpdlib)
    source.write(kFailing, std::string(256 << 10, 'x'));
  if (c.failing && c.server != Server::Pyftpdlib)  // by ln: Wine makes no symbolic links
    test::runTool({"/bin/ln", "-s", "missing", (source.path() / kFailing).string()});

  fetch(c.connections);

  EXPECT_EQ(filesInToday(), expected) << run.ActivityReport;
  for (const std::string& name : expected) {
    EXPECT_EQ(test::readFile(today() / name), test::readFile(source.path() / name)) << name;
    EXPECT_EQ(fs::last_write_time(today() / name), fs::last_write_time(source.path() / name));
  }
  if (c.failing) expected.push_back(kFailing);
  EXPECT_EQ(requested().value_or(expected), expected);  // sshd logs none
  const int logins = pyftpdlib ? pyftpdlib->logins()
                     : vsftpd  ? vsftpd->logins()
                               : openssh->logins();
  EXPECT_EQ(logins, c.limit ? c.limit : c.connections);
  EXPECT_EQ(run.ActivityReport.find("Fetched over 2 of 4 connections: the server refused more (" +
                                    std::string(c.refusal)) != std::string::npos,
            *c.refusal != '\0')
      << run.ActivityReport;
  EXPECT_EQ(run.ActivityReport.find("Failed to download: " + std::string(kFailing) + " (") !=
                std::string::npos,
            c.failing)
      << run.ActivityReport;
  EXPECT_EQ(run.TodaysBackupIncomplete, c.failing);
  EXPECT_EQ(run.Tally.filesFailed, c.failing ? 1 : 0);
  EXPECT_EQ(env.window.values.back(), static_cast<float>(expected.size()));
}

// sshd limits only connections not yet logged in, so only the FTP servers refuse a login at will:
// at the greeting, counting connections from one address, or (pyftpdlib) at the login itself.
constexpr ConnectionCase kConnectionCases[] = {
    {Server::Pyftpdlib, "OneConnectionOneLogin", 1, 0, false},
    {Server::Vsftpd, "OneConnectionOneLogin", 1, 0, false},
    {Server::OpenSsh, "OneConnectionOneLogin", 1, 0, false},
    {Server::Pyftpdlib, "FourConnectionsOneFailedFileStopsNoOther", 4, 0, true},
    {Server::Vsftpd, "FourConnectionsOneFailedFileStopsNoOther", 4, 0, true},
    {Server::OpenSsh, "FourConnectionsOneFailedFileStopsNoOther", 4, 0, true},
    {Server::Pyftpdlib, "ExtraConnectionsRefused", 4, 2, false, "421 "},
    {Server::Vsftpd, "ExtraConnectionsRefused", 4, 2, false, "421 "},
    {Server::Pyftpdlib, "ExtraLoginsRefused", 4, 2, false, "530 "},
};

INSTANTIATE_TEST_SUITE_P(Servers, ConnectionTable, ::testing::ValuesIn(kConnectionCases),
                         [](const auto& info) {
                           return kServerNames[static_cast<int>(info.param.server)] +
                                  std::string(info.param.name);
                         });

// On the next day every fourth file has changed: the connection that fetches one leaves the
// files after it to the others, so each connection links unchanged files from the previous
// backup (asking the LIST-only server for their exact time first) and fetches only changed ones.
// How each kind of listing gives the facts is proven over one connection in source_tree_test.
TEST_F(ConnectionsTest, UnchangedFilesAreLinkedOverEveryConnection) {
  const Names names = writeSource();
  start(Server::Vsftpd);
  fetch();
  const fs::path previous = today();
  Names expectedRequests = *requested();
  for (std::size_t i = 3; i < names.size(); i += 4) {
    source.write(names[i], "changed");
    expectedRequests.push_back(names[i]);
  }
  std::sort(expectedRequests.begin(), expectedRequests.end());

  day = "20261208";
  run.Settings.LinkUnchanged = true;
  run.PreviousBackup = previous.string();
  fetch();

  EXPECT_EQ(filesInToday(), names);
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(fs::equivalent(today() / names[i], previous / names[i]), i % 4 != 3) << names[i];
    EXPECT_EQ(test::readFile(today() / names[i]), test::readFile(source.path() / names[i]));
  }
  EXPECT_EQ(requested(), expectedRequests);
  EXPECT_THAT(run.ActivityReport, HasSubstr("Linked 18 unchanged files from"));
}

class ConnectionsCancel : public ConnectionsTest, public ::testing::WithParamInterface<Server> {};

// Clicked while four slow downloads are under way, Cancel ends them all within a second, and
// nothing of them is left: no file under its name, no temporary one.
TEST_P(ConnectionsCancel, CancelDuringFourTransfersEndsThemAllAtOnceKeepingNothing) {
  // Under hidden names the four transfers under way show in today's folder.
  const test::TemporaryFileKind hiddenNames(false);
  for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin", "e.bin"})
    source.write(name, std::string(1 << 20, 'z'));
  start(GetParam(), 0, 32 << 10);
  std::optional<std::chrono::steady_clock::time_point> clicked;
  pump.onProcess = [&] {
    if (clicked || !fs::exists(today()) || filesInToday().size() < 4) return;
    clicked = std::chrono::steady_clock::now();
    env.window.clickCancel();
  };

  fetch();

  ASSERT_TRUE(clicked.has_value()) << run.ActivityReport;
  EXPECT_LT(std::chrono::steady_clock::now() - *clicked, std::chrono::seconds(1));
  EXPECT_EQ(filesInToday(), Names{});
  EXPECT_THAT(run.ActivityReport, ::testing::Not(HasSubstr("Failed to download")));
}

INSTANTIATE_TEST_SUITE_P(FtpServers, ConnectionsCancel,
                         ::testing::Values(Server::Pyftpdlib, Server::Vsftpd),
                         [](const auto& info) {
                           return std::string(kServerNames[static_cast<int>(info.param)]);
                         });

}  // namespace
}  // namespace quillfen
