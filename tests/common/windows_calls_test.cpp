#include "common/windows_calls.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// Names as Windows' calls get them. Wine has no MAX_PATH limit, so a wrong long form would go
// unseen by the file system tests there; real Windows refuses a plain path past it.

namespace quillfen {
namespace {

TEST(WideNameTest, SlashesBecomeBackslashesAndLongPathsTakeTheExtendedForm) {
  const std::string deep(300, 'd');
  const std::wstring wideDeep(300, L'd');
  const std::pair<std::string, std::wstring> cases[] = {
      {"C:/data/x", L"C:\\data\\x"},
      {"//server/share/x", L"\\\\server\\share\\x"},
      {"C:/data/./" + deep, L"\\\\?\\C:\\data\\" + wideDeep},
      {"C:\\data\\\\" + deep, L"\\\\?\\C:\\data\\" + wideDeep},
      {"//server/share//" + deep, L"\\\\?\\UNC\\server\\share\\" + wideDeep},
      {"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + wideDeep},
  };
  for (const auto& [name, wide] : cases) EXPECT_EQ(wideName(name), wide) << name;
}

}  // namespace
}  // namespace quillfen
