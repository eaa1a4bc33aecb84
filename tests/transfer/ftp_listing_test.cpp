#include "transfer/ftp_listing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillfen::test {
namespace {

using ::testing::ElementsAre;

const auto file = [](const char* name) { return RemoteEntry{name, false}; };
const auto folder = [](const char* name) { return RemoteEntry{name, true}; };

TEST(FtpListing, MlsdAndListRepliesOfSeveralServerStylesGiveFilesAndFolders) {
  const std::string text =
      "type=cdir;perm=el;unique=803g2; .\r\n"
      "Type=Dir;Modify=20240110080000; Sub Folder\r\n"
      "modify=20240101000000;perm=adfr;size=5;type=file;unique=FD01U2;UNIX.group=0; a;b c\r\n"
      "type=OS.unix=slink:/srv/target;size=9; link to target\r\n"
      "type=file;size=3; Grüße.txt\n"
      "\r\n"
      "garbage-without-a-blank\r\n";
  EXPECT_THAT(parseMlsdListing(text), ElementsAre(folder("Sub Folder"), file("a;b c"),
                                                  file("link to target"), file("Grüße.txt")));
  const std::string unixForm =
      "total 24\r\n"
      "drwxr-xr-x    2 ftp      ftp          4096 Jan 15 10:30 .\r\n"
      "-rw-r--r--    1 1000     1000           12 Dec 31  2023 old  spaced name.txt\r\n"
      "drwxr-xr-x    2 ftp      ftp          4096 Feb  3 09:05 photos 2024\r\n"
      "lrwxrwxrwx    1 ftp      ftp            10 Mar  1 12:00 current -> backup.tar\r\n"
      "-rw-r--r--    1 owner           33 Apr 30 23:59 no group.txt\r\n"
      "crw-rw-rw-    1 root     root     1,   3 Jan  1  2024 null\r\n";
  EXPECT_THAT(parseListListing(unixForm),
              ElementsAre(file("old  spaced name.txt"), folder("photos 2024"), file("current"),
                          file("no group.txt")));
  const std::string dosForm =
      "01-15-24  10:30AM       <DIR>          Sub Folder\r\n"
      "12-31-2023  11:59PM            1,048,576 big file.bin\r\n"
      "01-15-24  10:30                     17 24h clock.txt\r\n"
      "not a listing line\r\n";
  EXPECT_THAT(parseListListing(dosForm),
              ElementsAre(folder("Sub Folder"), file("big file.bin"), file("24h clock.txt")));
}

}  // namespace
}  // namespace quillfen::test
