#include "ui/console_event_pump.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace quillfen {

class ConsoleEventPump::Watch final : public IoWatch {
 public:
  Watch(ConsoleEventPump& pump, IoHandlers handlers) : pump_(pump), handlers_(std::move(handlers)) {
    pump_.watches_.push_back(this);
  }
  ~Watch() override { std::erase(pump_.watches_, this); }

  void watchSocket(int fd, bool forReading, bool forWriting) override {
    const short events = static_cast<short>((forReading ? POLLIN : 0) | (forWriting ? POLLOUT : 0));
    if (events == 0) {
      sockets_.erase(fd);
    } else {
      sockets_[fd] = events;
    }
  }
  void startTimer(std::chrono::milliseconds due) override { timer_ = Clock::now() + due; }
  void stopTimer() override { timer_.reset(); }

  const std::map<int, short>& sockets() const { return sockets_; }
  const std::optional<Clock::time_point>& timer() const { return timer_; }

  void socketReady(int fd, short revents) {
    // A handler that ran before this one may have stopped watching the socket.
    const auto watched = sockets_.find(fd);
    if (watched == sockets_.end() || !handlers_.socketReady) return;
    // An error or hang-up is reported as readiness: the reader finds out what happened.
    const bool failed = (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    handlers_.socketReady(fd, (revents & POLLIN) != 0 || failed,
                          (revents & POLLOUT) != 0 || failed);
  }
  void expireTimerIfDue(Clock::time_point now) {
    if (!timer_ || *timer_ > now) return;
    timer_.reset();
    if (handlers_.timerExpired) handlers_.timerExpired();
  }

 private:
  ConsoleEventPump& pump_;
  IoHandlers handlers_;
  std::map<int, short> sockets_;
  std::optional<Clock::time_point> timer_;
};

void ConsoleEventPump::processEvents() {
  pass(std::chrono::milliseconds(0));
}

void ConsoleEventPump::processEventsWaiting(std::chrono::milliseconds most) {
  pass(most);
}

void ConsoleEventPump::post(std::function<void()> task) {
  pending_.push_back(std::move(task));
}

std::unique_ptr<IoWatch> ConsoleEventPump::watchIo(IoHandlers handlers) {
  return std::make_unique<Watch>(*this, std::move(handlers));
}

void ConsoleEventPump::pass(std::chrono::milliseconds most) {
  handleReadySockets(waitLimit(most));
  handleDueTimers();
  runPostedTasks();
}

// Nothing is waited for while a task is pending, and never beyond the nearest timer.
std::chrono::milliseconds ConsoleEventPump::waitLimit(std::chrono::milliseconds most) const {
  if (!pending_.empty()) return std::chrono::milliseconds(0);
  const auto now = Clock::now();
  for (const Watch* watch : watches_) {
    if (!watch->timer()) continue;
    const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(*watch->timer() - now);
    most = std::clamp(untilDue, std::chrono::milliseconds(0), most);
  }
  return most;
}

// One poll() over every watched socket; a signal that cuts the wait short (Ctrl-C) ends it.
void ConsoleEventPump::handleReadySockets(std::chrono::milliseconds wait) {
  std::vector<pollfd> fds;
  std::vector<Watch*> owners;
  for (Watch* watch : watches_) {
    for (const auto& [fd, events] : watch->sockets()) {
      fds.push_back({fd, events, 0});
      owners.push_back(watch);
    }
  }
  const int ready = poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
  if (ready <= 0) return;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    // A handler may have ended a watch that is still in this list.
    if (std::find(watches_.begin(), watches_.end(), owners[i]) == watches_.end()) continue;
    owners[i]->socketReady(fds[i].fd, fds[i].revents);
  }
}

void ConsoleEventPump::handleDueTimers() {
  const auto now = Clock::now();
  const std::vector<Watch*> current = watches_;
  for (Watch* watch : current) {
    if (std::find(watches_.begin(), watches_.end(), watch) != watches_.end()) {
      watch->expireTimerIfDue(now);
    }
  }
}

void ConsoleEventPump::runPostedTasks() {
  std::deque<std::function<void()>> ready;
  ready.swap(pending_);
  for (auto& task : ready) task();
}

}  // namespace quillfen
