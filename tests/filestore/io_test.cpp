#include "filestore/io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>

#include "common/error.h"
#include "config/backup_settings.h"
#include "filestore/posix_file_system.h"
#include "process/locale_format.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// An IO over the real file system, with today's date fixed at 5 October 2003 2:15:03 AM.
class IoTest : public ::testing::Test {
 protected:
  IoTest() { settings.DestinationFolder = store.str(); }

  IO& io() {
    if (!io_) {
      io_ = std::make_unique<IO>(std::make_unique<PosixFileSystem>(), settings, report, clock,
                                 format);
    }
    return *io_;
  }
  std::string inStore(const std::string& name) const { return store.str() + "/" + name; }

  TempDir store;
  BackupSettings settings;
  std::string report;
  test::FakeClock clock;
  LocaleFormat format = LocaleFormat::posix();

 private:
  std::unique_ptr<IO> io_;
};

TEST_F(IoTest, MakeFolderKeepsAnExistingFolderWithItsContents) {
  store.write("today/file.txt", "kept");
  io().MakeFolder(inStore("today"));
  EXPECT_EQ(test::readFile(inStore("today/file.txt")), "kept");
}

TEST_F(IoTest, MakeFolderBelowAMissingParentFailsWithPathNotFound) {
  try {
    io().MakeFolder(inStore("missing/today"));
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kPathNotFound);
  }
  EXPECT_FALSE(fs::exists(inStore("missing")));
}

TEST_F(IoTest, DeletingWhatIsNotThereDoesNothing) {
  store.write("a file", "x");
  fs::create_directory(inStore("a folder"));
  EXPECT_NO_THROW(io().DeleteFolder(inStore("missing")));
  EXPECT_NO_THROW(io().DeleteFile(inStore("missing")));
  EXPECT_NO_THROW(io().DeleteFolder(inStore("a file")));
  EXPECT_NO_THROW(io().DeleteFile(inStore("a folder")));
  EXPECT_TRUE(fs::exists(inStore("a file")));
  EXPECT_TRUE(fs::exists(inStore("a folder")));
}

TEST_F(IoTest, DeleteFolderRemovesReadOnlyFilesAndFoldersWithAllTheyHold) {
  for (const char* file : {"old/ro.txt", "old/locked/a.txt", "old/locked/closed/b.txt",
                           "old/locked/closed/deeper/c.txt"}) {
    ::chmod(store.write(file, "data").c_str(), 0444);
  }
  ::chmod(inStore("old/locked/closed/deeper").c_str(), 0555);
  ::chmod(inStore("old/locked/closed").c_str(), 0);
  ::chmod(inStore("old/locked").c_str(), 0555);
  ::chmod(inStore("old").c_str(), 0555);
  store.write("loose.txt", "x");
  ::chmod(inStore("loose.txt").c_str(), 0444);

  io().DeleteFolder(inStore("old"));
  io().DeleteFile(inStore("loose.txt"));

  EXPECT_TRUE(fs::is_empty(store.path()));
}

// The text ReadFolderInfo appends for a folder, split into its header, file lines and the
// rest; the file lines sorted, as their order is the file system's own.
struct Inventory {
  std::string header;
  std::multiset<std::string> lines;
  std::string tail;
};

Inventory splitInventory(const std::string& text) {
  Inventory inventory;
  std::size_t start = text.find('\n') + 1;
  inventory.header = text.substr(0, start);
  for (std::size_t end; (end = text.find('\n', start)) != start; start = end + 1) {
    inventory.lines.insert(text.substr(start, end - start));
  }
  inventory.tail = text.substr(start);
  return inventory;
}

TEST_F(IoTest, InventoryOfAnEmptyFolderAppendsToWhatTheReportHeld) {
  fs::create_directory(inStore("20031005"));
  report = "QUILLFEN BACKUP ACTIVITY - earlier text\n\n";
  io().ReadFolderInfo(inStore("20031005"), report);
  EXPECT_EQ(report, "QUILLFEN BACKUP ACTIVITY - earlier text\n\n0 files downloaded to '" +
                        inStore("20031005") +
                        "':\n\n0 KB total downloaded - 10/5/2003 2:15:03 AM\n\n");
}

TEST_F(IoTest, InventoryListsEachFileInRoundedKilobytesAndTotalsSubfoldersToo) {
  const std::pair<const char*, std::size_t> files[] = {
      {"one.txt", 1},    {"half less.txt", 511}, {"half.txt", 512}, {"more.txt", 1535},
      {"two.txt", 1536}, {"notes.txt", 5000},    {".hidden", 1024},
  };
  for (const auto& [name, size] : files)
    store.write(std::string("day/") + name, std::string(size, 'x'));
  std::ofstream(inStore("day/data.mdb")).close();
  fs::resize_file(inStore("day/data.mdb"), std::uintmax_t{1} << 30);
  store.write("day/sub/inner.bin", std::string(4096, 'y'));
  // A link counts as what it points to; a linked folder is not entered, or it would count twice.
  fs::create_symlink(inStore("day/notes.txt"), inStore("day/alias.txt"));
  fs::create_directory_symlink(inStore("day/sub"), inStore("day/sub-link"));
  ASSERT_EQ(::mkfifo(inStore("day/pipe").c_str(), 0644), 0);
  report = "before\n";

  io().ReadFolderInfo(inStore("day"), report);

  ASSERT_THAT(report, StartsWith("before\n"));
  const Inventory inventory = splitInventory(report.substr(7));
  EXPECT_EQ(inventory.header, "9 files downloaded to '" + inStore("day") + "':\n");
  EXPECT_EQ(inventory.lines,
            (std::multiset<std::string>{"one.txt  (0 KB)", "half less.txt  (0 KB)",
                                        "half.txt  (1 KB)", "more.txt  (1 KB)", "two.txt  (2 KB)",
                                        "notes.txt  (5 KB)", ".hidden  (1 KB)",
                                        "data.mdb  (1,048,576 KB)", "alias.txt  (5 KB)"}));
  // 1,073,761,039 bytes in all, the subfolder's 4,096 among them.
  EXPECT_EQ(inventory.tail, "\n1,048,595 KB total downloaded - 10/5/2003 2:15:03 AM\n\n");
}

TEST_F(IoTest, InventoryCountIsNeverGrouped) {
  fs::create_directory(inStore("many"));
  for (int i = 0; i < 1500; ++i) std::ofstream(inStore("many/f" + std::to_string(i))).close();
  io().ReadFolderInfo(inStore("many"), report);
  const Inventory inventory = splitInventory(report);
  EXPECT_EQ(inventory.header, "1500 files downloaded to '" + inStore("many") + "':\n");
  EXPECT_EQ(inventory.lines.size(), 1500u);
}

TEST_F(IoTest, InventoryOfAMissingFolderFailsAndLeavesTheReportAlone) {
  report = "earlier\n";
  EXPECT_THROW(io().ReadFolderInfo(inStore("missing"), report), Error);
  EXPECT_EQ(report, "earlier\n");
}

// The pruning stage as Main calls it on 5 October 2003.
class PruningTest : public IoTest {
 protected:
  void makeBackup(const std::string& name) { store.write(name + "/file.txt", "backup"); }
  void prune(Date today = {2003, 10, 5}, bool incomplete = false) {
    io().DeleteOldBackups(today, "yyyymmdd", incomplete);
  }
  std::set<std::string> remaining() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(store.path())) {
      names.insert(entry.path().filename());
    }
    return names;
  }
  // The report up to the free-space line, which depends on the machine.
  std::string beforeFreeSpace() const {
    return report.substr(0, report.find("Free space remaining on '"));
  }
};

TEST_F(PruningTest, DeletesTheDaysFromDaysTillExpirationToTwentyMoreNewestFirst) {
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

struct CalendarCase {
  Date today;
  std::int32_t daysTillExpiration;
  std::set<std::string> deleted;  // DaysTillExpiration and DaysTillExpiration + 20 days back
  std::set<std::string> kept;     // one day younger and one day older than those
};

class PruningCalendarTest : public PruningTest,
                            public ::testing::WithParamInterface<CalendarCase> {};

TEST_P(PruningCalendarTest, CountsCalendarDaysAcrossMonthsYearsAndLeapDays) {
  const CalendarCase& c = GetParam();
  settings.DaysTillExpiration = c.daysTillExpiration;
  for (const auto& name : c.deleted) makeBackup(name);
  for (const auto& name : c.kept) makeBackup(name);
  prune(c.today);
  EXPECT_EQ(remaining(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Crossings, PruningCalendarTest,
    ::testing::Values(
        CalendarCase{{2004, 3, 1}, 1, {"20040229", "20040209"}, {"20040301", "20040208"}},
        CalendarCase{{2003, 3, 1}, 1, {"20030228", "20030208"}, {"20030301", "20030207"}},
        CalendarCase{{2000, 3, 20}, 20, {"20000229", "20000209"}, {"20000301", "20000208"}},
        CalendarCase{{2100, 3, 1}, 1, {"21000228", "21000208"}, {"21000301", "21000207"}},
        CalendarCase{{2004, 1, 10}, 10, {"20031231", "20031211"}, {"20040101", "20031210"}},
        CalendarCase{{2004, 10, 5}, 365, {"20031006", "20030916"}, {"20031007", "20030915"}}));

TEST_F(PruningTest, WithoutExpiredFoldersSaysSoAndEndsWithTheFreeSpace) {
  settings.DaysTillExpiration = 30;
  makeBackup("20031005");
  prune();
  EXPECT_EQ(beforeFreeSpace(),
            "DELETING OLD BACKUPS...\n   ... no expired backups found.\n... DONE\n\n");
  const DriveInfo drive = PosixFileSystem().getDrive(store.str());
  const std::regex freeSpace("Free space remaining on '" + drive.letter +
                             "' drive: [1-9][0-9]{0,2}(,[0-9]{3})* KB");
  EXPECT_TRUE(std::regex_match(report.substr(beforeFreeSpace().size()), freeSpace)) << report;
}

TEST_F(PruningTest, AnEmptyDestinationFolderMeansTheRootFileSystem) {
  settings.DestinationFolder = "";
  settings.DaysTillExpiration = 30;
  prune({1601, 1, 1});  // no folder of that era sits in the root
  EXPECT_THAT(report, HasSubstr("\n... DONE\n\nFree space remaining on '/' drive: "));
}

TEST_F(PruningTest, FoldersNotNamedByTheDateAreNeverTouched) {
  settings.DaysTillExpiration = 30;
  for (const char* name : {"2003-09-05", "20030905.old", "200309050", "notes", "0030905"}) {
    makeBackup(name);
  }
  store.write("20030905", "a file of a candidate's name");
  prune();
  EXPECT_THAT(report, HasSubstr("   ... no expired backups found.\n"));
  EXPECT_EQ(remaining().size(), 6u);
}

class PruningSettingsTest : public PruningTest,
                            public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(PruningSettingsTest, TodaysAndLaterFoldersSurviveAnyDaysTillExpiration) {
  settings.DaysTillExpiration = GetParam();
  for (const char* name : {"20031004", "20031005", "20031006"}) makeBackup(name);
  prune();
  EXPECT_EQ(remaining(), (std::set<std::string>{"20031005", "20031006"}));
}

INSTANTIATE_TEST_SUITE_P(SmallValues, PruningSettingsTest, ::testing::Values(1, 0, -5, -19));

TEST_F(PruningTest, DaysBeyondTheCalendarFailAfterTheFirstLine) {
  for (const std::int32_t days : {4'000'000, INT_MAX}) {
    settings.DaysTillExpiration = days;
    report.clear();
    EXPECT_THROW(prune(), Error) << days;
    EXPECT_EQ(report, "DELETING OLD BACKUPS...\n");
  }
}

TEST_F(PruningTest, AnIncompleteBackupKeepsEveryOldFolder) {
  settings.DaysTillExpiration = 30;
  makeBackup("20030905");
  prune({2003, 10, 5}, true);
  EXPECT_EQ(beforeFreeSpace(),
            "DELETING OLD BACKUPS...\n   ... skipped: today's backup is incomplete.\n... DONE\n\n");
  EXPECT_THAT(report, HasSubstr("Free space remaining on '"));
  EXPECT_EQ(remaining(), std::set<std::string>{"20030905"});
}

TEST_F(PruningTest, AnUnknownDriveFailsAfterTheDeletions) {
  settings.DestinationFolder = inStore("gone");
  settings.DaysTillExpiration = 30;
  try {
    prune();
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kDeviceUnavailable);
  }
  EXPECT_EQ(report, "DELETING OLD BACKUPS...\n   ... no expired backups found.\n... DONE\n\n");
}

}  // namespace
}  // namespace quillfen
