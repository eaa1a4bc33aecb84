#include "ui/ctrl_c_cancel_pump.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <iterator>
#include <stdexcept>

#include "common/exit_code.h"
#include "common/posix_file.h"

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

CtrlCCancelPump::CtrlCCancelPump(EventPump& inner, PressCancel pressCancel, int lineFd)
    : inner_(inner), pressCancel_(std::move(pressCancel)) {
  if (installed) throw std::logic_error("Ctrl-C handling is already installed");
  interruptCount = 0;
  interruptLineFd = lineFd;
  watchWakePipe();
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

CtrlCCancelPump::~CtrlCCancelPump() {
  for (std::size_t i = 0; i < std::size(kCancellingSignals); ++i) {
    sigaction(kCancellingSignals[i], &previousActions[i], nullptr);
  }
  interruptCount = 0;
  interruptLineFd = -1;
  wakeFd = -1;
  watch_.reset();
  for (const int fd : wakePipe_) {
    if (fd >= 0) ::close(fd);
  }
  installed = false;
}

// Whatever loop the front end runs (a modal message box's own, too) serves the watched pipe, so
// a signal presses Cancel there and then, not only at the run's next pass of events.
void CtrlCCancelPump::watchWakePipe() {
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    wakePipe_[0] = wakePipe_[1] = -1;
    return;  // the run's own passes still see every signal
  }
  watch_ = inner_.watchIo({[this](int fd, bool, bool) {
                             char drained[16];
                             while (::read(fd, drained, sizeof drained) > 0) {
                             }
                             pressCancelOnNewInterrupt();
                           },
                           nullptr});
  watch_->watchSocket(wakePipe_[0], true, false);
  wakeFd = wakePipe_[1];
}

void CtrlCCancelPump::pressCancelOnNewInterrupt() {
  if (interruptCount > handled_) {
    handled_ = interruptCount;
    if (pressCancel_) pressCancel_(lastSignal);
  }
}

void CtrlCCancelPump::processEvents() {
  pressCancelOnNewInterrupt();
  inner_.processEvents();
}

void CtrlCCancelPump::processEventsWaiting(std::chrono::milliseconds most) {
  pressCancelOnNewInterrupt();
  inner_.processEventsWaiting(most);
  pressCancelOnNewInterrupt();
}

void CtrlCCancelPump::post(std::function<void()> task) {
  inner_.post(std::move(task));
}

std::unique_ptr<IoWatch> CtrlCCancelPump::watchIo(IoHandlers handlers) {
  return inner_.watchIo(std::move(handlers));
}

}  // namespace quillfen
