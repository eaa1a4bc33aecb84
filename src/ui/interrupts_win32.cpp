#include <io.h>
#include <winsock2.h>  // with windows.h, which must not come first

#include <atomic>
#include <stdexcept>

#include "common/exit_code.h"
#include "common/posix_file.h"
#include "ui/interrupts.h"

namespace quillfen {

namespace {

// The handler runs on a thread of its own that Windows starts for each console event, so the
// counts are atomic; it only ever counts, and the pump keeps its own record of what it acted on.
std::atomic<int> interruptCount{0};
std::atomic<int> lastEvent{0};
std::atomic<int> interruptLineFd{-1};
std::atomic<SOCKET> wakeSender{INVALID_SOCKET};
std::atomic<bool> installed{false};

// Closing the console, logging off and shutting down end the process as soon as the handler
// returns: it waits instead, so that the cancelled run can remove its temporary file and end
// by itself (Windows ends it anyway after some seconds).
bool endsProcessOnReturn(DWORD event) {
  return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  lastEvent = static_cast<int>(event);
  if (++interruptCount < 2) {
    const SOCKET sender = wakeSender;
    if (sender != INVALID_SOCKET) ::send(sender, "!", 1, 0);
    if (endsProcessOnReturn(event)) ::Sleep(INFINITE);
    return TRUE;
  }
  removeTemporaryFilesNow();
  const int fd = interruptLineFd;
  if (fd >= 0) ::_write(fd, "\n", 1);
  ::TerminateProcess(::GetCurrentProcess(), kExitCancelled);
  return TRUE;
}

}  // namespace

InterruptHandler::InterruptHandler(int lineFd) {
  if (installed.exchange(true)) throw std::logic_error("Ctrl-C handling is already installed");
  interruptCount = 0;
  interruptLineFd = lineFd;
  openWakeSocket();
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptHandler::~InterruptHandler() {
  ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  interruptCount = 0;
  interruptLineFd = -1;
  wakeSender = INVALID_SOCKET;
  for (const int socket : wake_) {
    if (socket >= 0) ::closesocket(static_cast<SOCKET>(socket));
  }
  ::WSACleanup();
  installed = false;
}

InterruptCount InterruptHandler::counted() const {
  return {interruptCount, lastEvent};
}

// Windows has no pipe a socket wait can watch: a datagram socket on the loopback address that
// the handler sends one byte to does the same.
void InterruptHandler::openWakeSocket() {
  WSADATA version;
  ::WSAStartup(MAKEWORD(2, 2), &version);
  const SOCKET receiver = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const SOCKET sender = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long nonBlocking = 1;
  if (receiver == INVALID_SOCKET || sender == INVALID_SOCKET ||
      ::bind(receiver, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(sender, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::ioctlsocket(receiver, FIONBIO, &nonBlocking) != 0) {
    if (receiver != INVALID_SOCKET) ::closesocket(receiver);
    if (sender != INVALID_SOCKET) ::closesocket(sender);
    return;
  }
  wake_[0] = static_cast<int>(receiver);
  wake_[1] = static_cast<int>(sender);
  wakeSender = sender;
}

void InterruptHandler::drainWakeSocket() {
  char drained[16];
  while (::recv(static_cast<SOCKET>(wake_[0]), drained, sizeof drained, 0) > 0) {
  }
}

std::string cancelledBySignalText(int signalNumber) {
  switch (signalNumber) {
    case CTRL_CLOSE_EVENT:
      return "Quillfen: the run was cancelled: its console was closed";
    case CTRL_LOGOFF_EVENT:
      return "Quillfen: the run was cancelled by the user's log-off";
    case CTRL_SHUTDOWN_EVENT:
      return "Quillfen: the run was cancelled by the shutdown of Windows";
    default:
      return "Quillfen: the run was cancelled";
  }
}

}  // namespace quillfen
