#include <cstdlib>

#include "app/make_front_end.h"
#include "ui/console_front_end.h"

namespace quillfen {

std::unique_ptr<FrontEnd> makeFrontEnd(int&, char**) {
  if (frontEndRequest(std::getenv("QUILLFEN_UI")) == FrontEndRequest::Gui) {
    warnWindowUnavailable("this build has no window");
  }
  return ConsoleFrontEnd::onStandardError();
}

}  // namespace quillfen
