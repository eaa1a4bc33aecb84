#include <poll.h>

#include "ui/socket_wait.h"

namespace quillfen {

bool waitForSockets(std::vector<SocketWait>& sockets, std::chrono::milliseconds most) {
  std::vector<pollfd> fds;
  for (const SocketWait& wait : sockets) {
    const short events =
        static_cast<short>((wait.forReading ? POLLIN : 0) | (wait.forWriting ? POLLOUT : 0));
    fds.push_back({wait.socket, events, 0});
  }
  if (poll(fds.data(), fds.size(), static_cast<int>(most.count())) <= 0) return false;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    sockets[i].readable = (fds[i].revents & POLLIN) != 0;
    sockets[i].writable = (fds[i].revents & POLLOUT) != 0;
    sockets[i].failed = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  }
  return true;
}

}  // namespace quillfen
