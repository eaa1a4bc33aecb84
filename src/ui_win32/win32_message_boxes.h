#pragma once

#include <iosfwd>

#include "process/message_boxes.h"
#include "process/system_log.h"

namespace quillfen {

// The system's modal message boxes with a single OK button. Where no one can see a box (no
// visible desktop) none is shown: "Title: text" goes to `err` and to the system log, and the
// run goes on as after OK.
class Win32MessageBoxes final : public MessageBoxes {
 public:
  Win32MessageBoxes(std::ostream& err, SystemLog& log) : err_(err), log_(log) {}
  void information(const std::string& title, const std::string& text) override;
  void error(const std::string& title, const std::string& text) override;

 private:
  void show(const std::string& title, const std::string& text, unsigned icon,
            SystemLog::Severity severity);

  std::ostream& err_;
  SystemLog& log_;
};

}  // namespace quillfen
