#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/make_front_end.h"

namespace quillfen {
namespace {

void set(const char* name, const char* value) {
  value ? setenv(name, value, 1) : unsetenv(name);
}

// Picks the front end for QUILLFEN_UI, DISPLAY and QT_QPA_PLATFORM and ends the process: 10 for
// the window, 20 for the console, plus 1 when QT_QPA_PLATFORM was not left as it was found.
[[noreturn]] void chooseAndExit(const char* quillfenUi, const char* display, const char* qt) {
  set("QUILLFEN_UI", quillfenUi);
  set("DISPLAY", display);
  set("WAYLAND_DISPLAY", nullptr);
  set("QT_QPA_PLATFORM", qt);
  static int argc = 1;
  static char name[] = "quillfen";
  static char* argv[] = {name, nullptr};
  const bool window = makeFrontEnd(argc, argv)->hasDisplay();
  const char* after = std::getenv("QT_QPA_PLATFORM");
  std::_Exit((window ? 10 : 20) + (std::string(after ? after : "-") == (qt ? qt : "-") ? 0 : 1));
}

// Every case runs in a fresh process: a process holds one QApplication at most, and a display
// that cannot be opened must not take the test program down with it.
TEST(FrontEndChoiceDeathTest, WindowOnlyWhereADisplayOpensNeverAnAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  using testing::ExitedWithCode;
  using testing::IsEmpty;
  EXPECT_EXIT(chooseAndExit(nullptr, ":77", nullptr), ExitedWithCode(20), IsEmpty())
      << "an unopenable display falls back to the console, silently";
  EXPECT_EXIT(chooseAndExit("window", nullptr, "offscreen"), ExitedWithCode(20), IsEmpty())
      << "an unknown choice is automatic: no display, no window";
  EXPECT_EXIT(chooseAndExit("GUI", nullptr, "offscreen"), ExitedWithCode(10), "")
      << "the platform the user named is used as given";
  EXPECT_EXIT(chooseAndExit("gui", ":77", nullptr), ExitedWithCode(20),
              testing::HasSubstr("no display could be opened; using the console"));
  EXPECT_TRUE(displayNamed("", "wayland-0"));
  EXPECT_FALSE(displayNamed(nullptr, ""));
}

}  // namespace
}  // namespace quillfen
