#include "ui/console_message_boxes.h"

#include "ui/console_status_line.h"

namespace quillfen {

void ConsoleMessageBoxes::information(const std::string& title, const std::string& text) {
  write(title + ": " + text, SystemLog::Severity::Warning);
}

void ConsoleMessageBoxes::error(const std::string& title, const std::string& text) {
  write(title + ": " + text, SystemLog::Severity::Error);
}

void ConsoleMessageBoxes::write(const std::string& line, SystemLog::Severity severity) {
  line_.printAbove(line);
  if (log_ != nullptr) log_->record(severity, line);
}

}  // namespace quillfen
