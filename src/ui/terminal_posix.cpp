#include <sys/ioctl.h>
#include <unistd.h>

#include "ui/terminal.h"

namespace quillfen {

bool isTerminal(int fd) {
  return ::isatty(fd) == 1;
}

int terminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

}  // namespace quillfen
