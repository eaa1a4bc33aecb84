#include <cstdlib>
#include <iostream>

#include "ui/console_front_end.h"
#include "ui/front_end.h"
#ifdef QUILLFEN_HAVE_GUI
#include "ui/qt_front_end.h"
#endif

namespace quillfen {

namespace {

void warnWindowUnavailable(const char* why) {
  std::cerr << "Quillfen: QUILLFEN_UI=gui, but " << why << "; using the console\n";
}

}  // namespace

std::unique_ptr<FrontEnd> makeFrontEnd(int& argc, char** argv) {
  const FrontEndRequest request = frontEndRequest(std::getenv("QUILLFEN_UI"));
#ifdef QUILLFEN_HAVE_GUI
  const bool tryWindow = request == FrontEndRequest::Gui ||
                         (request == FrontEndRequest::Automatic &&
                          displayNamed(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")));
  if (tryWindow) {
    if (auto window = makeQtFrontEnd(argc, argv)) return window;
    if (request == FrontEndRequest::Gui) warnWindowUnavailable("no display could be opened");
  }
#else
  (void)argc;
  (void)argv;
  if (request == FrontEndRequest::Gui) warnWindowUnavailable("this build has no window");
#endif
  return ConsoleFrontEnd::onStandardError();
}

}  // namespace quillfen
