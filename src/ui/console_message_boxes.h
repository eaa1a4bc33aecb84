#pragma once

#include "process/message_boxes.h"
#include "process/system_log.h"

namespace quillfen {

class ConsoleStatusLine;

// Message boxes without a display: "Title: text" on standard error, above the live line when
// there is one, and in the system log too once given one (where no one may be watching the
// console). Nothing waits for an answer.
class ConsoleMessageBoxes final : public MessageBoxes {
 public:
  explicit ConsoleMessageBoxes(ConsoleStatusLine& line) : line_(line) {}
  void information(const std::string& title, const std::string& text) override;
  void error(const std::string& title, const std::string& text) override;
  void recordIn(SystemLog& log) { log_ = &log; }

 private:
  void write(const std::string& line, SystemLog::Severity severity);

  ConsoleStatusLine& line_;
  SystemLog* log_ = nullptr;
};

}  // namespace quillfen
