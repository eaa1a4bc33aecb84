#include "ui_win32/desktop.h"

#include <windows.h>

namespace quillfen {

namespace {

DWORD consoleProcessCount() {
  DWORD processes[2];
  return ::GetConsoleProcessList(processes, 2);
}

}  // namespace

bool isDesktopVisible() {
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station == nullptr ||
      ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) == 0) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool startedFromConsole() {
  return consoleProcessCount() > 1;
}

void leaveOwnConsole() {
  if (::GetConsoleWindow() != nullptr && consoleProcessCount() == 1) ::FreeConsole();
}

}  // namespace quillfen
