#include "ui/console_front_end.h"

#include <iostream>
#include <string_view>

#include "ui/terminal.h"

namespace quillfen {

ConsoleFrontEnd::ConsoleFrontEnd(std::ostream& err, bool isTerminal, int columns, int lineFd,
                                 std::ostream* reportOut)
    : reportOut_(reportOut),
      line_(err, isTerminal, columns),
      pump_(
          queue_,
          [this](int signalNumber) {
            noteCancellingSignal(signalNumber);
            window_.pressCancel();
          },
          isTerminal ? lineFd : -1) {}

std::unique_ptr<ConsoleFrontEnd> ConsoleFrontEnd::onStandardError() {
  return std::make_unique<ConsoleFrontEnd>(std::cerr, isTerminal(kStandardError),
                                           terminalColumns(kStandardError), kStandardError,
                                           isTerminal(kStandardOutput) ? &std::cout : nullptr);
}

// A report is for a reader at a terminal; `quillfen > report.txt` or a run from a scheduler
// prints nothing.
void ConsoleFrontEnd::showReport(const std::string& report) {
  if (reportOut_ == nullptr) return;
  std::string_view text = report;  // a report of a million lines is not copied
  while (text.ends_with('\n')) text.remove_suffix(1);
  line_.printAbove(text, *reportOut_);
}

}  // namespace quillfen
