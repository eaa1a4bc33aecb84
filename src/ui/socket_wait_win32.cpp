#include <winsock2.h>

#include <thread>

#include "ui/socket_wait.h"

namespace quillfen {

// WSAPoll refuses an empty set, so a wait on no socket is a plain sleep.
bool waitForSockets(std::vector<SocketWait>& sockets, std::chrono::milliseconds most) {
  if (sockets.empty()) {
    std::this_thread::sleep_for(most);
    return false;
  }
  std::vector<WSAPOLLFD> fds;
  for (const SocketWait& wait : sockets) {
    const SHORT events =
        static_cast<SHORT>((wait.forReading ? POLLRDNORM : 0) | (wait.forWriting ? POLLWRNORM : 0));
    fds.push_back({static_cast<SOCKET>(wait.socket), events, 0});
  }
  if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), static_cast<INT>(most.count())) <= 0) {
    return false;
  }
  for (std::size_t i = 0; i < fds.size(); ++i) {
    sockets[i].readable = (fds[i].revents & POLLRDNORM) != 0;
    sockets[i].writable = (fds[i].revents & POLLWRNORM) != 0;
    sockets[i].failed = (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  }
  return true;
}

}  // namespace quillfen
