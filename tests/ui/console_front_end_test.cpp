#include "ui/console_front_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "ui/console_event_pump.h"
#include "ui/console_message_boxes.h"
#include "ui/console_splash_window.h"
#include "ui/console_status_line.h"
#include "ui/ctrl_c_cancel_pump.h"
#include "ui/front_end.h"

namespace quillfen {
namespace {

// What a terminal would show for `output`: carriage returns go back to the start of the line,
// line feeds open a new one, and trailing blanks are invisible.
std::vector<std::string> screen(const std::string& output) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (const char c : output) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      std::string& line = lines.back();
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  return lines;
}

struct Terminal {
  explicit Terminal(bool isTerminal, int columns = 80) : line(out, isTerminal, columns) {}
  std::string bottom() const { return screen(out.str()).back(); }
  std::ostringstream out;
  ConsoleStatusLine line;
};

TEST(ConsoleSplashWindowTest, DrawsOneLiveLineWhileShownAndErasesItOnHide) {
  Terminal terminal(true);
  ConsoleSplashWindow window(terminal.line);
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(100);
  EXPECT_EQ(terminal.out.str(), "") << "nothing is drawn before the window is shown";

  window.show();
  EXPECT_EQ(terminal.bottom(), "Initializing...");
  window.setStatusCaption("Downloading files...");
  EXPECT_EQ(terminal.bottom(), "Downloading files...") << "no bar before it is made visible";

  window.setProgressVisible(true);
  window.setProgressMax(5);
  window.setProgressValue(3);
  EXPECT_EQ(terminal.bottom(),
            "Downloading files...    [####################--------------------]  50%");
  EXPECT_EQ(screen(terminal.out.str()).size(), 1u) << "every redraw stays on the one line";

  window.hide();
  EXPECT_EQ(terminal.bottom(), "");
  EXPECT_EQ(screen(terminal.out.str()).size(), 1u);
}

TEST(ConsoleSplashWindowTest, PrintsNothingAtAllWhenNotATerminal) {
  Terminal pipe(false);
  ConsoleSplashWindow window(pipe.line);
  ConsoleMessageBoxes messages(pipe.line);
  window.load();
  window.show();
  window.setStatusCaption("Downloading files...");
  window.setProgressVisible(true);
  window.setProgressValue(50);
  window.pressCancel();
  window.setStatusCaption("Complete...");
  window.hide();
  window.unload();
  EXPECT_EQ(pipe.out.str(), "");
  EXPECT_EQ(window.cancelValue(), 0) << "a fresh window after the unload";

  messages.error("Quillfen", "Error 76: Path not found");
  EXPECT_EQ(pipe.out.str(), "Quillfen: Error 76: Path not found\n") << "messages still go out";
}

TEST(ConsoleSplashWindowTest, CancelSetsTheFlagUntilTheWindowIsLoadedAgain) {
  Terminal terminal(true);
  ConsoleSplashWindow window(terminal.line);
  window.pressCancel();
  EXPECT_EQ(window.cancelValue(), 0) << "no window shown, no button to press";

  window.show();
  window.pressCancel();
  window.pressCancel();
  EXPECT_EQ(window.cancelValue(), 1);
  EXPECT_EQ(terminal.bottom(), "Aborting...");

  window.unload();
  EXPECT_EQ(terminal.bottom(), "");
  window.setStatusCaption("Gathering info...");
  EXPECT_EQ(window.cancelValue(), 0);
  EXPECT_EQ(terminal.bottom(), "") << "the reloaded window is hidden";
  window.show();
  EXPECT_EQ(terminal.bottom(), "Gathering info...");
}

TEST(ConsoleSplashWindowTest, BarShowsTheShareOfItsRangeHeldWithinIt) {
  struct Case {
    float min, max, value;
    const char* percent;
  };
  for (const Case& c : {Case{1, 100, 1, "   0%"}, Case{1, 3, 2, "  50%"}, Case{1, 3, 3, " 100%"},
                        Case{1, 3, 9, " 100%"}, Case{1, 3, -4, "   0%"}, Case{1, 1, 1, "   0%"},
                        Case{5, 1, 3, "   0%"}}) {
    Terminal terminal(true);
    ConsoleSplashWindow window(terminal.line);
    window.setProgressVisible(true);
    window.setProgressMin(c.min);
    window.setProgressMax(c.max);
    window.setProgressValue(c.value);
    const std::string line = window.renderLine();
    EXPECT_TRUE(line.ends_with(std::string("]") + c.percent))
        << c.min << ".." << c.max << " at " << c.value << ": " << line;
  }
}

TEST(ConsoleSplashWindowTest, LineFitsANarrowTerminal) {
  Terminal terminal(true, 30);
  ConsoleSplashWindow window(terminal.line);
  window.show();
  window.setStatusCaption("Sending notification...");
  window.setProgressVisible(true);
  EXPECT_LE(terminal.bottom().size(), 29u);
  EXPECT_TRUE(terminal.bottom().starts_with("Sending notification..."));
}

TEST(ConsoleMessageBoxesTest, PrintsAboveTheLiveLineAndRedrawsIt) {
  Terminal terminal(true);
  ConsoleSplashWindow window(terminal.line);
  ConsoleMessageBoxes messages(terminal.line);
  window.show();
  window.setStatusCaption("Sending notification...");
  messages.information("Configuration Settings Required", "MailTo is empty.");
  EXPECT_EQ(screen(terminal.out.str()),
            (std::vector<std::string>{"Configuration Settings Required: MailTo is empty.",
                                      "Sending notification..."}));
}

TEST(ConsoleFrontEndTest, ReportReachesOnlyATerminal) {
  std::ostringstream pipe;
  ConsoleFrontEnd quiet(pipe, false, 80, -1);
  quiet.showReport("QUILLFEN BACKUP ACTIVITY\n");
  EXPECT_EQ(pipe.str(), "");
}

TEST(FrontEndRequestTest, ReadsQuillfenUi) {
  EXPECT_EQ(frontEndRequest(nullptr), FrontEndRequest::Automatic);
  EXPECT_EQ(frontEndRequest(""), FrontEndRequest::Automatic);
  EXPECT_EQ(frontEndRequest("window"), FrontEndRequest::Automatic);
  EXPECT_EQ(frontEndRequest("console"), FrontEndRequest::Console);
  EXPECT_EQ(frontEndRequest("GUI"), FrontEndRequest::Gui);
  EXPECT_FALSE(displayNamed(nullptr, ""));
  EXPECT_TRUE(displayNamed(":0", nullptr));
  EXPECT_TRUE(displayNamed("", "wayland-0"));
}

TEST(ConsoleEventPumpTest, TaskPostedDuringAPassWaitsForTheNext) {
  ConsoleEventPump pump;
  std::vector<int> ran;
  pump.post([&] {
    ran.push_back(1);
    pump.post([&] { ran.push_back(3); });
  });
  pump.post([&] { ran.push_back(2); });
  pump.processEvents();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  pump.processEvents();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(CtrlCCancelPumpTest, FirstInterruptPressesCancelAtTheNextPass) {
  std::ostringstream pipe;
  ConsoleFrontEnd frontEnd(pipe, false, 80, -1);
  SplashWindow& window = frontEnd.splashWindow();
  window.load();
  window.show();
  bool taskRan = false;
  frontEnd.eventPump().post([&] { taskRan = true; });

  std::raise(SIGINT);
  EXPECT_EQ(window.cancelValue(), 0) << "acted on only when events are processed";
  frontEnd.eventPump().processEvents();
  EXPECT_EQ(window.cancelValue(), 1);
  EXPECT_TRUE(taskRan);
  EXPECT_EQ(static_cast<ConsoleSplashWindow&>(window).renderLine(), "Aborting...");
  EXPECT_EQ(pipe.str(), "");
}

TEST(CtrlCCancelPumpTest, RestoresThePreviousHandler) {
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  {
    ConsoleEventPump queue;
    CtrlCCancelPump pump(queue, [] {});
    EXPECT_THROW(CtrlCCancelPump(queue, [] {}), std::logic_error);
  }
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(CtrlCCancelPumpDeathTest, SecondInterruptEndsTheLineAndExitsAsCancelled) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EXIT(
      {
        ConsoleEventPump queue;
        CtrlCCancelPump pump(
            queue, [] {}, fds[1]);
        std::raise(SIGINT);
        std::raise(SIGINT);
        std::_Exit(0);
      },
      testing::ExitedWithCode(3), "");
  close(fds[1]);
  char written[4] = {};
  EXPECT_EQ(read(fds[0], written, sizeof written), 1);
  EXPECT_EQ(written[0], '\n');
  close(fds[0]);
}

}  // namespace
}  // namespace quillfen
