#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qtestspontaneevent.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>

#include "app/make_front_end.h"
#include "support/ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/inet.h"
#include "transfer/main_form.h"
#include "ui/ctrl_c_cancel_pump.h"
#include "ui/splash_layout_table.h"
#include "ui_qt/qt_event_pump.h"
#include "ui_qt/qt_message_boxes.h"
#include "ui_qt/qt_splash_window.h"

namespace quillfen {
namespace {

using namespace std::chrono_literals;
using test::FtpServer;
using test::FtpServerOptions;
using test::readFile;
using test::TempDir;

// The program's one QApplication, on Qt's offscreen platform. Made on first use, since the
// front-end choice's death tests make their own; never destroyed, as Qt must not be torn down
// among the program's static objects.
void ensureOffscreenApplication() {
  static int argc = 1;
  static char name[] = "ui_qt_tests";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (QApplication::instance() == nullptr) new QApplication(argc, argv);
}

class SplashTest : public testing::Test {
 public:
  static void SetUpTestSuite() { ensureOffscreenApplication(); }
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
    // A click at a point goes to whatever control lies there.
    t.key ? press(t.key)
          : QTest::mouseClick(window.form()->windowHandle(), Qt::LeftButton, {}, t.point);
    EXPECT_EQ(asked, t.asked) << t.what;
    EXPECT_EQ(window.cancelValue(), t.cancelAfterNo) << t.what;
    EXPECT_TRUE(window.form()->isVisible()) << t.what;
  }
}

// The boxes at 96 dots per inch that the Windows window shares (tests/ui/splash_layout_table.h).
TEST_F(SplashTest, ControlsSitInTheirBoxesAtNinetySixDotsPerInch) {
  const FrmSplash& form = shown();
  EXPECT_EQ(form.size(), QSize(test::kClientArea96.width, test::kClientArea96.height));
  for (const test::SplashBox& box : test::kFixedBoxes96) {
    EXPECT_EQ(control(box.control).geometry(), QRect(box.left, box.top, box.width, box.height))
        << box.control;
  }
  for (const test::SizedLabel& label : test::kSizedLabels96) {
    const QRect placed = control(label.control).geometry();
    EXPECT_EQ(placed.top(), label.top) << label.control;
    EXPECT_EQ(label.rightAligned ? placed.x() + placed.width() : placed.x() + placed.width() / 2,
              label.centreOrRight)
        << label.control;
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

// A modal box runs its own loop; the transfer must go on in it. The question stays open three
// times as long as the server may keep the client waiting, and the transfer outlasts that.
TEST(QtTransferTest, CloseQuestionLeftOpenPastTheTimeOutsDoesNotFailTheDownload) {
  ensureOffscreenApplication();
  const TransferTimeouts timeouts{5s, 1s, 1s};
  QtEventPump pump;
  MainForm frmMain{[&] { return std::make_unique<CurlTransferControl>(pump, timeouts); }};
  QtSplashWindow window{askToCloseWithMessageBox};
  TempDir remote, local;
  const std::string content(256 << 10, 's');
  remote.write("slow.bin", content);
  const FtpServer server(remote.path(), "backup", "secret", FtpServerOptions::trickling(128 << 10));
  Inet inet(frmMain, pump);
  inet.URL(server.address());
  inet.UserName("backup");
  inet.Password("secret");
  window.show();
  pump.post([&] {
    QTimer::singleShot(3s, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box != nullptr) box->button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(askToCloseWithMessageBox(*window.form()));
  });
  inet.Execute(inet.URL(), "GET \"slow.bin\" \"" + (local.path() / "slow.bin").string() + "\"");
  EXPECT_EQ(inet.Outcome(), RequestOutcome::Completed) << inet.ResponseInfo();
  EXPECT_EQ(readFile(local.path() / "slow.bin"), content);
}

// A message box runs its own loop and waits for a click nobody makes on a server: a SIGTERM
// presses Cancel and closes the box there and then, as the window's front end wires it.
TEST(QtSignalTest, ASignalWhileAMessageBoxIsOpenPressesCancelAndClosesIt) {
  ensureOffscreenApplication();
  QtEventPump queue;
  int pressed = 0;
  CtrlCCancelPump pump(queue, [&pressed](int signalNumber) {
    pressed = signalNumber;
    closeMessageBoxes();
  });
  QTimer::singleShot(200ms, [] { std::raise(SIGTERM); });
  // Past the deadline the box is closed as a user would, and the test fails on the time.
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.callOnTimeout([] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  deadline.start(10s);
  const auto opened = std::chrono::steady_clock::now();
  QtMessageBoxes().error("Quillfen", "Error 76: the box a failed run shows");
  EXPECT_LT(std::chrono::steady_clock::now() - opened, 5s);
  EXPECT_EQ(pressed, SIGTERM);
}

}  // namespace
}  // namespace quillfen
