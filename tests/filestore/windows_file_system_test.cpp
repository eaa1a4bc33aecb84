#include "filestore/windows_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/error.h"
#include "support/raises.h"
#include "support/temp_dir.h"

// The Windows file system object under Wine: the points where Windows differs from POSIX
// (read-only attributes, no rename over a folder, reparse points, paths past MAX_PATH).

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::Optional;

TEST(DriveNameTest, ADrivePathIsNamedByItsLetterAndAUncPathByItsShare) {
  for (const char* path : {"D:\\Backup\\20261208", "D:", "\\\\?\\D:\\Backup"})
    EXPECT_EQ(driveNameOf(path), "D") << path;
  EXPECT_EQ(driveNameOf("e:/backup"), "e");
  for (const char* path : {"\\\\server\\share\\backups", "\\\\server\\share",
                           "//server/share/backups", "\\\\?\\UNC\\server\\share\\backups"})
    EXPECT_EQ(driveNameOf(path), "\\\\server\\share") << path;
}

class WindowsFileSystemTest : public ::testing::Test {
 protected:
  std::string in(const std::string& name) const { return dir.str() + "\\" + name; }
  void makeReadOnly(const std::string& path) const {
    ASSERT_TRUE(::SetFileAttributesW(fs::path(path).c_str(), FILE_ATTRIBUTE_READONLY));
  }

  test::TempDir dir;
  WindowsFileSystem fileSystem;
};

// Its free space and its letter: the temporary folder lies on a drive.
TEST_F(WindowsFileSystemTest, TheDriveOfAFolderIsItsVolumeByLetter) {
  const DriveInfo drive = fileSystem.getDrive(dir.str());
  EXPECT_EQ(drive.letter, dir.str().substr(0, 1));
  EXPECT_GT(drive.freeSpace, 0u);
  EXPECT_FALSE(drive.readOnly);
}

// A path past MAX_PATH, written with "/" as a setting may be, works at every step.
TEST_F(WindowsFileSystemTest, ATreeDeeperThanMaxPathIsMadeCopiedSizedAndDeleted) {
  const std::string step(40, 's');
  std::string deepest = dir.str() + "/deep";
  std::string relative;
  fileSystem.createFolder(deepest);
  for (int level = 0; level < 7; ++level) {
    deepest += "/" + step;
    relative += step + "/";
    fileSystem.createFolder(deepest);
  }
  ASSERT_GT(deepest.size(), std::size_t{MAX_PATH});
  dir.write("source.txt", "deep content");
  ASSERT_TRUE(fileSystem.copyFile(in("source.txt"), deepest, false, [] { return true; }));

  EXPECT_THAT(fileSystem.treeFiles(in("deep")),
              ElementsAre(::testing::Field(&FileEntry::name, relative + "source.txt")));
  EXPECT_EQ(fileSystem.folderSize(dir.str() + "/deep"), 12u);
  EXPECT_THAT(fileSystem.readFolder(dir.str() + "/deep").folders, ElementsAre(step));
  EXPECT_THAT(fileSystem.ownFileFacts(in("deep"), relative + "source.txt"),
              Optional(::testing::Field(&FileFacts::size, 12u)));
  EXPECT_NO_THROW(fileSystem.flushToDisk(in("deep")));
  fileSystem.deleteFolder(in("deep"), false);
  EXPECT_FALSE(fileSystem.folderExists(in("deep")));
}

// A stopped copy, and one over an existing file without overwrite, leave the destination as it
// was; a finished copy has the source's time.
TEST_F(WindowsFileSystemTest, ACopyKeepsTheTimeAndAStoppedOneLeavesNothing) {
  const fs::path source = dir.write("big.bin", std::string((9 << 20) + 1, 'b'));
  fs::last_write_time(source, fs::last_write_time(source) - std::chrono::hours(24 * 400));
  fs::create_directory(in("to"));
  EXPECT_FALSE(fileSystem.copyFile(source.string(), in("to"), true, [] { return false; }));
  EXPECT_TRUE(fs::is_empty(in("to")));

  ASSERT_TRUE(fileSystem.copyFile(source.string(), in("to\\"), true, [] { return true; }));
  EXPECT_EQ(fileSystem.fileFacts(in("to\\big.bin")), fileSystem.fileFacts(source.string()));
  EXPECT_THROW(fileSystem.copyFile(source.string(), in("to"), false, [] { return true; }), Error);
  EXPECT_THROW(fileSystem.copyFile(in("missing.bin"), in("to"), true, [] { return true; }),
               SourceFileError);
}

TEST_F(WindowsFileSystemTest, ReadOnlyEntriesGoOnlyWithForce) {
  dir.write("ro\\inner\\file.txt", "x");
  makeReadOnly(in("ro\\inner\\file.txt"));
  makeReadOnly(in("ro\\inner"));
  makeReadOnly(in("ro"));
  EXPECT_THROW(fileSystem.deleteFile(in("ro\\inner\\file.txt"), false), Error);
  EXPECT_TRUE(fileSystem.fileExists(in("ro\\inner\\file.txt")));
  fileSystem.deleteFolder(in("ro"), true);
  EXPECT_FALSE(fileSystem.folderExists(in("ro")));
}

// Not even an empty folder is replaced, which a plain rename would do without a word.
TEST_F(WindowsFileSystemTest, ARenameNeverReplacesAndAHardLinkSharesTheFile) {
  dir.write("a\\file.txt", "a");
  fs::create_directory(in("empty"));
  EXPECT_THAT([&] { fileSystem.renameFolder(in("a"), in("empty")); },
              test::raises(errc::kFileExists));
  EXPECT_TRUE(fs::is_empty(in("empty")));
  EXPECT_FALSE(fileSystem.exchangeFolders(in("a"), in("empty")));

  ASSERT_TRUE(fileSystem.linkFile(in("a\\file.txt"), in("empty\\linked.txt")));
  EXPECT_FALSE(fileSystem.linkFile(in("a\\file.txt"), in("empty\\linked.txt"))) << "name taken";
  EXPECT_EQ(test::readFile(in("empty\\linked.txt")), "a");
}

// A link planted in a backup is never followed by the look for an unchanged file, never entered
// by a walk, and deleting it spares what it points to.
TEST_F(WindowsFileSystemTest, AFolderLinkIsNeitherFollowedNorEnteredAndGoesAlone) {
  dir.write("real\\file.txt", "kept");
  // Wine 8 answers success but makes nothing, and refuses a junction (FSCTL_SET_REPARSE_POINT).
  ::CreateSymbolicLinkW(
      fs::path(in("link")).c_str(), fs::path(in("real")).c_str(),
      SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  if (!fs::exists(fs::symlink_status(in("link")))) GTEST_SKIP() << "no folder link (Wine 8)";
  EXPECT_EQ(fileSystem.ownFileFacts(dir.str(), "link/file.txt"), std::nullopt);
  const FolderContents contents = fileSystem.readFolder(dir.str());
  EXPECT_THAT(contents.folderLinks, ElementsAre("link"));
  EXPECT_THAT(contents.folders, ElementsAre("real"));
  EXPECT_EQ(fileSystem.folderSize(dir.str()), 4u);
  fileSystem.deleteFolder(in("link"), true);
  EXPECT_FALSE(fs::exists(fs::symlink_status(in("link"))));
  EXPECT_EQ(test::readFile(in("real\\file.txt")), "kept");
}

}  // namespace
}  // namespace quillfen
