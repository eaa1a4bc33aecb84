#pragma once

#include <string>

namespace quillfen {

// Modal messages to the user. With a display they are message boxes; without one the title
// and text go to standard error and nothing waits for an answer.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Information icon, a single OK button.
  virtual void information(const std::string& title, const std::string& text) = 0;
  // Critical icon, a single OK button: the one report of an error that ended the run.
  virtual void error(const std::string& title, const std::string& text) = 0;
};

}  // namespace quillfen
