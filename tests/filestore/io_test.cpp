#include "filestore/io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "common/error.h"
#include "config/backup_settings.h"
#include "filestore/posix_file_system.h"
#include "process/locale_format.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;

// An IO over the real file system, with the clock at 5 October 2003 2:15:03 AM.
class IoTest : public ::testing::Test {
 protected:
  IoTest() { settings.DestinationFolder = store.str(); }

  std::string inStore(const std::string& name) const { return store.str() + "/" + name; }
  void makeBackup(const std::string& name) { store.write(name + "/file.txt", "backup"); }
  void prune(Date today = {2003, 10, 5}) { io.DeleteOldBackups(today, "yyyymmdd", false); }
  std::set<std::string> remaining() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(store.path())) {
      names.insert(entry.path().filename());
    }
    return names;
  }
  static int failureNumber(const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& error) {
      return error.number();
    }
    return 0;
  }
  // The report up to the free-space line, which depends on the machine.
  std::string beforeFreeSpace() const {
    return report.substr(0, report.find("Free space remaining on '"));
  }

  test::TempDir store;
  BackupSettings settings;
  std::string report;
  test::FakeClock clock;
  LocaleFormat format = LocaleFormat::posix();
  IO io{std::make_unique<PosixFileSystem>(), settings, report, clock, format};
};

TEST_F(IoTest, FolderOperationsKeepWhatExistsIgnoreWhatDoesNotAndRemoveReadOnlyEntries) {
  store.write("today/file.txt", "kept");
  io.MakeFolder(inStore("today"));
  EXPECT_EQ(test::readFile(inStore("today/file.txt")), "kept");

  store.write("a file", "x");
  fs::create_directory(inStore("a folder"));
  io.DeleteFolder(inStore("missing"));
  io.DeleteFile(inStore("missing"));
  io.DeleteFolder(inStore("a file"));
  io.DeleteFile(inStore("a folder"));
  EXPECT_EQ(remaining(), (std::set<std::string>{"a file", "a folder", "today"}));

  for (const char* file :
       {"old/ro.txt", "old/locked/a.txt", "old/locked/closed/b.txt", "loose.txt"}) {
    ::chmod(store.write(file, "data").c_str(), 0444);
  }
  for (const auto& [folder, mode] :
       {std::pair{"old/locked/closed", 0}, {"old/locked", 0555}, {"old", 0555}}) {
    ::chmod(inStore(folder).c_str(), mode);
  }
  io.DeleteFolder(inStore("old"));
  io.DeleteFile(inStore("loose.txt"));
  EXPECT_EQ(remaining(), (std::set<std::string>{"a file", "a folder", "today"}));
}

TEST_F(IoTest, FailuresCarryTheirNumberAndLeaveTheReportAsFarAsItGot) {
  EXPECT_EQ(failureNumber([&] { io.MakeFolder(inStore("missing/today")); }), errc::kPathNotFound);
  EXPECT_EQ(failureNumber([&] { io.ReadFolderInfo(inStore("missing"), report); }),
            errc::kPathNotFound);
  EXPECT_EQ(report, "");
  for (const std::int32_t days : {4'000'000, INT_MAX}) {  // beyond the calendar
    settings.DaysTillExpiration = days;
    report.clear();
    EXPECT_EQ(failureNumber([&] { prune(); }), errc::kInvalidArgument) << days;
    EXPECT_EQ(report, "DELETING OLD BACKUPS...\n") << days;
  }
  settings.DaysTillExpiration = 30;
  settings.DestinationFolder = inStore("gone");
  report.clear();
  EXPECT_EQ(failureNumber([&] { prune(); }), errc::kDeviceUnavailable);
  EXPECT_EQ(report, "DELETING OLD BACKUPS...\n   ... no expired backups found.\n... DONE\n\n");
  EXPECT_TRUE(fs::is_empty(store.path()));
}

TEST_F(IoTest, InventoryOfAnEmptyFolderAppendsToWhatTheReportHeld) {
  fs::create_directory(inStore("20031005"));
  report = "QUILLFEN BACKUP ACTIVITY - earlier text\n\n";
  io.ReadFolderInfo(inStore("20031005"), report);
  EXPECT_EQ(report, "QUILLFEN BACKUP ACTIVITY - earlier text\n\n0 files downloaded to '" +
                        inStore("20031005") +
                        "':\n\n0 KB total downloaded - 10/5/2003 2:15:03 AM\n\n");
}

TEST_F(IoTest, InventoryListsEachFileInRoundedKilobytesAndTotalsSubfoldersToo) {
  std::multiset<std::string> expected = {"data.mdb  (1,048,576 KB)", "alias.txt  (5 KB)"};
  const struct {
    const char* name;
    std::size_t size;
    const char* kb;
  } files[] = {{"half less.txt", 511, "0"},
               {"half.txt", 512, "1"},
               {"notes.txt", 5000, "5"},
               {".hidden", 1024, "1"}};
  for (const auto& f : files) {
    store.write(std::string("day/") + f.name, std::string(f.size, 'x'));
    expected.insert(f.name + std::string("  (") + f.kb + " KB)");
  }
  for (int i = 0; i < 1500; ++i) {  // the count is never grouped
    std::ofstream(inStore("day/n" + std::to_string(i))).close();
    expected.insert("n" + std::to_string(i) + "  (0 KB)");
  }
  std::ofstream(inStore("day/data.mdb")).close();
  fs::resize_file(inStore("day/data.mdb"), std::uintmax_t{1} << 30);
  store.write("day/sub/inner.bin", std::string(4096, 'y'));
  // A link counts as what it points to; a linked folder is not entered, or it would count twice.
  fs::create_symlink(inStore("day/notes.txt"), inStore("day/alias.txt"));
  fs::create_directory_symlink(inStore("day/sub"), inStore("day/sub-link"));
  ASSERT_EQ(::mkfifo(inStore("day/pipe").c_str(), 0644), 0);
  io.ReadFolderInfo(inStore("day"), report);

  // The file lines come in the file system's own order; 1,073,757,967 bytes in all, the
  // subfolder's 4,096 among them.
  const std::string header = "1506 files downloaded to '" + inStore("day") + "':";
  const std::string total = "1,048,592 KB total downloaded - 10/5/2003 2:15:03 AM";
  EXPECT_TRUE(report.starts_with(header + "\n") && report.ends_with("\n\n" + total + "\n\n"));
  std::multiset<std::string> lines;
  std::istringstream text(report);
  for (std::string line; std::getline(text, line);) lines.insert(line);
  expected.insert({header, "", total, ""});
  EXPECT_EQ(lines, expected);
}

TEST_F(IoTest, PruningDeletesTheDaysFromDaysTillExpirationToTwentyMoreNewestFirst) {
  settings.DaysTillExpiration = 30;
  for (const char* name :
       {"20031005", "20030906", "20030905", "20030831", "20030816", "20030815"}) {
    makeBackup(name);
  }
  prune();
  EXPECT_EQ(beforeFreeSpace(), "DELETING OLD BACKUPS...\nDeleting folder: " + inStore("20030905") +
                                   "\nDeleting folder: " + inStore("20030831") +
                                   "\nDeleting folder: " + inStore("20030816") + "\n... DONE\n\n");
  EXPECT_EQ(remaining(), (std::set<std::string>{"20031005", "20030906", "20030815"}));
}

// Each case deletes DaysTillExpiration and DaysTillExpiration + 20 days back and keeps the days
// one younger and one older than those; today's and later folders stay whatever the setting.
TEST_F(IoTest, PruningCountsCalendarDaysAndNeverDeletesTodaysOrLaterFolders) {
  const struct {
    Date today;
    std::int32_t daysTillExpiration;
    std::set<std::string> deleted, kept;
  } cases[] = {
      {{2004, 3, 1}, 1, {"20040229", "20040209"}, {"20040301", "20040208"}},
      {{2004, 1, 10}, 10, {"20031231", "20031211"}, {"20040101", "20031210"}},
      {{2004, 10, 5}, 365, {"20031006", "20030916"}, {"20031007", "20030915"}},
      {{2003, 10, 5}, 0, {"20030915"}, {"20031005", "20031006", "20030914"}},
      {{2003, 10, 5}, -19, {"20031004"}, {"20031005", "20031006"}},
  };
  for (const auto& c : cases) {
    settings.DaysTillExpiration = c.daysTillExpiration;
    for (const auto& name : c.deleted) makeBackup(name);
    for (const auto& name : c.kept) makeBackup(name);
    prune(c.today);
    EXPECT_EQ(remaining(), c.kept) << c.daysTillExpiration << " days before " << *c.kept.begin();
    for (const auto& name : c.kept) fs::remove_all(inStore(name));
  }
}

TEST_F(IoTest, PruningWithoutExpiredDatedFoldersSaysSoAndEndsWithTheFreeSpace) {
  settings.DaysTillExpiration = 30;
  for (const char* name : {"20031005", "2003-09-05", "20030905.old", "200309050", "0030905"}) {
    makeBackup(name);
  }
  store.write("20030905", "a file of a candidate's name");
  prune();
  EXPECT_EQ(beforeFreeSpace(),
            "DELETING OLD BACKUPS...\n   ... no expired backups found.\n... DONE\n\n");
  const DriveInfo drive = PosixFileSystem().getDrive(store.str());
  const std::regex freeSpace("Free space remaining on '" + drive.letter +
                             "' drive: [1-9][0-9]{0,2}(,[0-9]{3})* KB");
  EXPECT_TRUE(std::regex_match(report.substr(beforeFreeSpace().size()), freeSpace)) << report;
  EXPECT_EQ(remaining().size(), 6u);
}

}  // namespace
}  // namespace quillfen
