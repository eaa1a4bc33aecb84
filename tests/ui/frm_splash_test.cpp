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
#include <map>
#include <memory>
#include <string>

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

  const std::map<const char*, QRect> design = {
      {"Frame1", {8, 8, 472, 270}},         {"imgLogo", {8, 21, 137, 215}},
      {"lblWarning", {208, 176, 257, 13}},  {"btoCancel", {400, 216, 65, 25}},
      {"ckbCancel", {208, 208, 17, 17}},    {"lblStatus", {8, 248, 145, 17}},
      {"ProgressBar1", {152, 248, 313, 17}}};
  for (const auto& [name, rect] : design) {
    EXPECT_EQ(control<QWidget>(name).geometry(), rect) << name;
  }
  EXPECT_EQ(control<QWidget>("Frame1").parentWidget(), &form);
}

// Labels sized to their text keep the design box's top and its centre (the version: its right
// edge), whatever width the installed font gives them, and never run into another control.
TEST_F(SplashTest, LabelsSizedToTheirTextKeepTheirAnchorsAndRoom) {
  shown();
  struct Anchor {
    const char* name;
    int top, centreX, right;
  };
  for (const Anchor& a :
       {Anchor{"lblCompanyProduct", 47, 243, 0}, Anchor{"lblProductName", 104, 244, 0},
        Anchor{"lblVersion", 152, 0, 452}}) {
    const QLabel& label = control<QLabel>(a.name);
    EXPECT_EQ(label.size(), label.sizeHint()) << a.name;
    EXPECT_EQ(label.y(), a.top) << a.name;
    if (a.centreX) {
      EXPECT_LE(std::abs(label.geometry().center().x() - a.centreX), 1) << a.name;
    } else {
      EXPECT_EQ(label.geometry().right(), a.right) << a.name;
    }
    EXPECT_TRUE(control<QWidget>("Frame1").rect().contains(label.geometry())) << a.name;
    for (const QWidget* other : control<QWidget>("Frame1").findChildren<QWidget*>()) {
      if (other != &label && !other->isHidden() && other->objectName() != "ckbCancel") {
        EXPECT_FALSE(label.geometry().intersects(other->geometry()))
            << a.name << " overlaps " << other->objectName().toStdString();
      }
    }
  }
}

TEST_F(SplashTest, TextsFontsAndTheirFitInFixedBoxes) {
  shown();
  const std::map<const char*, const char*> texts = {{"lblCompanyProduct", "QUILLFEN"},
                                                    {"lblProductName", "Tapeless backup system"},
                                                    {"lblVersion", "Version 3.2"},
                                                    {"lblStatus", "Initializing..."}};
  for (const auto& [name, text] : texts) EXPECT_EQ(control<QLabel>(name).text(), text) << name;
  EXPECT_EQ(control<QPushButton>("btoCancel").text(), "Cancel");
  EXPECT_EQ(control<QCheckBox>("ckbCancel").text(), "Check1");
  EXPECT_FALSE(control<QLabel>("lblWarning").text().isEmpty());

  const QFont product = control<QLabel>("lblCompanyProduct").font();
  EXPECT_EQ(product.families().value(0), "Tempus Sans ITC");
  EXPECT_EQ(product.pointSizeF(), 24);
  EXPECT_TRUE(product.bold());
  EXPECT_EQ(control<QLabel>("lblVersion").font().pointSizeF(), 12);
  EXPECT_TRUE(control<QLabel>("lblVersion").alignment() & Qt::AlignRight);
  EXPECT_EQ(control<QLabel>("lblWarning").font().families().value(0), "Arial");

  // Whatever fonts the machine has, no text the run shows is cut off.
  auto fits = [](const QLabel& label) {
    const QFontMetrics metrics(label.font());
    return metrics.horizontalAdvance(label.text()) <= label.width() &&
           metrics.height() <= label.height();
  };
  EXPECT_TRUE(fits(control<QLabel>("lblWarning")));
  for (const char* text :
       {"Initializing...", "Creating folders...", "Downloading files...", "Gathering info...",
        "Deleting expired...", "Sending notification...", "Complete...", "Aborting..."}) {
    window.setStatusCaption(text);
    EXPECT_TRUE(fits(control<QLabel>("lblStatus"))) << text;
  }
}

TEST_F(SplashTest, FlagBarAndFocusAfterLoadAndShow) {
  window.load();
  EXPECT_EQ(window.cancelValue(), 0);
  EXPECT_FALSE(window.form()->isVisible()) << "loading does not show";
  FrmSplash& form = shown();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(control<QWidget>("ProgressBar1").isHidden()) << "hidden until the run shows it";
  EXPECT_TRUE(control<QWidget>("ckbCancel").isHidden());
  EXPECT_EQ(form.focusWidget(), &control<QWidget>("btoCancel"));
  EXPECT_FALSE(control<QPushButton>("btoCancel").isDefault());

  window.setProgressVisible(true);
  window.setProgressMax(4);
  window.setProgressValue(3);
  const QProgressBar& bar = control<QProgressBar>("ProgressBar1");
  EXPECT_FALSE(bar.isHidden());
  EXPECT_NEAR(double(bar.value()) / bar.maximum(), 2.0 / 3, 1e-3) << "(3 - 1) / (4 - 1) filled";
  window.setProgressValue(40);
  EXPECT_EQ(bar.value(), bar.maximum()) << "held within the range";
}

TEST_F(SplashTest, CancelTwiceSetsFlagAndTextAndAsksNothing) {
  shown();
  clickCancel();
  EXPECT_EQ(window.cancelValue(), 1);
  EXPECT_EQ(status(), "Aborting...");
  window.setStatusCaption("Downloading files...");
  clickCancel();
  EXPECT_EQ(window.cancelValue(), 1);
  EXPECT_EQ(status(), "Aborting...");
  EXPECT_EQ(question.asked, 0);
  EXPECT_TRUE(window.form()->isVisible());
}

// Answered No, nothing changes, except that Enter or Space on the focused Cancel button then
// goes on to press it.
TEST_F(SplashTest, CharacterKeysAndBareFrameClicksAskTheCloseQuestion) {
  struct Trigger {
    const char* what;
    std::function<void(SplashTest&)> act;
    int cancelAfterNo;
  };
  const auto key = [](Qt::Key k, const char* on = "btoCancel") {
    return [k, on](SplashTest& t) { QTest::keyClick(&t.control<QWidget>(on), k); };
  };
  const std::vector<Trigger> triggers = {
      {"letter on the button", key(Qt::Key_Q), 0},
      {"digit on the button", key(Qt::Key_7), 0},
      {"Escape on the button", key(Qt::Key_Escape), 0},
      {"letter on the window", key(Qt::Key_A, "frmSplash"), 0},
      {"Space on the button", key(Qt::Key_Space), 1},
      {"Enter on the button", key(Qt::Key_Return), 1},
      {"click on the bare frame",
       [](SplashTest& t) {
         t.clickAt({300, 230});
       },
       0},
  };
  for (const Trigger& trigger : triggers) {
    window.unload();
    shown();
    question = FakeQuestion{};
    trigger.act(*this);
    EXPECT_EQ(question.asked, 1) << trigger.what;
    EXPECT_EQ(window.cancelValue(), trigger.cancelAfterNo) << trigger.what;
    EXPECT_TRUE(window.form()->isVisible()) << trigger.what;
  }
}

TEST_F(SplashTest, ClicksOffTheBareFrameAskNothing) {
  shown();
  window.setProgressVisible(true);
  for (const QPoint point :
       {QPoint(3, 3), QPoint(80, 120), QPoint(250, 75), QPoint(300, 263), QPoint(50, 263)}) {
    clickAt(point);
  }
  QTest::keyClick(&control<QWidget>("btoCancel"), Qt::Key_Shift);
  EXPECT_EQ(question.asked, 0) << "margin, logo, product name, bar, status; a key without text";
}

TEST_F(SplashTest, CancelThenNoKeepsTheFlag) {
  shown();
  clickCancel();
  QTest::keyClick(&control<QWidget>("btoCancel"), Qt::Key_X);
  EXPECT_EQ(question.asked, 1);
  EXPECT_EQ(window.cancelValue(), 1);
}

TEST_F(SplashTest, YesUnloadsAndTheNextAccessLoadsAFreshHiddenWindow) {
  shown();
  clickCancel();
  question.answer = true;
  const QPointer<FrmSplash> closed = window.form();
  QTest::keyClick(&control<QWidget>("btoCancel"), Qt::Key_Space);
  EXPECT_EQ(question.asked, 1);
  EXPECT_EQ(window.form(), nullptr);
  EXPECT_FALSE(closed.isNull()) << "kept until its own key handler has returned";
  EXPECT_FALSE(closed->isVisible());

  EXPECT_EQ(window.cancelValue(), 0) << "the unread cancel is lost with the window";
  EXPECT_TRUE(closed.isNull()) << "destroyed at the run's next access";
  ASSERT_NE(window.form(), nullptr);
  EXPECT_FALSE(window.form()->isVisible());
  window.setStatusCaption("Gathering info...");
  EXPECT_FALSE(window.form()->isVisible());
  EXPECT_TRUE(control<QWidget>("ProgressBar1").isHidden());
  window.hide();
  window.unload();
  EXPECT_EQ(window.form(), nullptr);
}

// Runs `inspect` on the modal box that `show` opens, from inside its own event loop. A box that
// never appears is closed by the deadline instead, failing the test rather than hanging it.
void onModalBox(const std::function<void()>& show,
                const std::function<void(QMessageBox&)>& inspect) {
  bool seen = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && !seen) {
      seen = true;
      inspect(*box);
    }
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
  struct Case {
    std::function<void()> show;
    QMessageBox::Icon icon;
  };
  for (const Case& c :
       {Case{[&] { messages.information("Configuration Settings Required", "Some text"); },
             QMessageBox::Information},
        Case{[&] { messages.error("Configuration Settings Required", "Some text"); },
             QMessageBox::Critical}}) {
    onModalBox(c.show, [&](QMessageBox& box) {
      EXPECT_EQ(box.icon(), c.icon);
      EXPECT_EQ(box.windowTitle(), "Configuration Settings Required");
      EXPECT_EQ(box.text(), "Some text");
      EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
      box.button(QMessageBox::Ok)->click();
    });
  }
}

}  // namespace
}  // namespace quillfen
