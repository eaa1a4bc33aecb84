#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iterator>
#include <stdexcept>

#include "common/exit_code.h"
#include "common/posix_file.h"
#include "ui/interrupts.h"

namespace quillfen {

namespace {

// The handler only ever counts; the pump reads the count and keeps its own record of what it
// has acted on, so no read-modify-write is shared between the two.
volatile std::sig_atomic_t interruptCount = 0;
volatile std::sig_atomic_t lastSignal = 0;
volatile std::sig_atomic_t interruptLineFd = -1;
volatile std::sig_atomic_t wakeFd = -1;  // the write end of the pipe that wakes the pump
bool installed = false;
constexpr int kCancellingSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[std::size(kCancellingSignals)]{};

extern "C" void onInterrupt(int number) {
  lastSignal = number;
  interruptCount = interruptCount + 1;
  if (interruptCount < 2) {
    const int fd = wakeFd;
    if (fd >= 0) {
      [[maybe_unused]] const ssize_t written = write(fd, "!", 1);
    }
    return;
  }
  removeTemporaryFilesNow();
  const int fd = interruptLineFd;
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t written = write(fd, "\n", 1);
  }
  _exit(kExitCancelled);
}

}  // namespace

InterruptHandler::InterruptHandler(int lineFd) {
  if (installed) throw std::logic_error("Ctrl-C handling is already installed");
  interruptCount = 0;
  interruptLineFd = lineFd;
  openWakeSocket();
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarting keeps blocking calls elsewhere in the program unaware of the signal.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kCancellingSignals); ++i) {
    sigaction(kCancellingSignals[i], &action, &previousActions[i]);
  }
  installed = true;
}

InterruptHandler::~InterruptHandler() {
  for (std::size_t i = 0; i < std::size(kCancellingSignals); ++i) {
    sigaction(kCancellingSignals[i], &previousActions[i], nullptr);
  }
  interruptCount = 0;
  interruptLineFd = -1;
  wakeFd = -1;
  for (const int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
  installed = false;
}

InterruptCount InterruptHandler::counted() const {
  return {interruptCount, lastSignal};
}

void InterruptHandler::openWakeSocket() {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    wake_[0] = wake_[1] = -1;
    return;
  }
  wakeFd = wake_[1];
}

void InterruptHandler::drainWakeSocket() {
  char drained[16];
  while (::read(wake_[0], drained, sizeof drained) > 0) {
  }
}

std::string cancelledBySignalText(int signalNumber) {
  switch (signalNumber) {
    case SIGTERM:
      return "Quillfen: the run was cancelled by SIGTERM";
    case SIGHUP:
      return "Quillfen: the run was cancelled by SIGHUP";
    default:
      return "Quillfen: the run was cancelled";
  }
}

}  // namespace quillfen
