// Whole source trees and links to the previous backup, from a local folder, from a loopback FTP
// server that speaks MLSD or LIST only, and over SFTP, through the real file system and transfer
// control. (OpenSSH's sshd is fetched from over several connections in ftp_connections_test.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>

#include "filestore/posix_file_system.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "run/unchanged_files.h"
#include "support/fakes.h"
#include "support/ftp_server.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"
#include "ui/console_event_pump.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::setModified;
using ::testing::HasSubstr;

enum class Source { Local, Mlsd, List, Sftp };
constexpr const char* kSourceNames[] = {"LocalFolder", "FtpMlsd", "FtpList", "Sftp"};
void PrintTo(Source source, std::ostream* out) {
  *out << kSourceNames[static_cast<int>(source)];
}

// Names whose line feed is followed by a line of the MLSD or the LIST and SFTP form.
const std::string kForgedMlsd = "hide\ntype=file;size=6;modify=20261207101112; decoy.txt";
const std::string kForgedList = "hide\n-rw-r--r-- 1 u g 6 Dec  7 10:11 decoy.txt";

class SourceTreeTest : public ::testing::TestWithParam<Source> {
 protected:
  bool ftp() const { return GetParam() != Source::Local; }
  fs::path day(const std::string& name) const { return dest.path() / name; }

  // One fetch of the whole tree into the dated folder `today`, as the run makes it.
  void fetch(const std::string& today, bool linkUnchanged) {
    run = RunModule();
    run.Settings.IncludeSubfolders = true;
    run.Settings.LinkUnchanged = linkUnchanged;
    run.Settings.DestinationFolder = dest.str();
    run.Settings.Exclude = exclude;
    if (linkUnchanged) run.PreviousBackup = LatestBackup(fileSystem, dest.str(), day(today));
    fs::create_directories(day(today));
    if (!ftp()) {
      run.Settings.NetworkPath = source.str();
      DownloadFromNetworkPath(run, services, day(today).string());
      return;
    }
    run.Settings.FtpUserName = "backup";
    run.Settings.FtpPassword = "secret";
    if (GetParam() == Source::Sftp) {
      if (!sftp) sftp.emplace(source.path(), "backup", "secret");
      run.Settings.FtpIPAddress = sftp->url();
      run.Settings.FtpServerTrust = sshTrustOf(sftp->fingerprint());
    } else {
      if (!server)
        server.emplace(
            source.path(), "backup", "secret",
            test::FtpServerOptions{.offerMlsd = GetParam() == Source::Mlsd, .failingFile = {}});
      run.Settings.FtpIPAddress = server->address();
    }
    run.Settings.FtpSource = parseFtpAddress(run.Settings.FtpIPAddress);
    Inet inet(frmMain, pump);
    DownloadFromFtp(run, services, inet, day(today).string());
  }
  int logins() const { return sftp ? sftp->logins() : server->logins(); }
  std::size_t retrieved() const {
    if (sftp) return static_cast<std::size_t>(sftp->filesRead());
    const auto commands = server->commands();
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), "RETR"));
  }

  test::TempDir source, dest, exeFolder;
  test::FakeEnvironment env{exeFolder.str()};
  PosixFileSystem fileSystem;
  ConsoleEventPump pump;
  MainForm frmMain{[this] { return std::make_unique<CurlTransferControl>(pump); }};
  Services services = env.servicesOver(pump, frmMain);
  std::optional<test::FtpServer> server;
  std::optional<test::SftpServer> sftp;
  RunModule run;
  std::string exclude;
};

std::set<std::string> filesBelow(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), folder));
  return files;
}

// Blanks, quotes and non-ASCII names at every depth and an empty folder kept; unsafe remote
// names are skipped at depth too, and one whose line feed is followed by a listing line of the
// server's form is skipped whole: it makes up no entry of its own.
// Two links that lead back up are walked by none (a walk through both never ends): a listing
// that shows them as links (LIST, SFTP) makes them links to folders, skipped as local ones are;
// MLSD of pyftpdlib lists them as the folders they lead to, met twice by their "unique" fact.
// A link to a file is fetched as that file. None of it is a failure.
TEST_P(SourceTreeTest, TheWholeTreeArrivesWithItsFoldersAndNoLoopIsWalked) {
  const std::set<std::string> files = {"top.txt", "sub dir/\xC3\xA4 \xC3\xB6.txt",
                                       "sub dir/deeper/\xC3\xBCn\xC3\xAF c\xC3\xB6.bin",
                                       "My \"Best\" Photos/say \"cheese\" & 'smile'.jpg"};
  for (const std::string& name : files) source.write(name, name + std::string(3000, 'x'));
  fs::create_directories(source.path() / "sub dir/empty");
  fs::create_directory_symlink(".", source.path() / "sub dir/again");
  fs::create_directory_symlink("..", source.path() / "sub dir/deeper/back");
  fs::create_symlink("top.txt", source.path() / "file link.txt");
  if (ftp()) {
    source.write("sub dir/bad\\folder/inner.txt", "not fetched");
    source.write(kForgedMlsd, "hidden");
    source.write(kForgedList, "hidden");
  }

  fetch("20261207", false);

  auto expected = files;
  expected.insert("file link.txt");
  EXPECT_EQ(filesBelow(day("20261207")), expected);
  for (const std::string& name : expected)
    EXPECT_EQ(test::readFile(day("20261207") / name), test::readFile(source.path() / name)) << name;
  EXPECT_TRUE(fs::is_directory(day("20261207") / "sub dir/empty"));
  const std::string skipped =
      GetParam() == Source::Mlsd ? "Skipped folder met twice: " : "Skipped link to folder: ";
  EXPECT_THAT(run.ActivityReport, HasSubstr(skipped + "sub dir/again\n"));
  EXPECT_THAT(run.ActivityReport, HasSubstr(skipped + "sub dir/deeper/back\n"));
  EXPECT_FALSE(run.TodaysBackupIncomplete);
  if (ftp()) {
    for (std::string unsafe : {std::string("sub dir/bad\\folder/"), kForgedMlsd, kForgedList}) {
      std::replace(unsafe.begin(), unsafe.end(), '\n', '?');
      EXPECT_THAT(run.ActivityReport, HasSubstr("Skipped unsafe remote name: " + unsafe + "\n"));
    }
    EXPECT_EQ(run.FileList.size(), expected.size());
    EXPECT_EQ(logins(), 1) << "a listing refused for a link to a file logs in anew";
  }
}

// What Exclude names is neither fetched nor counted, and an excluded folder is not even listed.
TEST_P(SourceTreeTest, WhatExcludeNamesIsNeitherFetchedNorListed) {
  for (const char* name : {"keep.txt", "scratch.tmp", "sub/keep.c", "sub/deep/old.tmp",
                           "cache/blob.bin", "web/node_modules/lib.js", "web/app.js"})
    source.write(name, name);
  exclude = "*.tmp; cache/;**/node_modules/";

  fetch("20261207", false);

  const std::set<std::string> kept = {"keep.txt", "sub/keep.c", "web/app.js"};
  EXPECT_EQ(filesBelow(day("20261207")), kept);
  EXPECT_FALSE(fs::exists(day("20261207") / "cache"));
  EXPECT_EQ(run.ActivityReport.find("Skipped"), std::string::npos) << run.ActivityReport;
  EXPECT_FALSE(run.TodaysBackupIncomplete);
  // Only the kept files were asked for.
  if (ftp()) {
    EXPECT_EQ(retrieved(), kept.size());
  }
  if (!server) return;
  // The source, sub, sub/deep and web.
  const auto commands = server->commands();
  EXPECT_EQ(
      std::count(commands.begin(), commands.end(), GetParam() == Source::Mlsd ? "MLSD" : "LIST"),
      4);
}

// A day later (the first folder renamed to an earlier date) the unchanged file shares the
// earlier copy's inode; a file of the same size with a new time and one of a new size with the
// same time are fetched afresh, and only they. The earlier copies stay as they were.
TEST_P(SourceTreeTest, OnALaterDayUnchangedFilesAreLinkedAndOnlyChangedOnesFetched) {
  const std::time_t recent = std::time(nullptr) / 60 * 60 - 7200 + 37;  // seconds LIST omits
  const char* names[] = {"same.txt", "sub/same size.txt", "sub/\xC3\xA9/same time.txt"};
  for (const char* name : names) setModified(source.write(name, "first"), recent);
  fetch("20261207", true);
  fs::rename(day("20261207"), day("20261206"));
  const std::size_t firstRetrieved = ftp() ? retrieved() : 0;

  setModified(source.write(names[1], "again"), recent + 1);
  setModified(source.write(names[2], "changed"), recent);
  fetch("20261207", true);

  EXPECT_TRUE(fs::equivalent(day("20261207") / names[0], day("20261206") / names[0]));
  for (const char* name : {names[1], names[2]}) {
    EXPECT_FALSE(fs::equivalent(day("20261207") / name, day("20261206") / name)) << name;
    EXPECT_EQ(test::readFile(day("20261207") / name), test::readFile(source.path() / name));
    EXPECT_EQ(test::readFile(day("20261206") / name), "first") << name;
  }
  EXPECT_THAT(run.ActivityReport,
              HasSubstr("Linked 1 unchanged files from '" + day("20261206").string() + "'\n"));
  if (ftp()) {
    EXPECT_EQ(retrieved() - firstRetrieved, 2U);
    EXPECT_EQ(logins(), 2);
  }
  if (server) {  // LIST's times are to the minute: MDTM asks for the exact one
    const auto commands = server->commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "MDTM") > 0, GetParam() == Source::List);
  }
}

// A folder or a file whose copy would pass the path limit (today's folder itself lies deep) is
// left out and reported, and the backup is incomplete; the rest is copied.
TEST_P(SourceTreeTest, AFolderOrFileWhoseCopyWouldBeTooLongIsLeftOutAndTheRestCopied) {
  const std::string name(200, 'n');
  std::string today;
  for (int i = 0; i < 19; ++i) today += name + "/";  // with the destination, above 3,800
  today += "20261207";
  const std::string fits = "deep/" + name;
  source.write(fits + "/ok.txt", "ok");
  source.write(fits + "/" + std::string(180, 'f'), "too long a name there");
  source.write(fits + "/" + name + "/inside.txt", "in too long a folder");

  fetch(today, false);

  EXPECT_EQ(test::readFile(day(today) / fits / "ok.txt"), "ok");
  EXPECT_THAT(run.ActivityReport,
              HasSubstr("Skipped file path too long: " + fits + "/" + std::string(180, 'f')));
  EXPECT_THAT(run.ActivityReport, HasSubstr("Skipped folder path too long: " + fits + "/" + name));
  EXPECT_TRUE(run.TodaysBackupIncomplete);
}

// A source inside the destination skips the backups; folders deeper than 64 levels are left out
// and make the backup incomplete.
TEST(LocalSourceTreeTest, TheDestinationIsSkippedAndDepthIsBounded) {
  test::TempDir source, dest, exeFolder;
  std::string deep = "d";
  for (int depth = 1; depth < 66; ++depth) deep += "/d";
  source.write(deep + "/bottom.txt", "too deep");
  source.write("backups/20261206/old.txt", "an earlier backup");
  test::FakeEnvironment env{exeFolder.str()};
  env.services.createFileSystem = [] { return std::make_unique<PosixFileSystem>(); };
  RunModule run;
  run.Settings.NetworkPath = source.str();
  run.Settings.IncludeSubfolders = true;
  run.Settings.DestinationFolder = source.str() + "/backups";

  DownloadFromNetworkPath(run, env.services, dest.str());

  EXPECT_FALSE(fs::exists(dest.path() / "backups"));
  EXPECT_THAT(run.ActivityReport, HasSubstr("Skipped the backup destination: backups\n"));
  EXPECT_THAT(run.ActivityReport,
              HasSubstr("Skipped folder nested too deep: " + deep.substr(0, 129) + "\n"));
  EXPECT_TRUE(run.TodaysBackupIncomplete);
}

// A previous backup tampered with: a link planted instead of a file, and one planted instead of
// a subfolder, leading to the live source. Neither may become a name in today's backup, where a
// later change of the source would change "the backup": only the real file is linked.
TEST(LinkUnchangedTest, LinksOnlyRealFilesReachedWithoutFollowingALink) {
  test::TempDir live, previous, today;
  for (const char* name : {"plain.txt", "planted.txt", "sub/file.txt"})
    setModified(live.write(name, "same"), 1700000000);
  setModified(previous.write("plain.txt", "same"), 1700000000);
  fs::create_symlink(live.path() / "planted.txt", previous.path() / "planted.txt");
  fs::create_directory_symlink(live.path() / "sub", previous.path() / "sub");
  fs::create_directory(today.path() / "sub");
  PosixFileSystem fileSystem;
  UnchangedFiles unchanged(fileSystem, previous.str(), today.str());
  for (const char* name : {"plain.txt", "planted.txt", "sub/file.txt"})
    EXPECT_EQ(unchanged.linkIfUnchanged(name, {4, 1700000000}), name == std::string("plain.txt"))
        << name;
  EXPECT_TRUE(fs::equivalent(today.path() / "plain.txt", previous.path() / "plain.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(today.path() / "planted.txt")));
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceTreeTest,
                         ::testing::Values(Source::Local, Source::Mlsd, Source::List, Source::Sftp),
                         [](const auto& info) {
                           return std::string(kSourceNames[static_cast<int>(info.param)]);
                         });

}  // namespace
}  // namespace quillfen
