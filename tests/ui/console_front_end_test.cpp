#include "ui/console_front_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace quillfen {
namespace {

// What a terminal would show for `output`: carriage returns go back to the start of the line,
// line feeds open a new one, and trailing blanks are invisible.
std::vector<std::string> screen(const std::string& output) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (const char c : output) {
    if (c == '\r' || c == '\n') {
      if (c == '\n') lines.emplace_back();
      column = 0;
      continue;
    }
    std::string& line = lines.back();
    if (line.size() <= column) line.resize(column + 1, ' ');
    line[column++] = c;
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  return lines;
}

struct Console {
  explicit Console(bool isTerminal, int columns = 80) : line(out, isTerminal, columns) {}
  std::string bottom() const { return screen(out.str()).back(); }
  std::ostringstream out;
  ConsoleStatusLine line;
  ConsoleSplashWindow window{line};
  ConsoleMessageBoxes messages{line};
};

TEST(ConsoleSplashWindowTest, DrawsOneLiveLineWhileShownAndErasesItOnHide) {
  Console console(true);
  console.window.load();
  console.window.setProgressMin(1);
  EXPECT_EQ(console.out.str(), "") << "nothing is drawn before the window is shown";

  console.window.show();
  EXPECT_EQ(console.bottom(), "Initializing...");
  console.window.setStatusCaption("Downloading files...");
  EXPECT_EQ(console.bottom(), "Downloading files...") << "no bar before it is made visible";
  console.window.setProgressVisible(true);
  console.window.setProgressMax(5);
  console.window.setProgressValue(3);
  EXPECT_EQ(console.bottom(),
            "Downloading files...    [####################--------------------]  50%");

  console.messages.error("Quillfen", "Error 76: Path not found");
  EXPECT_EQ(screen(console.out.str()).front(), "Quillfen: Error 76: Path not found");
  EXPECT_TRUE(console.bottom().starts_with("Downloading files...")) << "redrawn below it";

  console.window.hide();
  EXPECT_EQ(screen(console.out.str()),
            (std::vector<std::string>{"Quillfen: Error 76: Path not found", ""}));
}

TEST(ConsoleSplashWindowTest, PrintsNothingButMessagesWhenNotATerminal) {
  Console pipe(false);
  pipe.window.show();
  pipe.window.setStatusCaption("Downloading files...");
  pipe.window.setProgressVisible(true);
  pipe.window.pressCancel();
  pipe.window.hide();
  pipe.window.unload();
  EXPECT_EQ(pipe.out.str(), "");
  pipe.messages.information("Configuration Settings Required", "MailTo is empty.");
  EXPECT_EQ(pipe.out.str(), "Configuration Settings Required: MailTo is empty.\n");
}

TEST(ConsoleSplashWindowTest, CancelHoldsUntilTheWindowIsLoadedAgain) {
  Console console(true);
  console.window.pressCancel();
  EXPECT_EQ(console.window.cancelValue(), 0) << "no window shown, no button to press";
  console.window.show();
  console.window.pressCancel();
  console.window.pressCancel();
  EXPECT_EQ(console.window.cancelValue(), 1);
  EXPECT_EQ(console.bottom(), "Aborting...");

  console.window.unload();
  console.window.setStatusCaption("Gathering info...");
  EXPECT_EQ(console.window.cancelValue(), 0);
  EXPECT_EQ(console.bottom(), "") << "the reloaded window is hidden";
}

TEST(ConsoleSplashWindowTest, BarShowsTheShareOfItsRangeAndFitsTheTerminal) {
  struct Case {
    float min, max, value;
    const char* percent;
  };
  for (const Case& c : {Case{1, 100, 1, "   0%"}, Case{1, 3, 2, "  50%"}, Case{1, 3, 9, " 100%"},
                        Case{1, 3, -4, "   0%"}, Case{1, 1, 1, "   0%"}, Case{5, 1, 3, "   0%"}}) {
    Console console(true);
    console.window.setProgressVisible(true);
    console.window.setProgressMin(c.min);
    console.window.setProgressMax(c.max);
    console.window.setProgressValue(c.value);
    EXPECT_TRUE(console.window.renderLine().ends_with(std::string("]") + c.percent))
        << c.min << ".." << c.max << " at " << c.value << ": " << console.window.renderLine();
  }
  Console narrow(true, 30);
  narrow.window.show();
  narrow.window.setProgressVisible(true);
  EXPECT_EQ(narrow.bottom().size(), 29u) << "never into the last column, where terminals wrap";
}

TEST(ConsoleFrontEndTest, ShowsTheReportAboveAndLeavesNoLiveLineBehind) {
  std::ostringstream out;
  {
    ConsoleFrontEnd frontEnd(out, true, 80, -1);
    frontEnd.splashWindow().show();
    frontEnd.showReport("2 files downloaded\n");
  }
  EXPECT_EQ(screen(out.str()), (std::vector<std::string>{"2 files downloaded", ""}));
}

TEST(FrontEndRequestTest, ReadsQuillfenUiAndTheDisplayVariables) {
  EXPECT_EQ(frontEndRequest(nullptr), FrontEndRequest::Automatic);
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
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  {
    std::ostringstream pipe;
    ConsoleFrontEnd frontEnd(pipe, false, 80, -1);
    auto& window = static_cast<ConsoleSplashWindow&>(frontEnd.splashWindow());
    window.show();
    bool taskRan = false;
    frontEnd.eventPump().post([&] { taskRan = true; });

    std::raise(SIGINT);
    EXPECT_EQ(window.cancelValue(), 0) << "acted on only when events are processed";
    frontEnd.eventPump().processEvents();
    EXPECT_EQ(window.cancelValue(), 1);
    EXPECT_EQ(window.renderLine(), "Aborting...");
    EXPECT_TRUE(taskRan);
    EXPECT_EQ(pipe.str(), "");
  }
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler) << "the previous handler is back";
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
