#include "ui/console_event_pump.h"

#include <algorithm>

#include "ui/socket_wait.h"

namespace quillfen {

class ConsoleEventPump::Watch final : public IoWatch {
 public:
  Watch(ConsoleEventPump& pump, IoHandlers handlers) : pump_(pump), handlers_(std::move(handlers)) {
    pump_.watches_.push_back(this);
  }
  ~Watch() override { std::erase(pump_.watches_, this); }

  void watchSocket(int fd, bool forReading, bool forWriting) override {
    if (!forReading && !forWriting) {
      sockets_.erase(fd);
    } else {
      sockets_[fd] = {fd, forReading, forWriting};
    }
  }
  void startTimer(std::chrono::milliseconds due) override { timer_ = Clock::now() + due; }
  void stopTimer() override { timer_.reset(); }

  const std::map<int, SocketWait>& sockets() const { return sockets_; }
  const std::optional<Clock::time_point>& timer() const { return timer_; }

  void socketReady(const SocketWait& ready) {
    // A handler that ran before this one may have stopped watching the socket.
    const auto watched = sockets_.find(ready.socket);
    if (watched == sockets_.end() || !handlers_.socketReady) return;
    // An error or hang-up is reported as readiness: the reader finds out what happened.
    handlers_.socketReady(ready.socket, ready.readable || ready.failed,
                          ready.writable || ready.failed);
  }
  void expireTimerIfDue(Clock::time_point now) {
    if (!timer_ || *timer_ > now) return;
    timer_.reset();
    if (handlers_.timerExpired) handlers_.timerExpired();
  }

 private:
  ConsoleEventPump& pump_;
  IoHandlers handlers_;
  std::map<int, SocketWait> sockets_;
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

// One wait over every watched socket; a signal that cuts the wait short (Ctrl-C) ends it.
void ConsoleEventPump::handleReadySockets(std::chrono::milliseconds wait) {
  std::vector<SocketWait> sockets;
  std::vector<Watch*> owners;
  for (Watch* watch : watches_) {
    for (const auto& [fd, socket] : watch->sockets()) {
      sockets.push_back(socket);
      owners.push_back(watch);
    }
  }
  if (!waitForSockets(sockets, wait)) return;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    const SocketWait& ready = sockets[i];
    if (!ready.readable && !ready.writable && !ready.failed) continue;
    // A handler may have ended a watch that is still in this list.
    if (std::find(watches_.begin(), watches_.end(), owners[i]) == watches_.end()) continue;
    owners[i]->socketReady(ready);
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
