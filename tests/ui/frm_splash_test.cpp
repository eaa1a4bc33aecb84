#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "ui/qt_message_boxes.h"
#include "ui/qt_splash_window.h"

namespace quillfen {
namespace {

// One application for the tests that need it, made on first use (the death tests of the
// front-end choice make their own) and gone before the program's static objects are.
class QtApplicationEnvironment : public testing::Environment {
 public:
  static void ensure() {
    static int argc = 1;
    static char name[] = "ui_qt_tests";
    static char* argv[] = {name, nullptr};
    if (application) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    application = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { application.reset(); }

 private:
  static inline std::unique_ptr<QApplication> application;
};

[[maybe_unused]] testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// Answers the close question as the test says and counts how often it was asked.
struct FakeQuestion {
  bool answer = false;
  int asked = 0;
  FrmSplash::CloseQuestion asker() {
    return [this](QWidget&) {
      ++asked;
      return answer;
    };
  }
};

class SplashTest : public testing::Test {
 public:
  void SetUp() override { QtApplicationEnvironment::ensure(); }

  // The run's opening: load, range 1 to 100, show, one pass of events.
  FrmSplash& shown() {
    window.load();
    window.setProgressMin(1);
    window.setProgressMax(100);
    window.show();
    QApplication::processEvents();
    return *window.form();
  }
  template <typename T>
  T& control(const char* name) {
    T* found = window.form()->objectName() == name ? qobject_cast<T*>(window.form())
                                                   : window.form()->findChild<T*>(name);
    if (found == nullptr) throw std::runtime_error(std::string("no control ") + name);
    return *found;
  }
  QString status() { return control<QLabel>("lblStatus").text(); }
  void clickCancel() { QTest::mouseClick(&control<QPushButton>("btoCancel"), Qt::LeftButton); }
  void press(Qt::Key key, const char* on = "btoCancel") {
    QTest::keyClick(&control<QWidget>(on), key);
  }
  // A click at a point of the window, delivered to whatever control lies there.
  void clickAt(QPoint inWindow) {
    QTest::mouseClick(window.form()->windowHandle(), Qt::LeftButton, {}, inWindow);
  }

  FakeQuestion question;
  QtSplashWindow window{question.asker()};
};

TEST_F(SplashTest, WindowAndControlsSitAtTheirDesignPositions) {
  FrmSplash& form = shown();
  EXPECT_EQ(form.objectName(), "frmSplash");
  EXPECT_EQ(form.size(), QSize(492, 283));
  EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(form.windowType(), Qt::Tool) << "no task-bar button";
  EXPECT_FALSE(form.windowFlags() & Qt::WindowStaysOnTopHint);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((form.geometry().center() - screen.center()).manhattanLength(), 2) << "centred";

  const std::pair<const char*, QRect> design[] = {
      {"Frame1", {8, 8, 472, 270}},         {"imgLogo", {8, 21, 137, 215}},
      {"lblWarning", {208, 176, 257, 13}},  {"btoCancel", {400, 216, 65, 25}},
      {"ckbCancel", {208, 208, 17, 17}},    {"lblStatus", {8, 248, 145, 17}},
      {"ProgressBar1", {152, 248, 313, 17}}};
  for (const auto& [name, rect] : design) {
    EXPECT_EQ(control<QWidget>(name).geometry(), rect) << name;
  }
}

// Labels sized to their text keep the design box's top and its centre (the version: its right
// edge), whatever width the installed font gives them, and never run into another control.
TEST_F(SplashTest, LabelsSizedToTheirTextKeepTheirAnchorsAndRoom) {
  shown();
  window.setProgressVisible(true);
  const QWidget& frame = control<QWidget>("Frame1");
  for (const auto& [name, top, centre, right] :
       {std::tuple{"lblCompanyProduct", 47, 243, 0}, std::tuple{"lblProductName", 104, 244, 0},
        std::tuple{"lblVersion", 152, 0, 452}}) {
    const QRect box = control<QLabel>(name).geometry();
    EXPECT_EQ(box.size(), control<QLabel>(name).sizeHint()) << name;
    EXPECT_EQ(box.top(), top) << name;
    EXPECT_LE(std::abs(centre ? box.center().x() - centre : box.right() - right), 1) << name;
    EXPECT_TRUE(frame.rect().contains(box)) << name;
    for (const QWidget* other : frame.findChildren<QWidget*>()) {
      EXPECT_TRUE(other->objectName() == name || other->isHidden() ||
                  !box.intersects(other->geometry()))
          << name << " overlaps " << other->objectName().toStdString();
    }
  }
}

TEST_F(SplashTest, TextsAsDesignedAndNoneCutOff) {
  shown();
  for (const auto& [name, text] :
       {std::pair{"lblCompanyProduct", "QUILLFEN"},
        std::pair{"lblProductName", "Tapeless backup system"},
        std::pair{"lblVersion", "Version 3.2"}, std::pair{"lblStatus", "Initializing..."}}) {
    EXPECT_EQ(control<QLabel>(name).text(), text) << name;
  }
  EXPECT_EQ(control<QPushButton>("btoCancel").text(), "Cancel");

  // Whatever fonts the machine has, the fixed boxes show their whole text.
  auto fits = [](const QLabel& label) {
    const QFontMetrics metrics(label.font());
    return metrics.horizontalAdvance(label.text()) <= label.width() &&
           metrics.height() <= label.height();
  };
  EXPECT_TRUE(fits(control<QLabel>("lblWarning")));
  for (const char* text : {"Creating folders...", "Downloading files...", "Gathering info...",
                           "Deleting expired...", "Sending notification...", "Complete..."}) {
    window.setStatusCaption(text);
    EXPECT_TRUE(fits(control<QLabel>("lblStatus"))) << text;
  }
}

TEST_F(SplashTest, FlagBarAndFocusAfterLoadAndShow) {
  window.load();
  EXPECT_EQ(window.cancelValue(), 0);
  EXPECT_FALSE(window.form()->isVisible()) << "loading does not show";
  FrmSplash& form = shown();
  EXPECT_TRUE(control<QWidget>("ProgressBar1").isHidden()) << "hidden until the run shows it";
  EXPECT_TRUE(control<QWidget>("ckbCancel").isHidden());
  EXPECT_EQ(form.focusWidget(), &control<QWidget>("btoCancel"));

  window.setProgressVisible(true);
  window.setProgressMax(4);
  window.setProgressValue(3);
  const QProgressBar& bar = control<QProgressBar>("ProgressBar1");
  EXPECT_FALSE(bar.isHidden());
  EXPECT_NEAR(double(bar.value()) / bar.maximum(), 2.0 / 3, 1e-3) << "(3 - 1) / (4 - 1) filled";
  window.setProgressValue(40);
  EXPECT_EQ(bar.value(), bar.maximum()) << "held within the range";
}

TEST_F(SplashTest, CancelTwiceThenNoKeepsTheFlag) {
  shown();
  clickCancel();
  EXPECT_EQ(window.cancelValue(), 1);
  EXPECT_EQ(status(), "Aborting...");
  window.setStatusCaption("Downloading files...");
  clickCancel();
  EXPECT_EQ(status(), "Aborting...");
  EXPECT_EQ(question.asked, 0);

  press(Qt::Key_X);
  EXPECT_EQ(question.asked, 1);
  EXPECT_EQ(window.cancelValue(), 1) << "No changes nothing: the run stops at its next check";
  EXPECT_TRUE(window.form()->isVisible());
}

// Answered No, nothing changes, except that Enter or Space on the focused Cancel button then
// goes on to press it.
TEST_F(SplashTest, CharacterKeysAndBareFrameClicksAskTheCloseQuestion) {
  struct Trigger {
    const char* what;
    std::function<void()> act;
    int cancelAfterNo;
  };
  const Trigger triggers[] = {
      {"letter", [&] { press(Qt::Key_Q); }, 0},
      {"digit", [&] { press(Qt::Key_7); }, 0},
      {"Escape", [&] { press(Qt::Key_Escape); }, 0},
      {"letter on the window", [&] { press(Qt::Key_A, "frmSplash"); }, 0},
      {"Space", [&] { press(Qt::Key_Space); }, 1},
      {"Enter", [&] { press(Qt::Key_Return); }, 1},
      {"click on the bare frame",
       [&] {
         clickAt({300, 230});
       },
       0},
  };
  for (const Trigger& trigger : triggers) {
    window.unload();
    shown();
    question = FakeQuestion{};
    trigger.act();
    EXPECT_EQ(question.asked, 1) << trigger.what;
    EXPECT_EQ(window.cancelValue(), trigger.cancelAfterNo) << trigger.what;
    EXPECT_TRUE(window.form()->isVisible()) << trigger.what;
  }
}

TEST_F(SplashTest, ClicksOffTheBareFrameAskNothing) {
  shown();
  window.setProgressVisible(true);
  // The margin, the logo, the product name, the bar, the status line.
  for (const QPoint point :
       {QPoint(3, 3), QPoint(80, 120), QPoint(250, 75), QPoint(300, 263), QPoint(50, 263)}) {
    clickAt(point);
  }
  press(Qt::Key_Shift);
  EXPECT_EQ(question.asked, 0);
}

TEST_F(SplashTest, YesUnloadsAndTheNextAccessLoadsAFreshHiddenWindow) {
  shown();
  clickCancel();
  question.answer = true;
  const QPointer<FrmSplash> closed = window.form();
  press(Qt::Key_Space);
  EXPECT_EQ(window.form(), nullptr);
  EXPECT_FALSE(closed.isNull()) << "kept until its own key handler has returned";
  EXPECT_FALSE(closed->isVisible());

  EXPECT_EQ(window.cancelValue(), 0) << "the unread cancel is lost with the window";
  EXPECT_TRUE(closed.isNull()) << "destroyed at the run's next access";
  window.setStatusCaption("Gathering info...");
  EXPECT_FALSE(window.form()->isVisible());
  EXPECT_TRUE(control<QWidget>("ProgressBar1").isHidden());
}

// Runs `inspect` on the modal box that `show` opens, from inside its own event loop. A box that
// never appears is closed by the deadline instead, failing the test rather than hanging it.
void onModalBox(const std::function<void()>& show,
                const std::function<void(QMessageBox&)>& inspect) {
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || seen) return;
    seen = true;
    inspect(*box);
  });
  poll.start(10);
  QTimer::singleShot(5000, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  show();
  EXPECT_TRUE(seen);
}

TEST_F(SplashTest, RealCloseQuestionIsAPlainYesNoBox) {
  QWidget owner;
  bool answer = true;
  onModalBox([&] { answer = askToCloseWithMessageBox(owner); },
             [](QMessageBox& box) {
               EXPECT_EQ(box.windowTitle(), "Quillfen");
               EXPECT_EQ(box.text(),
                         "Would you like to close this window (Quillfen will continue to run)?");
               EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
               EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
               EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::Yes));
               box.button(QMessageBox::No)->click();
             });
  EXPECT_FALSE(answer);
}

TEST_F(SplashTest, MessageBoxesCarryIconTitleTextAndOk) {
  QtMessageBoxes messages;
  for (const auto& [icon, show] :
       {std::pair<QMessageBox::Icon, std::function<void()>>{
            QMessageBox::Information, [&] { messages.information("Title", "Some text"); }},
        {QMessageBox::Critical, [&] { messages.error("Title", "Some text"); }}}) {
    onModalBox(show, [&](QMessageBox& box) {
      EXPECT_EQ(box.icon(), icon);
      EXPECT_EQ(box.windowTitle(), "Title");
      EXPECT_EQ(box.text(), "Some text");
      EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
      box.button(QMessageBox::Ok)->click();
    });
  }
}

}  // namespace
}  // namespace quillfen
