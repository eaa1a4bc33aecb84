#pragma once

#include "process/message_boxes.h"

namespace quillfen {

// Modal Qt message boxes with a single OK button.
class QtMessageBoxes final : public MessageBoxes {
 public:
  void information(const std::string& title, const std::string& text) override;
  void error(const std::string& title, const std::string& text) override;
};

// Closes every open message box as its Escape key would (the close question answers No): a
// signal that cancels the run must not wait for a click nobody makes.
void closeMessageBoxes();

}  // namespace quillfen
