#pragma once

#include "process/message_boxes.h"

namespace quillfen {

// Modal Qt message boxes with a single OK button.
class QtMessageBoxes final : public MessageBoxes {
 public:
  void information(const std::string& title, const std::string& text) override;
  void error(const std::string& title, const std::string& text) override;
};

}  // namespace quillfen
