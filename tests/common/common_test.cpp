#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "common/date.h"
#include "common/error.h"
#include "common/posix_file.h"
#include "common/transfer_scheme.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;

TEST(DateTest, AddDaysCrossesMonthYearAndLeapDayBoundariesAndFolderNamesArePadded) {
  struct Step {
    Date from;
    int days;
    Date expected;
  };
  for (const Step& s :
       {Step{{2004, 3, 1}, -1, {2004, 2, 29}}, Step{{1900, 3, 1}, -1, {1900, 2, 28}},
        Step{{1970, 1, 1}, -1, {1969, 12, 31}}}) {
    EXPECT_EQ(addDays(s.from, s.days), s.expected) << formatYyyymmdd(s.from) << " " << s.days;
  }
  EXPECT_EQ(formatYyyymmdd({987, 1, 9}), "09870109") << "folder names are zero-padded";
}

// Makes `folder` the working folder while it lives.
struct WorkingFolder {
  explicit WorkingFolder(const fs::path& folder) { fs::current_path(folder); }
  ~WorkingFolder() { fs::current_path(previous); }
  const fs::path previous = fs::current_path();
};

// The temporary file lies in the target's folder under a name of its own: a bare target name
// means the working folder, and the longest name allowed leaves no room to derive one from it.
// Every text that quotes a path or an address: control characters as "?", no part of a login.
TEST(ShownTextTest, PathsShowNoControlCharacterAndAddressesNoLogin) {
  EXPECT_EQ(
      errorFromErrno(ENOENT, "Cannot copy", "/s/a\nrun ended: exit code 0\x1b[2J").description(),
      "Cannot copy '/s/a?run ended: exit code 0?[2J': No such file or directory");
  const std::pair<const char*, const char*> addresses[] = {
      {"ftp://backup:Se/cr3t-PW@host:21/data", "ftp://host:21/data"},
      {"ftp://localhost:21/S3cretTail@ftp.example.com/data", "ftp://ftp.example.com/data"},
      {"SFTP://u:p@ss@h/d", "SFTP://h/d"},
      {"x://u:pw@h", "h"},  // an unknown scheme could be part of the login
      {"ftp://h/a\tb", "ftp://h/a?b"},
  };
  for (const auto& [address, shown] : addresses) EXPECT_EQ(addressWithoutLogin(address), shown);
}

TEST(PendingFileTest, AnyTargetThatCanBeWrittenGetsTheNewContentOnlyByCommit) {
  const test::TempDir folder;
  const WorkingFolder working(folder.path());
  const long longest = ::pathconf(folder.str().c_str(), _PC_NAME_MAX);
  ASSERT_GT(longest, 0);
  const struct {
    const char* what;
    std::string target;
  } cases[] = {
      {"a bare name", "Config.ini"},
      {"the longest name", std::string(static_cast<std::size_t>(longest), 'n')},
  };
  for (const auto& c : cases) {
    folder.write(c.target, "old");
    PendingFile file(
        c.target,
        {.create = "Cannot create", .write = "Cannot write", .replace = "Cannot replace"});
    file.write("new");
    EXPECT_EQ(test::readFile(folder.path() / c.target), "old") << c.what;
    file.commit();
    EXPECT_EQ(test::readFile(folder.path() / c.target), "new") << c.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << c.what << ": the temporary file was left beside the target";
    fs::remove(folder.path() / c.target);
  }
}

}  // namespace
}  // namespace quillfen
