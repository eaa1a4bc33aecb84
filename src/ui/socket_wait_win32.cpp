#include <winsock2.h>  // with windows.h, which must not come first

#include <algorithm>

#include "ui/socket_wait.h"

namespace quillfen {

namespace {

// How long one look at the sockets lasts before the window messages are looked at again:
// short enough that the window repaints and its Cancel button answers at once.
constexpr std::chrono::milliseconds kSlice(10);

// The thread's window messages (the window's paint, clicks and keys, when it has one); true
// when there was one.
bool dispatchWindowMessages() {
  bool dispatched = false;
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
    dispatched = true;
  }
  return dispatched;
}

// WSAPoll refuses an empty set: a wait on no socket waits for a window message only.
bool pollSockets(std::vector<SocketWait>& sockets, std::chrono::milliseconds most) {
  if (sockets.empty()) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(most.count()), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
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

}  // namespace

// A window on Windows is served by the thread that made it, and this thread waits here while
// libcurl waits for its sockets: the wait looks at the sockets in short slices and dispatches
// the window messages between them. A dispatched message ends the wait, so that what it did
// (Cancel pressed) is acted on at once.
bool waitForSockets(std::vector<SocketWait>& sockets, std::chrono::milliseconds most) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + most;
  for (;;) {
    const bool dispatched = dispatchWindowMessages();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const auto slice = dispatched ? std::chrono::milliseconds(0)
                                  : std::clamp(left, std::chrono::milliseconds(0), kSlice);
    if (pollSockets(sockets, slice)) return true;
    if (dispatched || left <= slice) return false;
  }
}

}  // namespace quillfen
