#include "common/windows_calls.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/path_limits.h"

// Names as Windows' calls get them. Wine has no MAX_PATH limit, so a wrong long form would go
// unseen by the file system tests there; real Windows refuses a plain path past it.

namespace quillfen {
namespace {

TEST(WideNameTest, SlashesBecomeBackslashesABareDriveItsRootAndLongPathsTheExtendedForm) {
  const std::string deep(300, 'd');
  const std::wstring wideDeep(300, L'd');
  const std::pair<std::string, std::wstring> cases[] = {
      {"C:/data/x", L"C:\\data\\x"},
      {"D:", L"D:\\"},
      {"//server/share/x", L"\\\\server\\share\\x"},
      {"C:/data/./" + deep, L"\\\\?\\C:\\data\\" + wideDeep},
      {"C:\\data\\\\" + deep, L"\\\\?\\C:\\data\\" + wideDeep},
      {"//server/share//" + deep, L"\\\\?\\UNC\\server\\share\\" + wideDeep},
      {"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + wideDeep},
  };
  for (const auto& [name, wide] : cases) EXPECT_EQ(wideName(name), wide) << name;
}

// A remote name Windows would refuse or change is never written: "nul.txt" would vanish into
// the device, "a:b" into a stream of "a", "report." would land on "report".
TEST(FileSystemNameTest, WindowsTakesNoDeviceNameNoStreamAndNoLastDotOrBlank) {
  const std::pair<const char*, bool> cases[] = {
      {"report.txt", true}, {"CONFIG.SYS", true}, {"com10", true},     {".profile", true},
      {"nul", false},       {"Nul.txt", false},   {"com1.log", false}, {"lpt9", false},
      {"aux .c", false},    {"a:b", false},       {"what?", false},    {"report.", false},
      {"name ", false},
  };
  for (const auto& [name, taken] : cases) EXPECT_EQ(isNameTheFileSystemTakes(name), taken) << name;
}

// NTFS counts a name's UTF-16 units: 100 CJK characters (300 bytes of UTF-8) fit its 255.
TEST(FileSystemNameTest, LengthsAreCountedInUtf16Units) {
  std::string cjk;
  for (int i = 0; i < 100; ++i) cjk += "\xE6\x97\xA5";
  const std::pair<std::string, std::size_t> cases[] = {
      {"abc", 3}, {"\xC3\xA4", 1}, {"\xF0\x9F\x98\x80", 2}, {cjk, 100}};
  for (const auto& [name, units] : cases) EXPECT_EQ(lengthOnDisk(name), units) << name;
}

}  // namespace
}  // namespace quillfen
