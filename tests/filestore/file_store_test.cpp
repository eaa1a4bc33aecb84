#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include "common/error.h"
#include "common/posix_file.h"
#include "config/backup_settings.h"
#include "filestore/io.h"
#include "filestore/posix_file_system.h"
#include "filestore/retention.h"
#include "process/locale_format.h"
#include "support/fakes.h"
#include "support/raises.h"
#include "support/temp_dir.h"
#include "support/temporary_file_kinds.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using ::testing::HasSubstr;

// A temporary folder and the real file system.
class PosixFileSystemTest : public ::testing::Test {
 protected:
  std::string in(const std::string& name) const { return dir.str() + "/" + name; }
  std::set<std::string> namesIn(const std::string& folder = "") const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(in(folder)))
      names.insert(entry.path().filename());
    return names;
  }

  test::TempDir dir;
  PosixFileSystem fileSystem;
};

TEST_F(PosixFileSystemTest, ALinkedFolderIsAFolderAndDeletingALinkSparesItsTarget) {
  dir.write("sub/keep.txt", "keep");
  fs::create_directory_symlink(in("sub"), in("link-to-sub"));
  EXPECT_TRUE(fileSystem.folderExists(in("link-to-sub")) &&
              !fileSystem.fileExists(in("link-to-sub")));
  fs::create_directory(in("backup"));
  fs::create_directory_symlink(in("sub"), in("backup/inner-link"));
  fileSystem.deleteFolder(in("backup"), true);
  fileSystem.deleteFolder(in("link-to-sub"), true);
  EXPECT_FALSE(fs::exists(in("backup")) || fs::exists(fs::symlink_status(in("link-to-sub"))));
  EXPECT_EQ(readFile(in("sub/keep.txt")), "keep");
}

// Set-ID bits would hand the copier's rights to the file's users.
TEST_F(PosixFileSystemTest, CopyReplacesTheFileOfThatNameDroppingSetIdBits) {
  const std::string content(3 * 1024 * 1024 + 17, 'q');
  ::chmod(dir.write("source/data.bin", content).c_str(), 04755);
  ::chmod(dir.write("target/data.bin", "old contents").c_str(), 0444);
  EXPECT_TRUE(fileSystem.copyFile(in("source/data.bin"), in("target/"), true, [] { return true; }));
  EXPECT_EQ(readFile(in("target/data.bin")), content);
  EXPECT_EQ(fs::status(in("target/data.bin")).permissions(), static_cast<fs::perms>(0755));
}

// Lowers the largest file this process may write for a while, as a full disk would stop a copy
// midway.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t value) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit lowered{value, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
  }
  void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
};

// Makes this process's open file `path` read /proc/self/mem, whose address 0 gives EIO: a source
// that fails midway.
bool breakOpenFile(const std::string& path) {
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code notALink;
    if (fs::read_symlink(fd, notALink) != fs::canonical(path)) continue;
    ::dup2(FileDescriptor(::open("/proc/self/mem", O_RDONLY)).get(),
           std::stoi(fd.path().filename()));
  }
  return true;
}

// The same file system with unnamed temporary files, or with hidden-named ones as file systems
// without them get.
class CopyFailureTest : public PosixFileSystemTest, public ::testing::WithParamInterface<bool> {
 protected:
  const test::TemporaryFileKind kind{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Kinds, CopyFailureTest, test::kTemporaryFileKinds,
                         test::temporaryFileKindName);

// Each failure tells what went wrong by number, names a missing path and lies in the source
// only when the source failed. A failed copy leaves the destination exactly as it was.
TEST_P(CopyFailureTest, FailuresAreNumberedAndLeaveTheDestinationAsItWas) {
  const std::string file = dir.write("source/present.txt", std::string(1024 * 1024, 'n')).string();
  const std::string large = dir.write("large/present.txt", "").string();  // sparse, 8 pieces
  fs::resize_file(large, std::uintmax_t{64} << 20);
  ASSERT_EQ(::mkfifo(in("source/pipe").c_str(), 0644), 0);
  dir.write("target/present.txt", "old");
  const std::string target = in("target/"), missing = in("missing");
  // A source turns unreadable after the first piece of its copy.
  const auto copy = [&](const std::string& from, const std::string& to, bool overwrite = true) {
    return [=, this] {
      fileSystem.copyFile(from, to, overwrite, [=] { return breakOpenFile(from); });
    };
  };
  const struct {
    std::function<void()> call;
    int number;
    bool inSource;
    std::string named = "";  // the path the description names
    rlim_t sizeLimit = RLIM_INFINITY;
  } cases[] = {
      {[&] { fileSystem.deleteFolder(missing, true); }, errc::kPathNotFound, false, missing},
      {copy(in("source/missing.txt"), target), errc::kFileNotFound, true},
      {copy(in("source/pipe"), target), errc::kPathFileAccess, true},
      {copy(file, target, false), errc::kFileExists, false},
      {copy(file, target), errc::kDiskFull, false, "", 64 * 1024},  // stopped midway
      {copy(large, target), errc::kDeviceIo, true, large},          // unreadable after 8 MiB
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const FileSizeLimit limit(cases[i].sizeLimit);
    EXPECT_THAT(cases[i].call,
                ::testing::Throws<Error>(::testing::AllOf(
                    ::testing::Property(&Error::number, cases[i].number),
                    ::testing::Property(&Error::description, HasSubstr("'" + cases[i].named)),
                    ::testing::ResultOf(
                        [](auto& e) { return dynamic_cast<const SourceFileError*>(&e) != nullptr; },
                        cases[i].inSource))))
        << i;
    EXPECT_EQ(readFile(in("target/present.txt")), "old") << i;
  }
  EXPECT_EQ(namesIn("target"), std::set<std::string>{"present.txt"});
}

// Cancel reaches a copy under way: told to stop after its first piece, it ends there and the
// file of that name stays as it was.
TEST_P(CopyFailureTest, AStoppedCopyEndsAtOnceAndLeavesTheDestinationAsItWas) {
  const fs::path large = dir.write("source/present.txt", "");
  fs::resize_file(large, std::uintmax_t{64} << 20);
  dir.write("target/present.txt", "old");
  int asked = 0;
  EXPECT_FALSE(fileSystem.copyFile(large, in("target"), true, [&] { return ++asked > 1; }));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(readFile(in("target/present.txt")), "old");
  EXPECT_EQ(namesIn("target"), std::set<std::string>{"present.txt"});
}

// An IO over the real file system and the same folder as its destination, with the clock at
// 5 October 2003 2:15:03 AM.
class IoTest : public PosixFileSystemTest {
 protected:
  IoTest() { settings.DestinationFolder = dir.str(); }
  void prune(Date today = {2003, 10, 5}) { io.DeleteOldBackups(today, "yyyymmdd", false); }

  BackupSettings settings;
  std::string report;
  test::FakeClock clock;
  LocaleFormat format = LocaleFormat::posix();
  IO io{std::make_unique<PosixFileSystem>(), settings, report, clock, format};
};

// Deleting what does not exist is checked with the run's stages.
TEST_F(IoTest, FolderOperationsRemoveReadOnlyEntries) {
  for (const char* file :
       {"old/ro.txt", "old/locked/a.txt", "old/locked/closed/b.txt", "loose.txt"})
    ::chmod(dir.write(file, "data").c_str(), 0444);
  for (const auto& [folder, mode] :
       {std::pair{"old/locked/closed", 0}, {"old/locked", 0555}, {"old", 0555}})
    ::chmod(in(folder).c_str(), mode);
  io.DeleteFolder(in("old"));
  io.DeleteFile(in("loose.txt"));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// The inventory goes after what the report held, its file lines in the file system's own order.
// A link counts as what it points to; a linked folder is not entered, or it would count twice;
// the total, 2,147,487,744 bytes, counts the subfolder's 4,096 too.
TEST_F(IoTest, InventoryListsEachFileInKilobytesAndTotalsSubfoldersToo) {
  dir.write("day/sub/inner.bin", std::string(4096, 'y'));
  std::ofstream(in("day/data.mdb")).close();
  fs::resize_file(in("day/data.mdb"), std::uintmax_t{1} << 30);
  fs::create_symlink(in("day/data.mdb"), in("day/alias.mdb"));
  fs::create_directory_symlink(in("day/sub"), in("day/sub-link"));
  io.ReadFolderInfo(in("day"), report);
  EXPECT_THAT(report,
              ::testing::EndsWith("\n\n2,097,156 KB total downloaded - 10/5/2003 2:15:03 AM\n\n"));
}

// A file system that will not delete the folders whose path ends in `refused`.
struct RefusingFileSystem : PosixFileSystem {
  explicit RefusingFileSystem(std::string refused) : refused(std::move(refused)) {}
  void deleteFolder(const std::string& path, bool force) override {
    if (path.ends_with(refused)) throw Error(errc::kPermissionDenied, "Operation not permitted");
    PosixFileSystem::deleteFolder(path, force);
  }
  std::string refused;
};

// Names that only look dated (or a file of a dated name) are never deleted. A folder that cannot
// be deleted is reported, and the other expired ones still go.
TEST_F(IoTest, PruningDeletesTheDaysFromDaysTillExpirationToTwentyMoreNewestFirst) {
  settings.DaysTillExpiration = 30;
  for (const char* name :
       {"20031005", "20030906", "20030905", "20030831", "20030816", "20030815", "20030905.old"})
    dir.write(std::string(name) + "/file.txt", "backup");
  dir.write("20030901", "a file of a candidate's name");
  IO refusing{std::make_unique<RefusingFileSystem>("/20030831"), settings, report, clock, format};
  EXPECT_FALSE(refusing.DeleteOldBackups({2003, 10, 5}, "yyyymmdd", false));
  EXPECT_EQ(namesIn(), (std::set<std::string>{"20031005", "20030906", "20030831", "20030815",
                                              "20030905.old", "20030901"}));
  EXPECT_THAT(report, HasSubstr("Deleting folder: " + in("20030831") +
                                "\nCould not delete folder: " + in("20030831") +
                                " (Operation not permitted)\nDeleting folder: "));
  // Failures of pruning as a whole carry their number.
  settings.DaysTillExpiration = INT_MAX;  // beyond the calendar
  EXPECT_THAT([&] { prune(); }, test::raises(errc::kInvalidArgument));
  settings.DaysTillExpiration = 30;
  settings.DestinationFolder = in("gone");
  EXPECT_THAT([&] { prune(); }, test::raises(errc::kDeviceUnavailable));
}

// 400 backups at gaps of 1 to 3 days, from Wednesday 7 January 2026 (today) back to 21 January
// 2024, beside names that are no backups. A rule keeps the newest backup of each of its newest
// periods that hold one, today's counting; ISO week 1 of 2026 began on Monday 29 December.
TEST_F(IoTest, KeepPoliciesKeepTheNewestBackupOfTheNewestPeriodsAndNothingElse) {
  const Date today{2026, 1, 7};
  constexpr int kGaps[] = {1, 2, 2, 1, 3};
  std::vector<Date> backups{today};
  for (int i = 0; i < 399; ++i) backups.push_back(addDays(backups.back(), -kGaps[i % 5]));
  // Besides these folders, a file and a link to a folder of dated names.
  const std::vector<std::string> foreignFolders{"2025010",      "202501011", "20250230",
                                                "20250105.old", "photos",    ".quillfen-staging",
                                                "20260108"};  // a later day: no backup yet
  const struct {
    const char* title;
    std::optional<std::int32_t> daily, weekly, monthly;
    std::set<std::string> kept;  // empty: every backup
    bool incomplete = false;
  } cases[] = {
      {"7 days",
       7,
       {},
       {},
       {"20260107", "20260106", "20260104", "20260102", "20260101", "20251229", "20251228"}},
      {"3 weeks", {}, 3, {}, {"20260107", "20260104", "20251228"}},
      {"6 months",
       {},
       {},
       6,
       {"20260107", "20251229", "20251129", "20251031", "20250930", "20250831"}},
      {"2 of each", 2, 2, 2, {"20260107", "20260106", "20260104", "20251229"}},
      {"none but today's", 0, {}, {}, {"20260107"}},
      {"after an incomplete run", 1, {}, {}, {}, true},
  };
  for (const auto& c : cases) {
    for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove_all(entry);
    std::set<std::string> expected(foreignFolders.begin(), foreignFolders.end());
    for (const std::string& folder : foreignFolders) fs::create_directory(in(folder));
    expected.insert(dir.write("20240101", "a file").filename());
    fs::create_directory_symlink(in("photos"), in("20240102"));
    expected.insert("20240102");
    for (const Date& day : backups) {
      const std::string name = formatYyyymmdd(day);
      fs::create_directory(in(name));
      if (c.kept.empty() || c.kept.contains(name)) expected.insert(name);
    }
    settings.KeepDaily = c.daily;
    settings.KeepWeekly = c.weekly;
    settings.KeepMonthly = c.monthly;

    EXPECT_TRUE(io.DeleteOldBackups(today, "yyyymmdd", c.incomplete)) << c.title;
    EXPECT_EQ(namesIn(), expected) << c.title;
    EXPECT_EQ(report.find("Deleting folder: " + in("20240121")) != std::string::npos, !c.incomplete)
        << c.title << ": the oldest backup's line";
    EXPECT_EQ(report.find("   ... skipped: today's backup is incomplete.\n") != std::string::npos,
              c.incomplete)
        << c.title;
    report.clear();
  }
}

}  // namespace
}  // namespace quillfen
