#include "ui/console_front_end.h"

#include <unistd.h>

#include <iostream>

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
  const bool terminal = isatty(STDERR_FILENO) == 1;
  return std::make_unique<ConsoleFrontEnd>(std::cerr, terminal, terminalColumns(STDERR_FILENO),
                                           STDERR_FILENO,
                                           isatty(STDOUT_FILENO) == 1 ? &std::cout : nullptr);
}

// A report is for a reader at a terminal; `quillfen > report.txt` or a run from a scheduler
// prints nothing.
void ConsoleFrontEnd::showReport(const std::string& report) {
  if (reportOut_ == nullptr) return;
  std::string text = report;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  line_.printAbove(text, *reportOut_);
}

}  // namespace quillfen
