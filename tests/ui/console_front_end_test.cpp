#include "ui/console_front_end.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillfen
