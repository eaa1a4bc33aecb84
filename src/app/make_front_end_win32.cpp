#include <cstdlib>

#include "app/make_front_end.h"
#include "ui/console_front_end.h"
#include "ui_win32/desktop.h"
#include "ui_win32/win32_front_end.h"

namespace quillfen {

// One program, two faces: started from a console (which then waits for it and reads its exit
// code), or where no one can see a window, it is a console program; started on a desktop
// otherwise (Explorer, a task of the logged-on user) it shows the window and lets the console
// that Windows made for it go.
std::unique_ptr<FrontEnd> makeFrontEnd(int&, char**) {
  const FrontEndRequest request = frontEndRequest(std::getenv("QUILLFEN_UI"));
  if (request == FrontEndRequest::Automatic) {
    if (!isDesktopVisible() || startedFromConsole()) return ConsoleFrontEnd::onStandardError();
    leaveOwnConsole();
  }
  if (request == FrontEndRequest::Console) return ConsoleFrontEnd::onStandardError();
  return makeWin32FrontEnd();
}

}  // namespace quillfen
