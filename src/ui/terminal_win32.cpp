#include <io.h>
#include <windows.h>

#include "ui/terminal.h"

namespace quillfen {

namespace {

HANDLE handleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

}  // namespace

// _isatty() would also take the NUL device for a terminal; only a console has a console mode.
bool isTerminal(int fd) {
  DWORD mode = 0;
  if (::GetConsoleMode(handleOf(fd), &mode) == 0) return false;
  ::SetConsoleOutputCP(CP_UTF8);
  return true;
}

int terminalColumns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(handleOf(fd), &info) == 0) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 80;
}

}  // namespace quillfen
