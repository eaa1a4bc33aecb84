#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "common/error.h"
#include "filestore/posix_file_system.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The network branch copying from one real folder into another, with the fake window and pump.
class NetworkFetchTest : public ::testing::Test {
 protected:
  NetworkFetchTest() {
    env.services.createFileSystem = [] { return std::make_unique<PosixFileSystem>(); };
    run.Settings.NetworkPath = source.str();
    run.ActivityReport = "report so far\n";
  }

  void fetch() { DownloadFromNetworkPath(run, env.services, today.str()); }

  std::set<std::string> copied() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(today.path())) {
      names.insert(entry.path().filename());
    }
    return names;
  }

  // The window's progress entries and the event passes, in order.
  std::vector<std::string> progressLog() const {
    std::vector<std::string> kept;
    for (const auto& entry : env.log) {
      if (entry.rfind("max ", 0) == 0 || entry.rfind("value ", 0) == 0 || entry == "events") {
        kept.push_back(entry);
      }
    }
    return kept;
  }

  TempDir exeFolder;
  TempDir source;
  TempDir today;
  test::FakeEnvironment env{exeFolder.str()};
  RunModule run;
};

TEST_F(NetworkFetchTest, CopiesThePlainFilesAndAdvancesTheBarAfterEach) {
  source.write("a.txt", "alpha");
  source.write("with blanks inside.dat", "beta");
  fs::create_symlink(source.path() / "a.txt", source.path() / "link.txt");
  source.write(".hidden", "hidden");
  source.write("sub/inner.txt", "inner");
  ASSERT_EQ(::mkfifo((source.path() / "pipe").c_str(), 0644), 0);
  fs::create_symlink(source.path() / "gone", source.path() / "dangling");

  fetch();

  EXPECT_EQ(copied(), (std::set<std::string>{"a.txt", "with blanks inside.dat", "link.txt"}));
  EXPECT_EQ(readFile(today.path() / "with blanks inside.dat"), "beta");
  EXPECT_EQ(readFile(today.path() / "link.txt"), "alpha");
  EXPECT_THAT(progressLog(),
              ElementsAre("max 4", "value 2", "events", "value 3", "events", "value 4", "events"));
  EXPECT_EQ(run.ActivityReport, "report so far\n");
}

TEST_F(NetworkFetchTest, ASourceWithoutPlainFilesCopiesNothing) {
  source.write(".profile", "x");
  source.write("folder/file.txt", "x");
  fetch();
  EXPECT_TRUE(copied().empty());
  EXPECT_THAT(progressLog(), ElementsAre("max 1"));
}

TEST_F(NetworkFetchTest, BlanksAroundThePathAndTheNamesAreDropped) {
  run.Settings.NetworkPath = "  " + source.str() + " ";
  source.write(" padded.txt ", "the padded one");
  source.write("padded.txt", "the plain one");
  fetch();
  // The padded name is looked for without its blanks: both turns copy the plain file.
  EXPECT_EQ(copied(), std::set<std::string>{"padded.txt"});
  EXPECT_EQ(readFile(today.path() / "padded.txt"), "the plain one");
  EXPECT_THAT(progressLog(), ElementsAre("max 3", "value 2", "events", "value 3", "events"));
}

TEST_F(NetworkFetchTest, ACopyReplacesTodaysFileAndKeepsItsTimeAndPermissions) {
  const fs::path file = source.write("db.mdb", "new contents");
  ::chmod(file.c_str(), 0604);
  const timespec when[2] = {{1000000000, 0}, {1065320103, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), when, 0), 0);
  ::chmod(today.write("db.mdb", "old").c_str(), 0400);

  fetch();

  EXPECT_EQ(readFile(today.path() / "db.mdb"), "new contents");
  struct stat status {};
  ASSERT_EQ(::stat((today.path() / "db.mdb").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, 1065320103);
  EXPECT_EQ(status.st_mtim.tv_nsec, 500);
  EXPECT_EQ(status.st_mode & 0777, 0604u);
}

TEST_F(NetworkFetchTest, CancelBeforeTheSecondFileStopsAfterTheFirst) {
  for (const char* name : {"1.txt", "2.txt", "3.txt"}) source.write(name, name);
  env.events.onProcess = [this] { env.window.clickCancel(); };
  fetch();
  EXPECT_EQ(copied().size(), 1u);
  EXPECT_THAT(env.window.values, ElementsAre(2.0f));
}

TEST_F(NetworkFetchTest, AnUnreadableNetworkPathFailsNamingIt) {
  run.Settings.NetworkPath = source.str() + "/not here";
  try {
    fetch();
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kPathNotFound);
    EXPECT_THAT(error.description(), HasSubstr(source.str() + "/not here"));
  }
  EXPECT_TRUE(progressLog().empty());
}

TEST_F(NetworkFetchTest, AFailedCopyEndsTheFetchKeepingWhatCameBefore) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) source.write(name, name);
  // A regular file that no one can read, whoever runs the test.
  fs::create_symlink("/proc/self/mem", source.path() / "unreadable.bin");
  std::vector<std::string> order;
  PosixFileSystem().searchPlainFiles(source.str(), [&](const std::string& name) {
    order.push_back(name);
    return name != "unreadable.bin";
  });

  EXPECT_THROW(fetch(), Error);

  EXPECT_EQ(copied(), std::set<std::string>(order.begin(), order.end() - 1));
}

TEST_F(NetworkFetchTest, ASourceOfFortyThousandFilesIsCopiedCompletely) {
  constexpr int kFiles = 40000;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "file" + std::to_string(i);
    const int fd = ::open((source.path() / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, name.data(), name.size()), static_cast<ssize_t>(name.size()));
    ::close(fd);
  }

  fetch();

  EXPECT_EQ(env.window.max, kFiles + 1.0f);
  EXPECT_EQ(env.window.values.size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(env.window.value, kFiles + 1.0f);
  EXPECT_EQ(copied().size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(readFile(today.path() / "file39999"), "file39999");
}

}  // namespace
}  // namespace quillfen
