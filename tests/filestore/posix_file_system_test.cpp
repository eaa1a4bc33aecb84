#include "filestore/posix_file_system.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "common/error.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using ::testing::HasSubstr;

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

void makeFifo(const fs::path& path) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
}

mode_t permissionBits(const fs::path& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mode & 07777;
}

timespec modificationTime(const fs::path& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mtim;
}

void setModificationTime(const fs::path& path, timespec when) {
  const timespec times[2] = {when, when};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(PosixFileSystemTest, ExistenceTestsTellFilesFromFolders) {
  TempDir dir;
  dir.write("a.txt", "abc");
  dir.write(".hidden", "12345");
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink(dir.path() / "a.txt", dir.path() / "link.txt");
  fs::create_symlink(dir.path() / "sub", dir.path() / "link-to-sub");
  fs::create_symlink(dir.path() / "gone", dir.path() / "dangling");
  makeFifo(dir.path() / "pipe");
  PosixFileSystem fileSystem;
  struct Case {
    const char* name;
    bool file;
    bool folder;
  };
  for (const Case& c : {Case{"a.txt", true, false}, Case{".hidden", true, false},
                        Case{"sub", false, true}, Case{"link.txt", true, false},
                        Case{"link-to-sub", false, true}, Case{"dangling", false, false},
                        Case{"pipe", false, false}, Case{"missing", false, false}}) {
    const std::string path = (dir.path() / c.name).string();
    EXPECT_EQ(fileSystem.fileExists(path), c.file) << c.name;
    EXPECT_EQ(fileSystem.folderExists(path), c.folder) << c.name;
  }
}

TEST(PosixFileSystemTest, DeletingALinkedFolderRemovesTheLinkOnly) {
  TempDir dir;
  dir.write("outside/keep.txt", "keep");
  fs::create_directory(dir.path() / "backup");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "backup" / "inner-link");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "top-link");
  PosixFileSystem fileSystem;

  fileSystem.deleteFolder((dir.path() / "backup").string(), true);
  fileSystem.deleteFolder((dir.path() / "top-link").string(), true);

  EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"outside"});
  EXPECT_EQ(readFile(dir.path() / "outside" / "keep.txt"), "keep");
}

TEST(PosixFileSystemTest, MissingPathsRaiseNumberedErrorsNamingThePath) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing").string();
  const std::string file = dir.write("file.txt", "x").string();
  PosixFileSystem fileSystem;
  const std::vector<std::pair<std::function<void()>, std::string>> calls = {
      {[&] { fileSystem.deleteFolder(missing, true); }, missing},
      {[&] { fileSystem.folderFiles(missing); }, missing},
      {[&] { fileSystem.folderFiles(file); }, file},
      {[&] { fileSystem.folderSize(missing); }, missing},
      {[&] { fileSystem.createFolder(missing + "/child"); }, missing + "/child"},
  };
  for (const auto& [call, path] : calls) {
    try {
      call();
      ADD_FAILURE() << "no error for " << path;
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kPathNotFound) << path;
      EXPECT_THAT(error.description(), HasSubstr("'" + path + "'"));
    }
  }
}

// What `df` reports for the file system holding `path`: its mount point and the free bytes
// (size less used, the superuser's reserve included).
std::pair<std::string, std::uint64_t> dfFigures(const std::string& path) {
  const std::string command =
      "timeout 10 df -B1 --output=size,used,target '" + path + "' | tail -n 1";
  FILE* pipe = ::popen(command.c_str(), "r");
  char line[4096] = {};
  const bool read = pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;
  if (pipe != nullptr) ::pclose(pipe);
  if (!read) return {};
  unsigned long long size = 0, used = 0;
  char target[4096] = {};
  if (std::sscanf(line, "%llu %llu %4095[^\n]", &size, &used, target) != 3) return {};
  return {target, size - used};
}

TEST(PosixFileSystemTest, DriveIsTheMountPointWithTheWholeFreeSpace) {
  TempDir dir;
  fs::create_directories(dir.path() / "deep" / "er");
  std::vector<std::string> paths = {dir.str(), (dir.path() / "deep" / "er").string(), "/"};
  if (fs::is_directory("/dev/shm")) paths.push_back("/dev/shm");
  PosixFileSystem fileSystem;
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

class CopyFileTest : public ::testing::Test {
 protected:
  std::string destination() const { return (target.path() / "").string(); }

  TempDir source;
  TempDir target;
  PosixFileSystem fileSystem;
};

TEST_F(CopyFileTest, CopyReplacesTheFileOfThatNameKeepingTimeAndPermissionBits) {
  struct Case {
    mode_t sourceMode;
    mode_t copiedMode;  // set-ID bits would hand the copier's rights to the file's users
  };
  const std::string content(3 * 1024 * 1024 + 17, 'q');
  for (const Case& c : {Case{0640, 0640}, Case{0444, 0444}, Case{04755, 0755}}) {
    const fs::path file = source.write("data.bin", content);
    ::chmod(file.c_str(), c.sourceMode);
    setModificationTime(file, {981203696, 123456789});
    const fs::path existing = target.write("data.bin", "old contents");
    ::chmod(existing.c_str(), 0444);

    fileSystem.copyFile(file.string(), destination(), true);

    EXPECT_EQ(namesIn(target.path()), std::set<std::string>{"data.bin"});
    EXPECT_EQ(readFile(existing), content);
    EXPECT_EQ(permissionBits(existing), c.copiedMode);
    EXPECT_EQ(modificationTime(existing).tv_sec, 981203696);
    EXPECT_EQ(modificationTime(existing).tv_nsec, 123456789);
    fs::remove(file);
  }
}

// Each failure leaves the destination exactly as it was and tells what went wrong by number.
TEST_F(CopyFileTest, AFailedCopyLeavesTheDestinationAsItWas) {
  source.write("present.txt", "new");
  source.write("folder/inside.txt", "x");
  makeFifo(source.path() / "pipe");
  target.write("keep.txt", "kept");
  target.write("present.txt", "old");
  struct Case {
    std::string source;
    std::string destination;
    bool overwrite;
    int number;
  };
  const std::string file = source.str() + "/present.txt";
  const std::vector<Case> cases = {
      {source.str() + "/missing.txt", destination(), true, errc::kFileNotFound},
      {source.str() + "/pipe", destination(), true, errc::kPathFileAccess},
      {source.str() + "/folder", destination(), true, errc::kPathFileAccess},
      // Readable by nobody, root included: every read of it fails.
      {"/proc/self/mem", destination(), true, errc::kDeviceIo},
      {file, destination() + "missing/", true, errc::kPathNotFound},
      {file, destination() + "keep.txt/", true, errc::kPathNotFound},
      {file, destination(), false, errc::kFileExists},
  };
  for (const Case& c : cases) {
    try {
      fileSystem.copyFile(c.source, c.destination, c.overwrite);
      ADD_FAILURE() << "no error for " << c.source << " -> " << c.destination;
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), c.number)
          << c.source << " -> " << c.destination << ": " << error.description();
    }
    EXPECT_EQ(namesIn(target.path()), (std::set<std::string>{"keep.txt", "present.txt"}));
    EXPECT_EQ(readFile(target.path() / "present.txt"), "old");
  }
}

// Lowers the largest file this process may write, as a full disk would stop a copy midway.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lowered{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = SIG_DFL;
};

TEST_F(CopyFileTest, ACopyStoppedMidwayLeavesNoPartialFileAndKeepsTheOldOne) {
  const fs::path file = source.write("big.bin", std::string(1024 * 1024, 'b'));
  target.write("big.bin", "previous backup");
  {
    const FileSizeLimit limit(64 * 1024);
    EXPECT_THROW(fileSystem.copyFile(file.string(), destination(), true), Error);
  }
  EXPECT_EQ(namesIn(target.path()), std::set<std::string>{"big.bin"});
  EXPECT_EQ(readFile(target.path() / "big.bin"), "previous backup");
}

}  // namespace
}  // namespace quillfen
