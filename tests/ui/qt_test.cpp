#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qtestspontaneevent.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <cstdlib>
#include <string>

#include "app/make_front_end.h"
#include "qt_app.h"
#include "ui/qt_splash_window.h"

namespace quillfen {
namespace {

class SplashTest : public testing::Test {
 public:
  static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
  // The run's opening: load, range 1 to 100, show, one pass of events.
  FrmSplash& shown() {
    window.load();
    window.setProgressMin(1);
    window.setProgressMax(100);
    window.show();
    QApplication::processEvents();
    return *window.form();
  }
  template <typename T = QWidget>
  T& control(const char* name) {
    T* found = window.form()->findChild<T*>(name);
    if (found == nullptr) throw std::runtime_error(std::string("no control ") + name);
    return *found;
  }
  void press(Qt::Key key) { QTest::keyClick(&control("btoCancel"), key); }
  void clickCancel() { QTest::mouseClick(&control("btoCancel"), Qt::LeftButton); }
  // A click at a point of the window, delivered to whatever control lies there.
  void clickAt(QPoint point) {
    QTest::mouseClick(window.form()->windowHandle(), Qt::LeftButton, {}, point);
  }

  bool answer = false;  // to the close question
  int asked = 0;
  QtSplashWindow window{[this](QWidget&) {
    ++asked;
    return answer;
  }};
};

// Cancel twice, then Yes to the close question unloads the window, and the next access loads a
// fresh hidden one; the window manager's close unloads it too.
TEST_F(SplashTest, CancelTwiceThenCloseByYesOrByTheWindowManager) {
  shown();
  clickCancel();
  EXPECT_EQ(window.cancelValue(), 1);
  window.setStatusCaption("Downloading files...");
  clickCancel();
  EXPECT_EQ(control<QLabel>("lblStatus").text(), "Aborting...");
  EXPECT_EQ(asked, 0);

  answer = true;
  const QPointer<FrmSplash> closed = window.form();
  press(Qt::Key_Space);
  EXPECT_EQ(window.form(), nullptr);
  EXPECT_FALSE(closed.isNull()) << "kept until its own key handler has returned";
  EXPECT_FALSE(closed->isVisible());
  EXPECT_EQ(window.cancelValue(), 0) << "the unread cancel is lost with the window";
  EXPECT_TRUE(closed.isNull()) << "destroyed at the run's next access";
  window.setStatusCaption("Gathering info...");
  EXPECT_FALSE(window.form()->isVisible());
  EXPECT_TRUE(control("ProgressBar1").isHidden());

  window.show();
  QCloseEvent close;  // as the window manager sends it
  QSpontaneKeyEvent::setSpontaneous(&close);
  QApplication::instance()->notify(window.form(), &close);  // sendEvent would unmark it
  EXPECT_EQ(window.form(), nullptr);
  EXPECT_EQ(asked, 1) << "no question for the window manager's close";
}

// Character keys and clicks on the bare frame ask; answered No, nothing changes, except that
// Space or Enter on the focused Cancel button then goes on to press it.
TEST_F(SplashTest, WhatAsksTheCloseQuestion) {
  struct Trigger {
    const char* what;
    int asked, cancelAfterNo;
    Qt::Key key;  // 0: a click at `point`
    QPoint point = {};
  };
  const Trigger triggers[] = {{"letter", 1, 0, Qt::Key_Q},
                              {"Space", 1, 1, Qt::Key_Space},
                              {"bare frame", 1, 0, {}, {300, 230}},
                              {"logo", 0, 0, {}, {80, 120}}};
  for (const Trigger& t : triggers) {
    window.unload();
    shown();
    window.setProgressVisible(true);
    asked = 0;
    t.key ? press(t.key) : clickAt(t.point);
    EXPECT_EQ(asked, t.asked) << t.what;
    EXPECT_EQ(window.cancelValue(), t.cancelAfterNo) << t.what;
    EXPECT_TRUE(window.form()->isVisible()) << t.what;
  }
}

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
  EXPECT_EXIT(chooseAndExit("GUI", ":77", nullptr), ExitedWithCode(20),
              testing::HasSubstr("no display could be opened; using the console"));
  EXPECT_TRUE(displayNamed("", "wayland-0"));
}

}  // namespace
}  // namespace quillfen
