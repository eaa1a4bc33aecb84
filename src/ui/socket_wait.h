#pragma once

#include <chrono>
#include <vector>

namespace quillfen {

// One socket of a wait: what is waited for, and what was found.
struct SocketWait {
  int socket = -1;
  bool forReading = false;
  bool forWriting = false;
  bool readable = false;
  bool writable = false;
  bool failed = false;  // an error or hang-up: the reader finds out what happened
};

// Waits until one of `sockets` is ready or `most` has passed (with no socket: just waits), and
// marks what each is ready for. False when nothing is ready: the time passed, or a signal cut
// the wait short.
bool waitForSockets(std::vector<SocketWait>& sockets, std::chrono::milliseconds most);

}  // namespace quillfen
