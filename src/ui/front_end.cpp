#include "ui/front_end.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "ui/terminal.h"

namespace quillfen {

namespace {

bool sameLetters(std::string_view text, std::string_view lowercase) {
  return text.size() == lowercase.size() &&
         std::equal(text.begin(), text.end(), lowercase.begin(),
                    [](char c, char lower) { return (c | 0x20) == lower; });
}

}  // namespace

FrontEndRequest frontEndRequest(const char* quillfenUi) {
  if (quillfenUi == nullptr) return FrontEndRequest::Automatic;
  if (sameLetters(quillfenUi, "console")) return FrontEndRequest::Console;
  if (sameLetters(quillfenUi, "gui")) return FrontEndRequest::Gui;
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
