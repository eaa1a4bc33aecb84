#include "ui/front_end.h"

#include <strings.h>

#include <csignal>
#include <iostream>

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

std::string cancelledBySignalText(int signalNumber) {
  switch (signalNumber) {
    case SIGTERM:
      return "Quillfen: the run was cancelled by SIGTERM";
    case SIGHUP:
      return "Quillfen: the run was cancelled by SIGHUP";
    default:
      return "Quillfen: the run was cancelled";
  }
}

void warnWindowUnavailable(const char* why) {
  std::cerr << "Quillfen: QUILLFEN_UI=gui, but " << why << "; using the console\n";
}

}  // namespace quillfen
