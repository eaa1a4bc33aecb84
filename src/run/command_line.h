#pragma once

#include <string>
#include <vector>

namespace quillfen {

// What the arguments after the program's name ask for.
struct CommandLine {
  // "" (a run), "/config", "--check", "--dry-run", "--help" or "--version".
  std::string mode;
  // The FILE of "-c FILE" or "--config FILE", as given; empty when Config.ini beside the
  // executable is the one.
  std::string settingsFile;
  // Why the arguments allow nothing, for standard error; empty when they are fine.
  std::string refusal;
};

// Reads "-c FILE" / "--config FILE" (once, anywhere) and at most one mode. A run deletes today's
// folder and prunes, so anything else refuses the whole line: an unknown or empty argument, a
// second mode, -c without a file, a second -c, a FILE that starts with "-" (an option slipped
// into its place, e.g. "-c --check").
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace quillfen
