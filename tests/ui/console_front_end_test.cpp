#include "ui/console_front_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace quillfen {
namespace {

using Lines = std::vector<std::string>;

// The console front end on a string stream, and what a terminal shows of its output: carriage
// returns go back to the start of the line, line feeds open a new one, trailing blanks are
// invisible.
struct Console {
  // A terminal carries both standard streams; a pipe gets no report.
  explicit Console(bool isTerminal, int columns = 80)
      : frontEnd(out, isTerminal, columns, -1, isTerminal ? &out : nullptr) {}
  Lines screen() const {
    Lines lines(1);
    std::size_t column = 0;
    for (const char c : out.str()) {
      if (c == '\n') lines.emplace_back();
      if (c == '\r' || c == '\n') {
        column = 0;
      } else {
        lines.back().resize(std::max(lines.back().size(), column + 1), ' ');
        lines.back()[column++] = c;
      }
    }
    for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    return lines;
  }

  std::ostringstream out;
  ConsoleFrontEnd frontEnd;
  ConsoleSplashWindow& window = static_cast<ConsoleSplashWindow&>(frontEnd.splashWindow());
};

TEST(ConsoleFrontEndTest, OneLiveLineWhileShownWithMessagesAndReportAboveIt) {
  Console console(true);
  console.window.show();
  console.window.setStatusCaption("Downloading files...");
  EXPECT_EQ(console.screen(), Lines{"Downloading files..."}) << "no bar before it is made visible";
  console.window.setProgressVisible(true);
  console.window.setProgressMin(1);
  console.window.setProgressMax(5);
  console.window.setProgressValue(3);
  console.frontEnd.messageBoxes().error("Quillfen", "Error 76: Path not found");
  console.frontEnd.showReport("2 files downloaded\n");
  console.window.pressCancel();
  console.window.pressCancel();
  EXPECT_EQ(console.window.cancelValue(), 1);
  EXPECT_EQ(console.screen(),
            (Lines{"Quillfen: Error 76: Path not found", "2 files downloaded",
                   "Aborting...             [####################--------------------]  50%"}));
  console.window.unload();
  console.window.setStatusCaption("Gathering info...");
  EXPECT_EQ(console.window.cancelValue(), 0) << "a fresh window after the unload";
  EXPECT_EQ(console.screen().back(), "") << "the reloaded window is hidden";
}

// Ctrl-C is only noted by the handler and presses Cancel at the next pass. What a pipe (cron)
// gets is checked end to end.
TEST(ConsoleFrontEndTest, FirstInterruptPressesCancelAtTheNextPass) {
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  {
    Console pipe(false);
    pipe.window.show();
    std::raise(SIGINT);
    EXPECT_EQ(pipe.window.cancelValue(), 0);
    pipe.frontEnd.eventPump().processEvents();
    EXPECT_EQ(pipe.window.renderLine() + std::to_string(pipe.window.cancelValue()), "Aborting...1");
  }
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler) << "the previous handler is back";
}

TEST(ConsoleFrontEndDeathTest, SecondInterruptEndsTheLineAndExitsAsCancelled) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EXIT(
      {
        ConsoleEventPump queue;
        CtrlCCancelPump pump(
            queue, [](int) {}, fds[1]);
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
