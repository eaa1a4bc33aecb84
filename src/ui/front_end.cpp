#include "ui/front_end.h"

#include <iostream>
#include <string_view>

#include "common/text.h"
#include "ui/terminal.h"

namespace quillfen {

FrontEndRequest frontEndRequest(const char* quillfenUi) {
  if (quillfenUi == nullptr) return FrontEndRequest::Automatic;
  if (sameIgnoringAsciiCase(quillfenUi, "console")) return FrontEndRequest::Console;
  if (sameIgnoringAsciiCase(quillfenUi, "gui")) return FrontEndRequest::Gui;
  return FrontEndRequest::Automatic;
}

bool displayNamed(const char* display, const char* waylandDisplay) {
  const auto named = [](const char* value) { return value != nullptr && *value != '\0'; };
  return named(display) || named(waylandDisplay);
}

void showReportOnTerminal(const std::string& report) {
  if (isTerminal(kStandardOutput)) std::cout << report << std::flush;
}

void warnWindowUnavailable(const char* why) {
  std::cerr << "Quillfen: QUILLFEN_UI=gui, but " << why << "; using the console\n";
}

}  // namespace quillfen
