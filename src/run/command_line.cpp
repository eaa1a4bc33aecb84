#include "run/command_line.h"

#include <algorithm>
#include <array>

namespace quillfen {

namespace {

constexpr std::array<const char*, 5> kModes = {"/config", "--check", "--dry-run", "--help",
                                               "--version"};

bool namesTheSettingsFile(const std::string& argument) {
  return argument == "-c" || argument == "--config";
}

// Why `others` (the arguments but -c and its file) name no mode; empty when they name one.
std::string modeRefusal(const std::vector<std::string>& others) {
  if (others.empty()) return {};
  std::string joined;
  for (const std::string& argument : others) joined += (joined.empty() ? "" : " ") + argument;
  const bool known =
      others.size() == 1 && std::any_of(kModes.begin(), kModes.end(),
                                        [&](const char* mode) { return others.front() == mode; });
  return known ? std::string() : "unknown argument '" + joined + "'";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  std::vector<std::string> others;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!namesTheSettingsFile(argument)) {
      others.push_back(argument);
      continue;
    }
    if (!line.settingsFile.empty())
      return {{}, {}, argument + ": the settings file is named twice"};
    if (i + 1 == arguments.size() || arguments[i + 1].empty() ||
        arguments[i + 1].starts_with('-')) {
      return {{}, {}, argument + " needs the name of a settings file after it"};
    }
    line.settingsFile = arguments[++i];
  }
  line.refusal = modeRefusal(others);
  if (line.refusal.empty() && !others.empty()) line.mode = others.front();
  return line;
}

}  // namespace quillfen
