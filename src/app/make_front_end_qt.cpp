#include <cstdlib>

#include "app/make_front_end.h"
#include "ui/console_front_end.h"
#include "ui_qt/qt_front_end.h"

namespace quillfen {

std::unique_ptr<FrontEnd> makeFrontEnd(int& argc, char** argv) {
  const FrontEndRequest request = frontEndRequest(std::getenv("QUILLFEN_UI"));
  const bool tryWindow = request == FrontEndRequest::Gui ||
                         (request == FrontEndRequest::Automatic &&
                          displayNamed(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")));
  if (tryWindow) {
    if (auto window = makeQtFrontEnd(argc, argv)) return window;
    if (request == FrontEndRequest::Gui) warnWindowUnavailable("no display could be opened");
  }
  return ConsoleFrontEnd::onStandardError();
}

}  // namespace quillfen
