#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
using Set = std::set<std::string>;

// The network branch copying from one real folder into another, with the fake window and pump.
class NetworkFetchTest : public ::testing::Test {
 protected:
  NetworkFetchTest() {
    env.services.createFileSystem = [] { return std::make_unique<PosixFileSystem>(); };
    run.Settings.NetworkPath = source.str();
  }

  void fetch() { DownloadFromNetworkPath(run, env.services, today.str()); }

  Set copied() const {
    Set names;
    for (const auto& entry : fs::directory_iterator(today.path()))
      names.insert(entry.path().filename());
    return names;
  }

  test::TempDir source, today;
  test::FakeEnvironment env{"/opt/quillfen"};
  RunModule run;
};

TEST_F(NetworkFetchTest, CopiesThePlainFilesOverTodaysKeepingTheirTimes) {
  run.Settings.NetworkPath = "  " + source.str() + " ";
  const fs::path db = source.write("with blanks.mdb", "new contents");
  const timespec when[2] = {{1000000000, 0}, {1065320103, 500}};
  ASSERT_EQ(::utimensat(AT_FDCWD, db.c_str(), when, 0), 0);
  ::chmod(today.write("with blanks.mdb", "old").c_str(), 0400);
  fs::create_symlink(db, source.path() / "link.mdb");
  // A name with blanks around it is looked for without them: both turns copy the plain file.
  source.write(" padded.txt ", "the padded one");
  source.write("padded.txt", "the plain one");
  source.write(".hidden", "hidden");
  source.write("sub/inner.txt", "inner");
  ASSERT_EQ(::mkfifo((source.path() / "pipe").c_str(), 0644), 0);
  fs::create_symlink(source.path() / "gone", source.path() / "dangling");

  fetch();

  EXPECT_EQ(copied(), (Set{"with blanks.mdb", "link.mdb", "padded.txt"}));
  EXPECT_EQ(readFile(today.path() / "with blanks.mdb"), "new contents");
  EXPECT_EQ(readFile(today.path() / "link.mdb"), "new contents");
  EXPECT_EQ(readFile(today.path() / "padded.txt"), "the plain one");
  struct stat status {};
  ASSERT_EQ(::stat((today.path() / "with blanks.mdb").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, 1065320103);
  EXPECT_EQ(status.st_mtim.tv_nsec, 500);
}

TEST_F(NetworkFetchTest, CancelBeforeTheSecondFileStopsAfterTheFirst) {
  for (const char* name : {"1.txt", "2.txt", "3.txt"}) source.write(name, name);
  env.events.onProcess = [this] { env.window.clickCancel(); };
  fetch();
  EXPECT_EQ(copied().size(), 1u);
}

TEST_F(NetworkFetchTest, AFailedCopyEndsTheFetchKeepingWhatCameBefore) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) source.write(name, name);
  // A regular file that no one can read, whoever runs the test.
  fs::create_symlink("/proc/self/mem", source.path() / "unreadable.bin");
  Set before;
  PosixFileSystem().searchPlainFiles(source.str(), [&](const std::string& name) {
    return name != "unreadable.bin" && before.insert(name).second;
  });
  EXPECT_THROW(fetch(), Error);
  EXPECT_EQ(copied(), before);
}

}  // namespace
}  // namespace quillfen
