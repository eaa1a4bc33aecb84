#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <optional>
#include <string>

#include "ui/front_end.h"

namespace quillfen {
namespace {

struct Environment {
  const char* quillfenUi;
  const char* display;
  const char* qtPlatform;
};

void set(const char* name, const char* value) {
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

// Picks the front end in `environment` and ends the process: 10 for the window, 20 for the
// console, plus 1 when QT_QPA_PLATFORM was not left as it was found.
[[noreturn]] void chooseAndExit(const Environment& environment) {
  set("QUILLFEN_UI", environment.quillfenUi);
  set("DISPLAY", environment.display);
  set("WAYLAND_DISPLAY", nullptr);
  set("QT_QPA_PLATFORM", environment.qtPlatform);
  static int argc = 1;
  static char name[] = "quillfen";
  static char* argv[] = {name, nullptr};
  const auto frontEnd = makeFrontEnd(argc, argv);
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool untouched =
      environment.qtPlatform == nullptr
          ? platform == nullptr
          : platform != nullptr && std::string(platform) == environment.qtPlatform;
  std::_Exit((frontEnd->hasDisplay() ? 10 : 20) + (untouched ? 0 : 1));
}

// Every case runs in a fresh process: a process holds one QApplication at most, and a display
// that cannot be opened must not take the test program down with it.
class FrontEndChoiceDeathTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FrontEndChoiceDeathTest, UnopenableDisplayFallsBackToTheConsoleSilently) {
  EXPECT_EXIT(chooseAndExit({nullptr, ":77", nullptr}), testing::ExitedWithCode(20),
              testing::IsEmpty());
}

TEST_F(FrontEndChoiceDeathTest, NoDisplayNamedMeansConsole) {
  EXPECT_EXIT(chooseAndExit({nullptr, nullptr, nullptr}), testing::ExitedWithCode(20),
              testing::IsEmpty());
}

TEST_F(FrontEndChoiceDeathTest, ConsoleForcedDespiteADisplay) {
  EXPECT_EXIT(chooseAndExit({"console", ":0", "offscreen"}), testing::ExitedWithCode(20),
              testing::IsEmpty());
}

TEST_F(FrontEndChoiceDeathTest, WindowForcedOnThePlatformTheUserNamed) {
  EXPECT_EXIT(chooseAndExit({"gui", nullptr, "offscreen"}), testing::ExitedWithCode(10), "");
}

TEST_F(FrontEndChoiceDeathTest, ForcedWindowWithoutADisplaySaysSoAndUsesTheConsole) {
  EXPECT_EXIT(chooseAndExit({"gui", ":77", nullptr}), testing::ExitedWithCode(20),
              testing::HasSubstr("no display could be opened; using the console"));
}

}  // namespace
}  // namespace quillfen
