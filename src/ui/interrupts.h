#pragma once

#include <string>

namespace quillfen {

// What the process-wide interrupt handler has counted so far.
struct InterruptCount {
  int count = 0;
  int lastSignal = 0;  // the number of the latest interrupt's signal or console event
};

// Catches the requests to stop for the lifetime of the object: Ctrl-C, and the system's own
// (Linux: SIGINT, SIGTERM from systemctl stop or a shutdown, SIGHUP from a closed terminal;
// Windows: the console's Ctrl-C, Ctrl-Break, close, log-off and shutdown events). The first is
// only counted, and makes wakeSocket() readable. A second ends the process at once with the
// exit code of a cancelled run, after removing the temporary file of a download or copy under
// way and ending the live line on `lineFd` (-1: none) so the shell prompt starts on a line of
// its own. Other signals keep their usual meaning. One instance at a time: the handler is
// process-wide.
class InterruptHandler {
 public:
  explicit InterruptHandler(int lineFd);
  ~InterruptHandler();
  InterruptHandler(const InterruptHandler&) = delete;
  InterruptHandler& operator=(const InterruptHandler&) = delete;

  InterruptCount counted() const;
  // Readable after an interrupt, for an event pump to watch; -1 when none could be made (the
  // pump's own passes still see every interrupt).
  int wakeSocket() const { return wake_[0]; }
  // Reads what made wakeSocket() readable.
  void drainWakeSocket();

 private:
  void openWakeSocket();

  int wake_[2] = {-1, -1};  // the end to watch, the end the handler writes to
};

// The line that tells that a run was cancelled, and by which signal or console event when the
// system (SIGTERM, SIGHUP; a closed console, a log-off, a shutdown) did it rather than the user
// (Cancel, Ctrl-C, or 0).
std::string cancelledBySignalText(int signalNumber);

}  // namespace quillfen
