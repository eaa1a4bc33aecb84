#include "ui/front_end.h"

#include <strings.h>

namespace quillfen {

FrontEndRequest frontEndRequest(const char* quillfenUi) {
  if (quillfenUi == nullptr) return FrontEndRequest::Automatic;
  if (strcasecmp(quillfenUi, "console") == 0) return FrontEndRequest::Console;
  if (strcasecmp(quillfenUi, "gui") == 0) return FrontEndRequest::Gui;
  return FrontEndRequest::Automatic;
}

bool displayNamed(const char* display, const char* waylandDisplay) {
  const auto named = [](const char* value) { return value != nullptr && *value != '\0'; };
  return named(display) || named(waylandDisplay);
}

}  // namespace quillfen
