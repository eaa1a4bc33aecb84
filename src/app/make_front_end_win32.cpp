#include <cstdlib>

#include "app/make_front_end.h"
#include "process/system_log.h"
#include "ui/console_front_end.h"
#include "ui_win32/desktop.h"
#include "ui_win32/win32_front_end.h"

namespace quillfen {

namespace {

// Without a visible desktop (a task that runs whether the user is logged on or not) standard
// error may well go nowhere: the messages go to the event log as well, as the window's boxes
// do there.
std::unique_ptr<FrontEnd> consoleFrontEnd(bool desktopVisible) {
  auto frontEnd = ConsoleFrontEnd::onStandardError();
  static HostSystemLog eventLog;
  if (!desktopVisible) frontEnd->recordMessagesIn(eventLog);
  return frontEnd;
}

}  // namespace

// One program, two faces: started from a console (which then waits for it and reads its exit
// code), or where no one can see a window, it is a console program; started on a desktop
// otherwise (Explorer, a task of the logged-on user) it shows the window and lets the console
// that Windows made for it go.
std::unique_ptr<FrontEnd> makeFrontEnd(int&, char**) {
  const FrontEndRequest request = frontEndRequest(std::getenv("QUILLFEN_UI"));
  const bool desktopVisible = isDesktopVisible();
  if (request == FrontEndRequest::Automatic) {
    if (!desktopVisible || startedFromConsole()) return consoleFrontEnd(desktopVisible);
    leaveOwnConsole();
  }
  if (request == FrontEndRequest::Console) return consoleFrontEnd(desktopVisible);
  return makeWin32FrontEnd();
}

}  // namespace quillfen
