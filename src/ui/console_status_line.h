#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace quillfen {

// The one live line at the bottom of a terminal: each draw returns to the start of the line and
// overwrites what was there. Everything else the console front end prints goes above it, so
// that messages and the line never mix. On a stream that is not a terminal the line is never
// drawn; text printed above it still goes out.
class ConsoleStatusLine {
 public:
  ConsoleStatusLine(std::ostream& out, bool isTerminal, int columns);

  bool isTerminal() const { return isTerminal_; }
  int columns() const { return columns_; }

  // Shows `text` as the live line, cut to the terminal's width. Redrawing the same text
  // writes nothing.
  void draw(const std::string& text);
  // Removes the live line, leaving the cursor at the start of the empty line.
  void erase();
  // Prints `text` and a line end above the live line, which is drawn again below it; `target`
  // may be another stream on the same terminal.
  void printAbove(const std::string& text);
  void printAbove(std::string_view text, std::ostream& target);

 private:
  void overwrite(const std::string& text);

  std::ostream& out_;
  bool isTerminal_;
  int columns_;
  std::string shown_;  // the text currently on the line; empty when there is no line
};

}  // namespace quillfen
