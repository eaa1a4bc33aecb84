#include "filestore/posix_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <set>

#include "common/error.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using ::testing::HasSubstr;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  std::string in(const std::string& name) const { return (dir.path() / name).string(); }
  std::set<std::string> namesIn(const std::string& folder) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(in(folder))) {
      names.insert(entry.path().filename());
    }
    return names;
  }

  test::TempDir dir;
  PosixFileSystem fileSystem;
};

TEST_F(PosixFileSystemTest, ExistenceTestsTellFilesFromFoldersAndDeletingALinkSparesItsTarget) {
  dir.write("a.txt", "abc");
  dir.write("sub/keep.txt", "keep");
  fs::create_symlink(in("a.txt"), in("link.txt"));
  fs::create_directory_symlink(in("sub"), in("link-to-sub"));
  fs::create_symlink(in("gone"), in("dangling"));
  ASSERT_EQ(::mkfifo(in("pipe").c_str(), 0644), 0);
  const struct {
    const char* name;
    bool file, folder;
  } cases[] = {{"a.txt", true, false},       {"sub", false, true},       {"link.txt", true, false},
               {"link-to-sub", false, true}, {"dangling", false, false}, {"pipe", false, false},
               {"missing", false, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(fileSystem.fileExists(in(c.name)), c.file) << c.name;
    EXPECT_EQ(fileSystem.folderExists(in(c.name)), c.folder) << c.name;
  }

  fs::create_directory(in("backup"));
  fs::create_directory_symlink(in("sub"), in("backup/inner-link"));
  fileSystem.deleteFolder(in("backup"), true);
  fileSystem.deleteFolder(in("link-to-sub"), true);
  EXPECT_FALSE(fs::exists(in("backup")) || fs::exists(fs::symlink_status(in("link-to-sub"))));
  EXPECT_EQ(readFile(in("sub/keep.txt")), "keep");
}

// What `df` reports for the file system holding `path`: its mount point and the free bytes
// (size less used, the superuser's reserve included).
std::pair<std::string, std::uint64_t> dfFigures(const std::string& path) {
  FILE* pipe = ::popen(
      ("timeout 10 df -B1 --output=size,used,target '" + path + "' | tail -n 1").c_str(), "r");
  char line[4096] = {}, target[4096] = {};
  const bool read = pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;
  if (pipe != nullptr) ::pclose(pipe);
  unsigned long long size = 0, used = 0;
  if (!read || std::sscanf(line, "%llu %llu %4095[^\n]", &size, &used, target) != 3) return {};
  return {target, size - used};
}

TEST_F(PosixFileSystemTest, DriveIsTheMountPointWithTheWholeFreeSpace) {
  std::vector<std::string> paths = {dir.str(), "/"};
  if (fs::is_directory("/dev/shm")) paths.push_back("/dev/shm");
  for (const std::string& path : paths) {
    const auto [mountPoint, freeBytes] = dfFigures(path);
    ASSERT_FALSE(mountPoint.empty()) << "df failed for " << path;
    const DriveInfo drive = fileSystem.getDrive(path);
    EXPECT_EQ(drive.letter, mountPoint) << path;
    // Others write to the same disk meanwhile; the reserve that tells the two figures apart is
    // far larger than this.
    const std::uint64_t tolerance = std::uint64_t{64} << 20;
    EXPECT_LE(drive.freeSpace, freeBytes + tolerance) << path;
    EXPECT_GE(drive.freeSpace + tolerance, freeBytes) << path;
  }
}

TEST_F(PosixFileSystemTest, CopyReplacesTheFileOfThatNameKeepingItsPermissionBits) {
  const std::string content(3 * 1024 * 1024 + 17, 'q');
  // Set-ID bits would hand the copier's rights to the file's users.
  for (const auto& [sourceMode, copiedMode] :
       {std::pair{0640, 0640}, {0444, 0444}, {04755, 0755}}) {
    const fs::path file = dir.write("source/data.bin", content);
    ::chmod(file.c_str(), sourceMode);
    ::chmod(dir.write("target/data.bin", "old contents").c_str(), 0444);

    fileSystem.copyFile(file.string(), in("target/"), true);

    EXPECT_EQ(namesIn("target"), std::set<std::string>{"data.bin"});
    EXPECT_EQ(readFile(in("target/data.bin")), content);
    struct stat status {};
    ASSERT_EQ(::stat(in("target/data.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, static_cast<mode_t>(copiedMode));
    fs::remove(file);
  }
}

// Lowers the largest file this process may write, as a full disk would stop a copy midway.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit lowered{bytes, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
  }
  void (*handler)(int);
  rlimit saved{};
};

// Each failure tells what went wrong by number, names a missing path and leaves the
// destination of a copy exactly as it was.
TEST_F(PosixFileSystemTest, FailuresAreNumberedAndLeaveTheDestinationAsItWas) {
  const std::string file = dir.write("source/present.txt", std::string(1024 * 1024, 'n')).string();
  ASSERT_EQ(::mkfifo(in("source/pipe").c_str(), 0644), 0);
  dir.write("target/keep.txt", "kept");
  dir.write("target/present.txt", "old");
  const std::string target = in("target/"), missing = in("missing");
  const auto copy = [&](const std::string& from, const std::string& to, bool overwrite = true) {
    return [=, this] { fileSystem.copyFile(from, to, overwrite); };
  };
  const struct {
    std::function<void()> call;
    int number;
    std::string named = "";  // the path the description names
    rlim_t sizeLimit = RLIM_INFINITY;
  } cases[] = {
      {[&] { fileSystem.deleteFolder(missing, true); }, errc::kPathNotFound, missing},
      {[&] { fileSystem.folderFiles(missing); }, errc::kPathNotFound, missing},
      {[&] { fileSystem.folderFiles(file); }, errc::kPathNotFound, file},
      {copy(in("source/missing.txt"), target), errc::kFileNotFound},
      {copy(in("source/pipe"), target), errc::kPathFileAccess},
      {copy("/proc/self/mem", target), errc::kDeviceIo},  // every read fails, root's too
      {copy(file, target + "missing/"), errc::kPathNotFound},
      {copy(file, target + "keep.txt/"), errc::kPathNotFound},
      {copy(file, target, false), errc::kFileExists},
      {copy(file, target), errc::kDiskFull, "", 64 * 1024},  // stopped midway
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    try {
      const FileSizeLimit limit(cases[i].sizeLimit);
      cases[i].call();
      ADD_FAILURE() << "no error in case " << i;
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), cases[i].number) << i << ": " << error.description();
      EXPECT_THAT(error.description(), HasSubstr("'" + cases[i].named)) << i;
    }
    EXPECT_EQ(namesIn("target"), (std::set<std::string>{"keep.txt", "present.txt"})) << i;
    EXPECT_EQ(readFile(in("target/present.txt")), "old") << i;
  }
}

}  // namespace
}  // namespace quillfen
