#include "ui/console_status_line.h"

#include <ostream>

namespace quillfen {

ConsoleStatusLine::ConsoleStatusLine(std::ostream& out, bool isTerminal, int columns)
    : out_(out), isTerminal_(isTerminal), columns_(columns > 1 ? columns : 80) {}

void ConsoleStatusLine::draw(const std::string& text) {
  if (!isTerminal_) return;
  // One column stays free: writing into the last one makes some terminals wrap at once.
  std::string line = text.substr(0, static_cast<std::size_t>(columns_ - 1));
  if (line == shown_) return;
  overwrite(line);
  shown_ = std::move(line);
}

void ConsoleStatusLine::erase() {
  if (shown_.empty()) return;
  overwrite("");
  shown_.clear();
}

void ConsoleStatusLine::printAbove(const std::string& text) {
  printAbove(text, out_);
}

void ConsoleStatusLine::printAbove(std::string_view text, std::ostream& target) {
  const std::string line = shown_;
  erase();
  out_.flush();
  target << text << '\n';
  target.flush();
  draw(line);
}

// Carriage return, the new text, then blanks over whatever the old text left further right.
// Blanks instead of an erase sequence keep the line readable on terminals without escapes.
void ConsoleStatusLine::overwrite(const std::string& text) {
  out_ << '\r' << text;
  if (shown_.size() > text.size()) {
    out_ << std::string(shown_.size() - text.size(), ' ') << '\r' << text;
  }
  out_.flush();
}

}  // namespace quillfen
