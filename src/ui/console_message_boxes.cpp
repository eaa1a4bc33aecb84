#include "ui/console_message_boxes.h"

#include "ui/console_status_line.h"

namespace quillfen {

void ConsoleMessageBoxes::information(const std::string& title, const std::string& text) {
  line_.printAbove(title + ": " + text);
}

void ConsoleMessageBoxes::error(const std::string& title, const std::string& text) {
  line_.printAbove(title + ": " + text);
}

}  // namespace quillfen
