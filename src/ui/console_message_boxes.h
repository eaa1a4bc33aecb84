#pragma once

#include "process/message_boxes.h"

namespace quillfen {

class ConsoleStatusLine;

// Message boxes without a display: "Title: text" on standard error, above the live line when
// there is one. Nothing waits for an answer.
class ConsoleMessageBoxes final : public MessageBoxes {
 public:
  explicit ConsoleMessageBoxes(ConsoleStatusLine& line) : line_(line) {}
  void information(const std::string& title, const std::string& text) override;
  void error(const std::string& title, const std::string& text) override;

 private:
  ConsoleStatusLine& line_;
};

}  // namespace quillfen
